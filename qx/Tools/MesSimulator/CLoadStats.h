#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace MES_SIM {

// Bookkeeping of a job feed: when each numbered job went out, which came back and how fast.
struct CLoadStats {
    using Clock = std::chrono::steady_clock;

    enum ANSWER { ANSWER_FIRST, ANSWER_DUPLICATE, ANSWER_UNKNOWN };

    struct SUMMARY {
        int64_t m_Sent = 0;
        int64_t m_Answered = 0;
        int64_t m_Duplicates = 0;
        int64_t m_Unknown = 0;
        // Sent again after their connection was given up unanswered.
        int64_t m_Resent = 0;
        double m_Seconds = 0.0;
        double m_JobsPerSecond = 0.0;
        // Milliseconds from the job's notification to its "Print" call; 0 without answers.
        double m_P50 = 0.0;
        double m_P99 = 0.0;
        double m_Max = 0.0;
    };

    // Numbers start at 1 and grow by one per job.
    int64_t Send(Clock::time_point now);
    // A job sent again: its latency counts from now. False when it is answered already.
    bool Resend(int64_t number, Clock::time_point now);
    ANSWER Answer(int64_t number, Clock::time_point now);
    // Ascending.
    std::vector<int64_t> Unanswered() const;
    int64_t Outstanding() const { return m_Sent - m_Answered; }
    int64_t Sent() const { return m_Sent; }
    int64_t Answered() const { return m_Answered; }
    SUMMARY Summary() const;
    static std::string Format(const SUMMARY& summary);

    // The job number a printer name carries ("<prefix> #<n>"); 0 when it carries none.
    static std::string PrinterName(const std::string& prefix, int64_t number);
    static int64_t NumberOf(const std::string& printerName);

private:
    std::map<int64_t, Clock::time_point> m_Pending;
    std::vector<double> m_Latencies;
    int64_t m_Sent = 0;
    int64_t m_Answered = 0;
    int64_t m_Duplicates = 0;
    int64_t m_Unknown = 0;
    int64_t m_Resent = 0;
    Clock::time_point m_First;
    Clock::time_point m_Last;
};

}  // namespace MES_SIM
