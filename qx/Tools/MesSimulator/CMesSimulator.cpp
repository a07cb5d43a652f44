#include "MesSimulator/CMesSimulator.h"

#include <QByteArray>
#include <chrono>
#include <filesystem>
#include <iostream>

#include "MesSimulator/CConnection.h"
#include "MesSimulator/CListener.h"

using nlohmann::json;

namespace MES_SIM {

namespace {

std::string Dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string StringMember(const json& object, const char* key) {
    if (!object.is_object())
        return {};
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

CMesSimulator::CMesSimulator(boost::asio::io_context& io, OPTIONS options)
    : m_Io(io),
      m_Options(std::move(options)),
      m_StopTimer(io),
      m_FeedTimer(io),
      m_Faults(m_Options.seed, std::chrono::milliseconds(m_Options.faultEveryMs)),
      m_FaultTimer(io) {}

bool CMesSimulator::Start(std::string& error) {
    if (!m_Options.frameLog.empty()) {
        m_FrameLog.open(m_Options.frameLog, std::ios::out | std::ios::trunc);
        if (!m_FrameLog) {
            error = "cannot write the frame log " + m_Options.frameLog;
            return false;
        }
    }
    if (!m_Options.pngDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(m_Options.pngDir, ec);
        if (ec) {
            error = "cannot create " + m_Options.pngDir + ": " + ec.message();
            return false;
        }
    }
    if (!LoadJobs(error))
        return false;
    m_Listener = std::make_shared<CListener>(m_Io, *this);
    if (!m_Listener->Open(m_Options.address, m_Options.port, error))
        return false;
    m_Listener->Accept();
    StartFeed();
    Info("listening on " + m_Options.address + ":" + std::to_string(m_Options.port));
    return true;
}

bool CMesSimulator::LoadJobs(std::string& error) {
    for (const auto& file : m_Options.jobFiles) {
        std::ifstream in(file);
        json value = json::parse(in, nullptr, false);
        if (!in || value.is_discarded()) {
            error = "cannot read the print job " + file;
            return false;
        }
        if (!value.is_array())
            value = json::array({value});
        for (auto& job : value) {
            // A feed copies the first job instead of sending the files' jobs.
            if (m_Options.load > 0 && m_LoadJob.is_null())
                m_LoadJob = job;
            if (m_Options.load == 0)
                m_Jobs.push_back({std::move(job), false});
        }
    }
    return true;
}

void CMesSimulator::Command(const std::string& line) {
    const auto space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (verb == "print") {
        json job = json::parse(rest, nullptr, false);
        if (job.is_discarded()) {
            Info("print: not JSON: " + rest);
            return;
        }
        SendPrint(job);
    } else if (verb == "send") {
        SendAll(rest);
    } else if (verb == "drop") {
        const auto connections = m_Connections;
        for (const auto& connection : connections)
            connection->Drop();
    } else if (verb == "hold") {
        m_Options.hold = true;
    } else if (verb == "release") {
        m_Options.hold = false;
        auto held = std::move(m_Held);
        m_Held.clear();
        for (const auto& call : held) {
            if (auto connection = call.connection.lock())
                Answer(connection, call.call);
        }
    } else if (verb == "status") {
        Info("load: " + CLoadStats::Format(m_Load.Summary()) + ", unanswered " +
             std::to_string(m_Load.Outstanding()));
    } else if (verb == "go") {
        Go();
    } else if (verb == "refuse") {
        Refuse();
    } else if (verb == "quit") {
        Stop();
    } else if (!verb.empty()) {
        Info("unknown command: " + line);
    }
}

void CMesSimulator::Stop() {
    if (m_Stopping)
        return;
    m_Stopping = true;
    if (m_Options.load > 0 && !m_LoadDone)
        Info("load: stopped, " + CLoadStats::Format(m_Load.Summary()));
    Info("stopping");
    m_FeedTimer.cancel();
    m_FaultTimer.cancel();
    m_Listener->Close();
    for (const auto& connection : m_Connections)
        connection->Close();
    // A gateway that never completes the closing handshake must not keep us running.
    m_StopTimer.expires_after(std::chrono::seconds(2));
    m_StopTimer.async_wait([this](const boost::system::error_code&) { m_Io.stop(); });
    if (m_Connections.empty())
        m_Io.stop();
}

void CMesSimulator::OnOpen(const std::shared_ptr<CConnection>& connection) {
    if (m_Stopping) {
        connection->Close();
        return;
    }
    // A gateway has one connection: a muted one it has given up is dropped here.
    const auto connections = m_Connections;
    for (const auto& old : connections) {
        if (old->Muted())
            old->Drop();
    }
    m_Connections.insert(connection);
    // Every connection registers its formats anew.
    m_Registered.clear();
    Info("gateway connected #" + std::to_string(connection->Id()));
}

void CMesSimulator::OnClosed(const std::shared_ptr<CConnection>& connection,
                             const std::string& reason) {
    if (m_Connections.erase(connection) == 0)
        return;
    m_Registered.clear();
    Info("gateway disconnected #" + std::to_string(connection->Id()) + ": " + reason);
    if (m_Stopping && m_Connections.empty())
        m_Io.stop();
}

void CMesSimulator::OnFrame(const std::shared_ptr<CConnection>& connection,
                            const std::string& text) {
    Log("recv", text);
    const json call = json::parse(text, nullptr, false);
    if (call.is_discarded() || StringMember(call, "_CMD").empty()) {
        Info("not a call: " + text.substr(0, 200));
        return;
    }
    if (m_Options.hold) {
        m_Held.push_back({connection, call});
        return;
    }
    Answer(connection, call);
}

void CMesSimulator::Answer(const std::shared_ptr<CConnection>& connection, const json& call) {
    const std::string command = StringMember(call, "_CMD");
    if (command == "_INITIALIZE") {
        Reply(connection, call, !m_Options.refuseInitialize);
        if (m_Options.refuseInitialize)
            Info("refused _INITIALIZE on #" + std::to_string(connection->Id()));
    } else if (command == "CheckConfig") {
        if (m_Options.refuseCheckConfig) {
            Reply(connection, call, false);
        } else {
            Reply(connection, call, true, AnswerCheckConfig(call));
        }
    } else if (command == "Register") {
        Reply(connection, call, true);
        AnswerRegister(call);
    } else if (command == "Print") {
        Reply(connection, call, true);
        AnswerPrint(call);
    } else {
        Reply(connection, call, false);
    }
}

json CMesSimulator::AnswerCheckConfig(const json& call) {
    m_Reported.clear();
    json items = json::array();
    const auto reported = call.find("Items");
    if (reported == call.end() || !reported->is_array())
        return {{"Items", items}};
    for (const auto& item : *reported) {
        const std::string relPath = StringMember(item, "relPath");
        const std::string absPath = StringMember(item, "absPath");
        if (relPath.empty() || absPath.empty())
            continue;
        m_Reported[relPath] = absPath;
        // "FormatId" stands for the MES's own bookkeeping that must come back in "Register".
        items.push_back({{"DisplayName", relPath},
                         {"Type", "Bartender"},
                         {"absPath", absPath},
                         {"FormatId", static_cast<int>(items.size()) + 1}});
    }
    return {{"Items", items}};
}

void CMesSimulator::AnswerRegister(const json& call) {
    const std::string absPath = StringMember(call, "absPath");
    if (absPath.empty())
        return;
    m_Registered.insert(absPath);
    SendDueJobs();
    OnFeedRegistered();
}

void CMesSimulator::SendDueJobs() {
    for (auto& job : m_Jobs) {
        if (job.sent)
            continue;
        std::string format = StringMember(job.data, "FormatFilename");
        const auto reported = m_Reported.find(format);
        if (reported != m_Reported.end())
            format = reported->second;
        if (m_Registered.count(format) == 0)
            continue;
        job.data["FormatFilename"] = format;
        job.sent = true;
        SendPrint(job.data);
    }
}

void CMesSimulator::SendPrint(const json& job) {
    SendAll(Dump({{"_MAGIC", "ORACLE"}, {"_TYPE", "Print"}, {"_DATA", job}}));
}

void CMesSimulator::AnswerPrint(const json& call) {
    ++m_Prints;
    if (m_Options.load > 0) {
        OnLoadAnswer(call);
        return;
    }
    const std::string base64 = StringMember(call, "base64PngData");
    const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(base64),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        Info("label image " + std::to_string(m_Prints) + " is not valid base64");
    } else if (!m_Options.pngDir.empty()) {
        const auto file = std::filesystem::path(m_Options.pngDir) /
                          ("label-" + std::to_string(m_Prints) + ".png");
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(decoded.decoded.constData(), decoded.decoded.size());
        out.close();
        Info(out ? "saved " + file.string() + " (" + std::to_string(decoded.decoded.size()) +
                       " bytes)"
                 : "cannot write " + file.string());
    }
    if (m_Options.exitAfterPrints > 0 && m_Prints >= m_Options.exitAfterPrints)
        Stop();
}

void CMesSimulator::SendAll(const std::string& text) {
    for (const auto& connection : m_Connections) {
        if (!connection->Muted())
            Send(connection, text);
    }
}

void CMesSimulator::Reply(const std::shared_ptr<CConnection>& connection, const json& call, bool ok,
                          json reply) {
    reply["_ID"] = call.contains("_ID") ? call["_ID"] : json();
    reply["_OK"] = ok;
    Send(connection, Dump(reply));
}

void CMesSimulator::Send(const std::shared_ptr<CConnection>& connection, const std::string& text) {
    Log("send", text);
    connection->Send(text);
}

void CMesSimulator::Log(const std::string& kind, const std::string& text) {
    if (!m_FrameLog.is_open())
        return;
    m_FrameLog << kind << ' ' << text << '\n';
    m_FrameLog.flush();
}

void CMesSimulator::Info(const std::string& text) {
    std::cout << "MesSimulator: " << text << std::endl;
    Log("info", text);
}

}  // namespace MES_SIM
