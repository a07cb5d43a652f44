#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "MesSimulator/CFaultPlan.h"
#include "MesSimulator/CLoadStats.h"
#include "MesSimulator/CStallClock.h"
#include "MesSimulator/SimOptions.h"

namespace MES_SIM {

struct CConnection;
struct CGatewayLinks;
struct CMesDialogue;

// The job feed of a load run: numbered copies of one job, each matched to its "Print" call,
// at most a window of them in flight and at most a rate per second. A soak run measures a
// warm-up that ends with a flood, then injects the fault plan's faults while the feed runs,
// then settles. Jobs left unanswered on a connection that was made deaf go out again, first,
// on the next one. Every member runs on the io thread.
struct CLoadFeed {
    using Clock = CLoadStats::Clock;

    // stop ends the simulator once a plain load run is done.
    CLoadFeed(boost::asio::io_context& io, CGatewayLinks& links, CMesDialogue& dialogue,
              OPTIONS options, std::function<void()> stop);

    // Feeds copies of job once its format is registered.
    void Start(nlohmann::json job);
    void OnRegistered();
    void OnAnswer(const nlohmann::json& call);
    // The commands "go" (start the soak's faults), "status" and "fault KIND".
    void Go();
    void Status();
    void Fault(const std::string& kind);
    // A connection opened or closed.
    void OnLinkChanged();
    // True while a burst drops each newly accepted connection.
    bool DropsNewConnection();
    // Sends nothing more; a load run that did not finish reports its figures.
    void Stop();
    // True once the feed stopped for want of progress.
    bool Failed() const { return m_Failed; }

    // The line a feed stops with after idle without an answer, given what it waits for; empty
    // while it may wait on.
    static std::string Stalled(Clock::duration idle, std::chrono::seconds limit, bool connected,
                               bool registered, int64_t unanswered, const std::string& format);

private:
    enum SOAK_PHASE { SOAK_NONE, SOAK_WARMUP, SOAK_WAIT_GO, SOAK_FAULTS, SOAK_SETTLE, SOAK_DONE };

    bool Ready() const;
    std::string Format() const;
    int64_t InFlight() const;
    nlohmann::json Job(int64_t number) const;
    void Feed();
    void SendJob();
    void ScheduleFault();
    void OnFaultDue();
    void Due();
    void ApplyFault();
    void Flood(const std::shared_ptr<CConnection>& connection);
    void SendEmptyFrames();
    void Dense(const std::shared_ptr<CConnection>& connection);
    void ResendAfterDrop(const std::shared_ptr<CConnection>& connection);
    void Settle();
    void WatchProgress();

    CGatewayLinks& m_Links;
    CMesDialogue& m_Dialogue;
    OPTIONS m_Options;
    std::function<void()> m_Stop;
    nlohmann::json m_Job;
    CLoadStats m_Stats;
    // Unanswered jobs that go out again before any new one.
    std::set<int64_t> m_Resend;
    bool m_Stopped = false;
    // The feed sends while it is not held and fewer than m_Limit jobs went out.
    int64_t m_Limit = 0;
    bool m_Held = false;
    bool m_Done = false;
    bool m_TimerArmed = false;
    CLoadStats::Clock::time_point m_NextSend;
    boost::asio::steady_timer m_Timer;
    SOAK_PHASE m_Soak = SOAK_NONE;
    // The warm-up ends with deaf connections' floods; how many have been sent.
    int m_WarmFloods = 0;
    CLoadStats::Clock::time_point m_SoakEnd;
    CFaultPlan m_Faults;
    // A fault that waits for the gateway to be registered or for its jobs in flight.
    bool m_FaultPending = false;
    CFaultPlan::FAULT m_Fault;
    std::map<std::string, int> m_FaultCounts;
    // Connections a burst still drops as soon as they are accepted.
    int m_DropNext = 0;
    // Answers to a flood's jobs, which can only come on a later connection.
    int64_t m_FloodAnswers = 0;
    int64_t m_DenseAnswers = 0;
    // The connection an empty fault sends to while it is current, what is left to send and
    // until when.
    std::weak_ptr<CConnection> m_EmptyTo;
    int64_t m_EmptyLeft = 0;
    int64_t m_EmptySent = 0;
    CLoadStats::Clock::time_point m_EmptyUntil;
    boost::asio::steady_timer m_EmptyTimer;
    boost::asio::steady_timer m_FaultTimer;
    CStallClock m_Clock;
    bool m_Failed = false;
    boost::asio::steady_timer m_StallTimer;
};

}  // namespace MES_SIM
