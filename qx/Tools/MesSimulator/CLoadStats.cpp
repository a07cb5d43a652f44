#include "MesSimulator/CLoadStats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace MES_SIM {

namespace {

// Nearest rank of a sorted sample.
double Percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty())
        return 0.0;
    const auto rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

}  // namespace

int64_t CLoadStats::Send(Clock::time_point now) {
    if (m_Sent == 0)
        m_First = now;
    ++m_Sent;
    m_Pending.emplace(m_Sent, now);
    return m_Sent;
}

bool CLoadStats::Resend(int64_t number, Clock::time_point now) {
    const auto it = m_Pending.find(number);
    if (it == m_Pending.end())
        return false;
    it->second = now;
    ++m_Resent;
    return true;
}

std::vector<int64_t> CLoadStats::Unanswered() const {
    std::vector<int64_t> numbers;
    numbers.reserve(m_Pending.size());
    for (const auto& pending : m_Pending)
        numbers.push_back(pending.first);
    return numbers;
}

CLoadStats::ANSWER CLoadStats::Answer(int64_t number, Clock::time_point now) {
    if (number < 1 || number > m_Sent) {
        ++m_Unknown;
        return ANSWER_UNKNOWN;
    }
    const auto it = m_Pending.find(number);
    if (it == m_Pending.end()) {
        ++m_Duplicates;
        return ANSWER_DUPLICATE;
    }
    m_Latencies.push_back(std::chrono::duration<double, std::milli>(now - it->second).count());
    m_Pending.erase(it);
    ++m_Answered;
    m_Last = now;
    return ANSWER_FIRST;
}

CLoadStats::SUMMARY CLoadStats::Summary() const {
    SUMMARY summary;
    summary.m_Sent = m_Sent;
    summary.m_Answered = m_Answered;
    summary.m_Duplicates = m_Duplicates;
    summary.m_Unknown = m_Unknown;
    summary.m_Resent = m_Resent;
    if (m_Answered > 0) {
        summary.m_Seconds = std::chrono::duration<double>(m_Last - m_First).count();
        if (summary.m_Seconds > 0.0)
            summary.m_JobsPerSecond = static_cast<double>(m_Answered) / summary.m_Seconds;
    }
    std::vector<double> sorted = m_Latencies;
    std::sort(sorted.begin(), sorted.end());
    summary.m_P50 = Percentile(sorted, 0.50);
    summary.m_P99 = Percentile(sorted, 0.99);
    summary.m_Max = sorted.empty() ? 0.0 : sorted.back();
    return summary;
}

std::string CLoadStats::Format(const SUMMARY& s) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "sent %lld answered %lld duplicates %lld unknown %lld resent %lld seconds %.2f "
                  "jobs/s %.1f p50 %.2f ms p99 %.2f ms max %.2f ms",
                  static_cast<long long>(s.m_Sent), static_cast<long long>(s.m_Answered),
                  static_cast<long long>(s.m_Duplicates), static_cast<long long>(s.m_Unknown),
                  static_cast<long long>(s.m_Resent), s.m_Seconds, s.m_JobsPerSecond, s.m_P50,
                  s.m_P99, s.m_Max);
    return text;
}

std::string CLoadStats::PrinterName(const std::string& prefix, int64_t number) {
    return prefix + " #" + std::to_string(number);
}

int64_t CLoadStats::NumberOf(const std::string& printerName) {
    const auto hash = printerName.rfind(" #");
    if (hash == std::string::npos || hash + 2 >= printerName.size())
        return 0;
    int64_t number = 0;
    for (size_t i = hash + 2; i < printerName.size(); ++i) {
        const char c = printerName[i];
        if (c < '0' || c > '9' || number > (INT64_MAX - 9) / 10)
            return 0;
        number = number * 10 + (c - '0');
    }
    return number;
}

}  // namespace MES_SIM
