#include "MesSimulator/CLoadFeed.h"

#include <algorithm>

#include "MesSimulator/CConnection.h"
#include "MesSimulator/CGatewayLinks.h"
#include "MesSimulator/CMesDialogue.h"

using nlohmann::json;

namespace MES_SIM {

namespace {

const char kPrinterPrefix[] = "Load";
// A flood's jobs are the fault's payload, not the feed's: given up with their connection.
const char kFloodPrefix[] = "Flood";
// So are a dense fault's jobs: a gateway may answer or refuse them.
const char kDensePrefix[] = "Dense";
const int kDenseJobs = 3;
// Empty frames queued on the connection at a time, and how often the queue is topped up.
const size_t kEmptyBatch = 4096;
const auto kEmptyPoll = std::chrono::milliseconds(1);
// Answers between two progress lines.
const int64_t kProgressEvery = 1000;
// How far a paced feed may catch up after a pause.
const auto kCatchUp = std::chrono::milliseconds(10);
// Connections a burst asked for by hand drops.
const int kBurstByHand = 3;
// Floods before the soak's baseline: the gateway's memory rises after the first two and stays
// flat from the third on, as the allocator keeps what the peaks took.
const int kWarmFloods = 3;

std::string FaultCounts(const std::map<std::string, int>& counts) {
    std::string text;
    for (const auto& [name, count] : counts)
        text += " " + name + " " + std::to_string(count);
    return text.empty() ? " none" : text;
}

}  // namespace

CLoadFeed::CLoadFeed(boost::asio::io_context& io, CGatewayLinks& links, CMesDialogue& dialogue,
                     OPTIONS options, std::function<void()> stop)
    : m_Links(links),
      m_Dialogue(dialogue),
      m_Options(std::move(options)),
      m_Stop(std::move(stop)),
      m_Timer(io),
      m_Faults(m_Options.m_Seed, std::chrono::milliseconds(m_Options.m_FaultEveryMs)),
      m_EmptyTimer(io),
      m_FaultTimer(io),
      m_Clock(Clock::now()),
      m_StallTimer(io) {}

void CLoadFeed::Start(json job) {
    m_Job = std::move(job);
    m_Limit = m_Options.m_Load;
    if (m_Options.m_SoakSeconds > 0)
        m_Soak = SOAK_WARMUP;
    m_Clock.Progress(Clock::now());
    WatchProgress();
}

std::string CLoadFeed::Stalled(Clock::duration idle, std::chrono::seconds limit, bool connected,
                               bool registered, int64_t unanswered, const std::string& format) {
    if (idle < limit)
        return {};
    const std::string waiting = !connected    ? "a gateway to connect"
                                : !registered ? "the registration of " + format
                                : unanswered > 0
                                    ? "the answers to " + std::to_string(unanswered) + " jobs"
                                    : "a fault to be applied";
    return "load: no progress for " + std::to_string(limit.count()) + " s, waiting for " + waiting;
}

// Once a second; a soak waiting for "go" or done with its faults waits for nothing.
void CLoadFeed::WatchProgress() {
    m_StallTimer.expires_after(std::chrono::seconds(1));
    m_StallTimer.async_wait([this](const boost::system::error_code& ec) {
        if (ec || m_Stopped)
            return;
        const auto now = Clock::now();
        if (m_Soak == SOAK_WAIT_GO || m_Soak == SOAK_DONE)
            m_Clock.Progress(now);
        const std::string stalled = Stalled(
            m_Clock.Idle(now), std::chrono::seconds(m_Options.m_StallSeconds),
            m_Links.Current() != nullptr, m_Dialogue.IsRegistered(Format()), InFlight(), Format());
        if (stalled.empty()) {
            WatchProgress();
            return;
        }
        m_Failed = true;
        m_Links.Info(stalled);
        m_Stop();
    });
}

std::string CLoadFeed::Format() const {
    return m_Dialogue.ResolveFormat(m_Job.value("FormatFilename", std::string()));
}

int64_t CLoadFeed::InFlight() const {
    return m_Stats.Outstanding() - static_cast<int64_t>(m_Resend.size());
}

json CLoadFeed::Job(int64_t number) const {
    json job = m_Job;
    job["FormatFilename"] = Format();
    job["PrinterName"] = CLoadStats::PrinterName(kPrinterPrefix, number);
    return job;
}

void CLoadFeed::OnLinkChanged() {
    m_Clock.SetCurrent(Clock::now(), m_Links.Current() != nullptr);
}

bool CLoadFeed::DropsNewConnection() {
    if (m_DropNext == 0)
        return false;
    --m_DropNext;
    m_Clock.Attempted(Clock::now());
    return true;
}

bool CLoadFeed::Ready() const {
    return !m_Stopped && m_Links.Current() && m_Dialogue.IsRegistered(Format());
}

void CLoadFeed::OnRegistered() {
    if (!Ready())
        return;
    if (m_FaultPending)
        ApplyFault();
    Feed();
}

void CLoadFeed::Feed() {
    const double rate = m_Options.m_Rate;
    while (!m_Held && Ready() && (!m_Resend.empty() || m_Stats.Sent() < m_Limit) &&
           InFlight() < m_Options.m_Window) {
        const auto now = Clock::now();
        if (rate > 0.0 && now < m_NextSend) {
            if (!m_TimerArmed) {
                m_TimerArmed = true;
                m_Timer.expires_at(m_NextSend);
                m_Timer.async_wait([this](const boost::system::error_code& ec) {
                    m_TimerArmed = false;
                    if (!ec)
                        Feed();
                });
            }
            return;
        }
        if (rate > 0.0) {
            const auto period = std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(1.0 / rate));
            m_NextSend = std::max(m_NextSend, now - kCatchUp) + period;
        }
        SendJob();
    }
}

void CLoadFeed::SendJob() {
    const auto now = Clock::now();
    int64_t number = 0;
    if (m_Resend.empty()) {
        number = m_Stats.Send(now);
    } else {
        number = *m_Resend.begin();
        m_Resend.erase(m_Resend.begin());
        m_Stats.Resend(number, now);
    }
    m_Dialogue.SendPrint(Job(number));
}

void CLoadFeed::OnAnswer(const json& call) {
    const auto job = call.find("Job");
    const std::string printer =
        job != call.end() && job->is_object() ? job->value("PrinterName", std::string()) : "";
    if (printer.rfind(kFloodPrefix, 0) == 0) {
        ++m_FloodAnswers;
        return;
    }
    if (printer.rfind(kDensePrefix, 0) == 0) {
        ++m_DenseAnswers;
        return;
    }
    const int64_t number = CLoadStats::NumberOf(printer);
    const auto answer = m_Stats.Answer(number, Clock::now());
    if (answer == CLoadStats::ANSWER_FIRST) {
        m_Clock.Progress(Clock::now());
        m_Resend.erase(number);
    }
    if (answer == CLoadStats::ANSWER_DUPLICATE)
        m_Links.Info("load: job " + std::to_string(number) + " answered again");
    if (answer == CLoadStats::ANSWER_UNKNOWN)
        m_Links.Info("load: answer for no job sent: '" + printer + "'");
    if (answer == CLoadStats::ANSWER_FIRST && m_Stats.Answered() % kProgressEvery == 0)
        m_Links.Info("load: " + std::to_string(m_Stats.Answered()) + " answered");

    if (m_FaultPending && m_Held) {
        if (InFlight() == 0)
            ApplyFault();
    } else if (m_Stats.Outstanding() == 0 && m_Stats.Answered() >= m_Limit) {
        const std::string summary = CLoadStats::Format(m_Stats.Summary());
        if (m_Soak == SOAK_WARMUP && m_WarmFloods < kWarmFloods) {
            // Floods leave the allocator's high-water mark behind for good: the baseline is
            // taken after some and a window of jobs answered on the next connection, so that
            // the soak measures growth.
            ++m_WarmFloods;
            m_Limit = m_Stats.Sent() + m_Options.m_Window;
            m_Fault = CFaultPlan::FAULT();
            m_Fault.m_Kind = CFaultPlan::KIND_DEAF;
            ApplyFault();
        } else if (m_Soak == SOAK_WARMUP) {
            m_Soak = SOAK_WAIT_GO;
            m_Links.Info("soak: warmed up, " + summary);
        } else if (m_Soak == SOAK_SETTLE) {
            m_Soak = SOAK_DONE;
            m_Links.Info("soak: faults" + FaultCounts(m_FaultCounts) +
                         ", flood jobs answered on a later connection " +
                         std::to_string(m_FloodAnswers) + ", dense jobs answered " +
                         std::to_string(m_DenseAnswers));
            m_Links.Info("soak: settled, " + summary);
        } else if (m_Soak == SOAK_NONE) {
            m_Done = true;
            m_Links.Info("load: done, " + summary);
            m_Stop();
            return;
        }
    }
    Feed();
}

void CLoadFeed::Go() {
    if (m_Soak != SOAK_WAIT_GO) {
        m_Links.Info("go: no soak is waiting");
        return;
    }
    m_Soak = SOAK_FAULTS;
    m_Clock.Progress(Clock::now());
    m_SoakEnd = Clock::now() + std::chrono::seconds(m_Options.m_SoakSeconds);
    m_Limit = INT64_MAX;
    m_Links.Info("soak: faults for " + std::to_string(m_Options.m_SoakSeconds) + " s, seed " +
                 std::to_string(m_Options.m_Seed));
    ScheduleFault();
    Feed();
}

void CLoadFeed::Status() {
    m_Links.Info("load: " + CLoadStats::Format(m_Stats.Summary()) + ", unanswered " +
                 std::to_string(m_Stats.Outstanding()));
}

void CLoadFeed::Fault(const std::string& kind) {
    CFaultPlan::FAULT fault;
    if (!CFaultPlan::KindOf(kind, fault.m_Kind)) {
        m_Links.Info("fault: no such kind: " + kind);
        return;
    }
    if (m_Options.m_Load == 0 || m_Soak == SOAK_FAULTS || m_FaultPending) {
        m_Links.Info("fault: only into a job feed without another fault under way");
        return;
    }
    fault.m_Count = kBurstByHand;
    m_Fault = fault;
    Due();
}

void CLoadFeed::Stop() {
    m_Stopped = true;
    if (m_Options.m_Load > 0 && !m_Done)
        m_Links.Info("load: stopped, " + CLoadStats::Format(m_Stats.Summary()));
    m_Timer.cancel();
    m_FaultTimer.cancel();
    m_StallTimer.cancel();
    m_EmptyTimer.cancel();
}

void CLoadFeed::ScheduleFault() {
    m_Fault = m_Faults.Next();
    m_FaultTimer.expires_after(m_Fault.m_Delay);
    m_FaultTimer.async_wait([this](const boost::system::error_code& ec) {
        if (!ec)
            OnFaultDue();
    });
}

void CLoadFeed::OnFaultDue() {
    if (Clock::now() >= m_SoakEnd) {
        Settle();
        return;
    }
    Due();
}

void CLoadFeed::Due() {
    m_FaultPending = true;
    if (!Ready())
        return;  // applied once the gateway has registered again
    // Faults that end the connection wait until no job is in flight: an answer cannot outlive
    // its connection. A deaf connection takes its jobs along, and they go out again.
    const CFaultPlan::KIND kind = m_Fault.m_Kind;
    if (kind == CFaultPlan::KIND_DROP || kind == CFaultPlan::KIND_MUTE ||
        kind == CFaultPlan::KIND_BURST || kind == CFaultPlan::KIND_RESEND) {
        m_Held = true;
        if (InFlight() > 0)
            return;
        if (kind == CFaultPlan::KIND_MUTE) {
            // Muting takes effect after a frame: one job's answer brings it.
            SendJob();
            return;
        }
    }
    ApplyFault();
}

void CLoadFeed::ApplyFault() {
    const std::shared_ptr<CConnection> connection = m_Links.Current();
    if (!connection)
        return;
    m_FaultPending = false;
    m_Held = false;
    const char* name = CFaultPlan::Name(m_Fault.m_Kind);
    if (m_Soak == SOAK_FAULTS)
        ++m_FaultCounts[name];
    m_Links.Info(std::string("soak: fault ") + name + " on #" + std::to_string(connection->Id()));
    switch (m_Fault.m_Kind) {
        case CFaultPlan::KIND_DROP:
            connection->Drop();
            break;
        case CFaultPlan::KIND_MALFORMED:
            for (const auto& frame : CFaultPlan::MalformedFrames())
                m_Links.Send(connection, frame);
            break;
        case CFaultPlan::KIND_BURST:
            m_DropNext = m_Fault.m_Count;
            connection->Drop();
            break;
        case CFaultPlan::KIND_MUTE:
        case CFaultPlan::KIND_DEAF:
            connection->Mute();
            m_Dialogue.ForgetRegistrations(*connection);
            OnLinkChanged();
            if (m_Fault.m_Kind == CFaultPlan::KIND_DEAF)
                Flood(connection);
            break;
        case CFaultPlan::KIND_EMPTY:
            m_EmptyTo = connection;
            m_EmptyLeft = m_Options.m_EmptyFrames;
            m_EmptySent = 0;
            m_EmptyUntil = Clock::now() + std::chrono::seconds(m_Options.m_EmptySeconds);
            SendEmptyFrames();
            break;
        case CFaultPlan::KIND_DENSE:
            Dense(connection);
            break;
        case CFaultPlan::KIND_RESEND:
            ResendAfterDrop(connection);
            break;
    }
    if (m_Soak == SOAK_FAULTS)
        ScheduleFault();
}

// No answer on the deaf connection will be read: the jobs in flight there go out again once the
// gateway has registered anew. The flood is not sent again.
void CLoadFeed::Flood(const std::shared_ptr<CConnection>& connection) {
    const std::vector<int64_t> unanswered = m_Stats.Unanswered();
    m_Resend = std::set<int64_t>(unanswered.begin(), unanswered.end());
    json job = Job(0);
    for (int64_t n = 1; n <= m_Options.m_FloodJobs; ++n) {
        job["PrinterName"] = CLoadStats::PrinterName(kFloodPrefix, n);
        m_Dialogue.SendPrintTo(connection, job);
    }
}

// Tops the connection's queue up with empty frames while the fault lasts; the feed's jobs go
// out between them.
void CLoadFeed::SendEmptyFrames() {
    const std::shared_ptr<CConnection> connection = m_EmptyTo.lock();
    const bool current = connection && connection == m_Links.Current();
    if (m_Stopped || !current || m_EmptyLeft == 0 || Clock::now() >= m_EmptyUntil) {
        m_Links.Info("soak: " + std::to_string(m_EmptySent) + " empty frames sent");
        m_EmptyTo.reset();
        return;
    }
    while (m_EmptyLeft > 0 && connection->Queued() < kEmptyBatch) {
        connection->Send(std::string());
        --m_EmptyLeft;
        ++m_EmptySent;
    }
    m_EmptyTimer.expires_after(kEmptyPoll);
    m_EmptyTimer.async_wait([this](const boost::system::error_code& ec) {
        if (!ec)
            SendEmptyFrames();
    });
}

void CLoadFeed::Dense(const std::shared_ptr<CConnection>& connection) {
    json job = Job(0);
    for (int n = 1; n <= kDenseJobs; ++n) {
        job["PrinterName"] = CLoadStats::PrinterName(kDensePrefix, n);
        m_Links.Send(connection, CFaultPlan::DenseNotification(
                                     job, static_cast<size_t>(m_Options.m_DenseValues)));
    }
}

// A new job goes out, heavy enough to be still on its way through the gateway when its next
// connection registers, and the connection is dropped once it is written. Unanswered, it goes
// out again (plain) on the next connection: an answer to both copies is a duplicate.
void CLoadFeed::ResendAfterDrop(const std::shared_ptr<CConnection>& connection) {
    const int64_t number = m_Stats.Send(Clock::now());
    m_Links.Send(connection, CFaultPlan::DenseNotification(
                                 Job(number), static_cast<size_t>(m_Options.m_ResendValues)));
    m_Resend.insert(number);
    connection->Mute();
    m_Dialogue.ForgetRegistrations(*connection);
    OnLinkChanged();
    connection->DropWhenSent();
}

void CLoadFeed::Settle() {
    m_Soak = SOAK_SETTLE;
    m_FaultPending = false;
    m_Held = false;
    m_Limit = m_Stats.Sent() + m_Options.m_Load;
    m_Links.Info("soak: settling with " + std::to_string(m_Options.m_Load) + " more jobs");
    Feed();
}

}  // namespace MES_SIM
