#include "MesSimulator/CMesSimulator.h"

#include <chrono>
#include <filesystem>

#include "MesSimulator/CConnection.h"
#include "MesSimulator/CListener.h"

using nlohmann::json;

namespace MES_SIM {

CMesSimulator::CMesSimulator(boost::asio::io_context& io, OPTIONS options)
    : m_Io(io),
      m_Options(std::move(options)),
      m_Dialogue(m_Links, m_Options, [this] { Stop(); }),
      m_Feed(io, m_Links, m_Dialogue, m_Options, [this] { Stop(); }),
      m_StopTimer(io) {}

bool CMesSimulator::Start(std::string& error) {
    if (!m_Options.m_FrameLog.empty() && !m_Links.OpenLog(m_Options.m_FrameLog, error))
        return false;
    if (!m_Options.m_PngDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(m_Options.m_PngDir, ec);
        if (ec) {
            error = "cannot create " + m_Options.m_PngDir + ": " + ec.message();
            return false;
        }
    }
    std::vector<json> jobs;
    if (!CMesDialogue::ReadJobs(m_Options.m_JobFiles, jobs, error))
        return false;
    m_Listener = std::make_shared<CListener>(m_Io, *this);
    if (!m_Listener->Open(m_Options.m_Address, m_Options.m_Port, error))
        return false;
    m_Listener->Accept();
    // A feed copies the first job instead of sending the files' jobs.
    if (m_Options.m_Load > 0) {
        m_Feed.Start(jobs.empty() ? json() : jobs.front());
        m_Dialogue.Watch([this] { m_Feed.OnRegistered(); },
                         [this](const json& call) { m_Feed.OnAnswer(call); });
    } else {
        m_Dialogue.Queue(std::move(jobs));
    }
    m_Links.Info("listening on " + m_Options.m_Address + ":" + std::to_string(Port()));
    return true;
}

uint16_t CMesSimulator::Port() const {
    return m_Listener ? m_Listener->Port() : 0;
}

void CMesSimulator::Command(const std::string& line) {
    const auto space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (verb == "print") {
        json job = json::parse(rest, nullptr, false);
        if (job.is_discarded()) {
            m_Links.Info("print: not JSON: " + rest);
            return;
        }
        m_Dialogue.SendPrint(job);
    } else if (verb == "send") {
        m_Links.SendAll(rest);
    } else if (verb == "drop") {
        m_Links.DropAll();
    } else if (verb == "hold") {
        m_Dialogue.Hold();
    } else if (verb == "release") {
        m_Dialogue.Release();
    } else if (verb == "status") {
        m_Feed.Status();
    } else if (verb == "go") {
        m_Feed.Go();
    } else if (verb == "fault") {
        m_Feed.Fault(rest);
    } else if (verb == "refuse") {
        Refuse();
    } else if (verb == "quit") {
        Stop();
    } else if (!verb.empty()) {
        m_Links.Info("unknown command: " + line);
    }
}

void CMesSimulator::Refuse() {
    m_Dialogue.RefuseInitialize();
    m_Links.Info("refusing the next _INITIALIZE");
    m_Links.DropAll();
}

void CMesSimulator::Stop() {
    if (m_Stopping)
        return;
    m_Stopping = true;
    m_Feed.Stop();
    m_Links.Info("stopping");
    m_Listener->Close();
    m_Links.CloseAll();
    // A gateway that never completes the closing handshake must not keep us running.
    m_StopTimer.expires_after(std::chrono::seconds(2));
    m_StopTimer.async_wait([this](const boost::system::error_code&) { m_Io.stop(); });
    if (m_Links.Empty())
        m_Io.stop();
}

void CMesSimulator::OnOpen(const std::shared_ptr<CConnection>& connection) {
    if (m_Stopping) {
        connection->Close();
        return;
    }
    m_Links.DropMuted();
    if (m_Feed.DropsNewConnection()) {
        m_Links.Info("soak: dropped #" + std::to_string(connection->Id()) + " at once");
        connection->Drop();
        return;
    }
    m_Links.Add(connection);
    m_Feed.OnLinkChanged();
    m_Links.Info("gateway connected #" + std::to_string(connection->Id()));
}

void CMesSimulator::OnClosed(const std::shared_ptr<CConnection>& connection,
                             const std::string& reason) {
    if (!m_Links.Remove(connection))
        return;
    m_Feed.OnLinkChanged();
    m_Dialogue.ForgetRegistrations(*connection);
    m_Links.Info("gateway disconnected #" + std::to_string(connection->Id()) + ": " + reason);
    if (m_Stopping && m_Links.Empty())
        m_Io.stop();
}

void CMesSimulator::OnFrame(const std::shared_ptr<CConnection>& connection,
                            const std::string& text) {
    m_Links.Log("recv", text);
    m_Dialogue.OnFrame(connection, text);
}

}  // namespace MES_SIM
