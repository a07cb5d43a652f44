// The simulator's job feed and soak run: numbered copies of one job, each matched to its
// "Print" call, with seeded faults in between when soaking.
#include <algorithm>

#include "MesSimulator/CConnection.h"
#include "MesSimulator/CMesSimulator.h"

using nlohmann::json;

namespace MES_SIM {

namespace {

using Clock = CLoadStats::Clock;

const char kPrinterPrefix[] = "Load";
// Answers between two progress lines.
const int64_t kProgressEvery = 1000;
// How far a paced feed may catch up after a pause.
const auto kCatchUp = std::chrono::milliseconds(10);

std::string FaultCounts(const std::map<std::string, int>& counts) {
    std::string text;
    for (const auto& [name, count] : counts)
        text += " " + name + " " + std::to_string(count);
    return text.empty() ? " none" : text;
}

}  // namespace

void CMesSimulator::StartFeed() {
    if (m_Options.load == 0)
        return;
    m_FeedLimit = m_Options.load;
    if (m_Options.soakSeconds > 0)
        m_Soak = SOAK_WARMUP;
}

std::string CMesSimulator::ResolveFormat(const json& job) const {
    std::string format = job.value("FormatFilename", std::string());
    const auto reported = m_Reported.find(format);
    return reported == m_Reported.end() ? format : reported->second;
}

std::shared_ptr<CConnection> CMesSimulator::Current() const {
    for (const auto& connection : m_Connections) {
        if (!connection->Muted())
            return connection;
    }
    return nullptr;
}

bool CMesSimulator::FeedReady() const {
    return !m_Stopping && Current() && m_Registered.count(ResolveFormat(m_LoadJob)) > 0;
}

void CMesSimulator::OnFeedRegistered() {
    if (m_Options.load == 0 || !FeedReady())
        return;
    if (m_FaultPending)
        ApplyFault();
    Feed();
}

void CMesSimulator::Feed() {
    const double rate = m_Options.rate;
    while (!m_FeedHeld && FeedReady() && m_Load.Sent() < m_FeedLimit &&
           m_Load.Outstanding() < m_Options.window) {
        const auto now = Clock::now();
        if (rate > 0.0 && now < m_NextSend) {
            if (!m_FeedTimerArmed) {
                m_FeedTimerArmed = true;
                m_FeedTimer.expires_at(m_NextSend);
                m_FeedTimer.async_wait([this](const boost::system::error_code& ec) {
                    m_FeedTimerArmed = false;
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
        SendLoadJob();
    }
}

void CMesSimulator::SendLoadJob() {
    json job = m_LoadJob;
    job["FormatFilename"] = ResolveFormat(m_LoadJob);
    const int64_t number = m_Load.Send(Clock::now());
    job["PrinterName"] = CLoadStats::PrinterName(kPrinterPrefix, number);
    SendPrint(job);
}

void CMesSimulator::OnLoadAnswer(const json& call) {
    const auto job = call.find("Job");
    const std::string printer =
        job != call.end() && job->is_object() ? job->value("PrinterName", std::string()) : "";
    const int64_t number = CLoadStats::NumberOf(printer);
    const auto answer = m_Load.Answer(number, Clock::now());
    if (answer == CLoadStats::ANSWER_DUPLICATE)
        Info("load: job " + std::to_string(number) + " answered again");
    if (answer == CLoadStats::ANSWER_UNKNOWN)
        Info("load: answer for no job sent: '" + printer + "'");
    if (answer == CLoadStats::ANSWER_FIRST && m_Load.Answered() % kProgressEvery == 0)
        Info("load: " + std::to_string(m_Load.Answered()) + " answered");

    if (m_Load.Outstanding() == 0) {
        if (m_FaultPending && m_FeedHeld) {
            ApplyFault();
        } else if (m_Load.Answered() >= m_FeedLimit) {
            const std::string summary = CLoadStats::Format(m_Load.Summary());
            if (m_Soak == SOAK_WARMUP) {
                m_Soak = SOAK_WAIT_GO;
                Info("soak: warmed up, " + summary);
            } else if (m_Soak == SOAK_SETTLE) {
                m_Soak = SOAK_DONE;
                Info("soak: faults" + FaultCounts(m_FaultCounts));
                Info("soak: settled, " + summary);
            } else if (m_Soak == SOAK_NONE) {
                m_LoadDone = true;
                Info("load: done, " + summary);
                Stop();
                return;
            }
        }
    }
    Feed();
}

void CMesSimulator::Go() {
    if (m_Soak != SOAK_WAIT_GO) {
        Info("go: no soak is waiting");
        return;
    }
    m_Soak = SOAK_FAULTS;
    m_SoakEnd = Clock::now() + std::chrono::seconds(m_Options.soakSeconds);
    m_FeedLimit = INT64_MAX;
    Info("soak: faults for " + std::to_string(m_Options.soakSeconds) + " s, seed " +
         std::to_string(m_Options.seed));
    ScheduleFault();
    Feed();
}

void CMesSimulator::ScheduleFault() {
    const CFaultPlan::FAULT fault = m_Faults.Next();
    m_Fault = fault.kind;
    m_FaultTimer.expires_after(fault.delay);
    m_FaultTimer.async_wait([this](const boost::system::error_code& ec) {
        if (!ec)
            OnFaultDue();
    });
}

void CMesSimulator::OnFaultDue() {
    if (Clock::now() >= m_SoakEnd) {
        Settle();
        return;
    }
    m_FaultPending = true;
    if (!FeedReady())
        return;  // applied once the gateway has registered again
    // Faults that end the connection wait until no job is unanswered: an answer cannot
    // outlive its connection.
    if (m_Fault != CFaultPlan::KIND_MALFORMED) {
        m_FeedHeld = true;
        if (m_Load.Outstanding() > 0)
            return;
        if (m_Fault == CFaultPlan::KIND_MUTE) {
            // Muting takes effect after a frame: one job's answer brings it.
            SendLoadJob();
            return;
        }
    }
    ApplyFault();
}

void CMesSimulator::ApplyFault() {
    const std::shared_ptr<CConnection> connection = Current();
    if (!connection)
        return;
    m_FaultPending = false;
    m_FeedHeld = false;
    ++m_FaultCounts[CFaultPlan::Name(m_Fault)];
    Info(std::string("soak: fault ") + CFaultPlan::Name(m_Fault) + " on #" +
         std::to_string(connection->Id()));
    switch (m_Fault) {
        case CFaultPlan::KIND_DROP:
            connection->Drop();
            break;
        case CFaultPlan::KIND_MUTE:
            connection->Mute();
            m_Registered.clear();
            break;
        case CFaultPlan::KIND_MALFORMED:
            for (const auto& frame : CFaultPlan::MalformedFrames())
                Send(connection, frame);
            break;
    }
    ScheduleFault();
}

void CMesSimulator::Settle() {
    m_Soak = SOAK_SETTLE;
    m_FaultPending = false;
    m_FeedHeld = false;
    m_FeedLimit = m_Load.Sent() + m_Options.load;
    Info("soak: settling with " + std::to_string(m_Options.load) + " more jobs");
    Feed();
}

void CMesSimulator::Refuse() {
    m_Options.refuseInitialize = true;
    Info("refusing the next _INITIALIZE");
    const auto connections = m_Connections;
    for (const auto& connection : connections)
        connection->Drop();
}

}  // namespace MES_SIM
