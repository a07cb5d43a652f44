#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "SimOptions.h"

namespace MES_SIM {

struct CConnection;
struct CListener;

// The MES side of the dialogue: answers the gateway's calls, sends print jobs, keeps the
// label images. Every member runs on the io thread.
struct CMesSimulator {
    CMesSimulator(boost::asio::io_context& io, OPTIONS options);

    bool Start(std::string& error);
    void Command(const std::string& line);
    void Stop();

    void OnOpen(const std::shared_ptr<CConnection>& connection);
    void OnFrame(const std::shared_ptr<CConnection>& connection, const std::string& text);
    void OnClosed(const std::shared_ptr<CConnection>& connection, const std::string& reason);

private:
    struct HELD_CALL {
        std::weak_ptr<CConnection> connection;
        nlohmann::json call;
    };
    struct JOB {
        nlohmann::json data;
        bool sent = false;
    };

    bool LoadJobs(std::string& error);
    void Answer(const std::shared_ptr<CConnection>& connection, const nlohmann::json& call);
    nlohmann::json AnswerCheckConfig(const nlohmann::json& call);
    void AnswerRegister(const nlohmann::json& call);
    void AnswerPrint(const nlohmann::json& call);
    void SendDueJobs();
    void SendPrint(const nlohmann::json& job);
    void SendAll(const std::string& text);
    void Reply(const std::shared_ptr<CConnection>& connection, const nlohmann::json& call, bool ok,
               nlohmann::json reply = nlohmann::json::object());
    void Send(const std::shared_ptr<CConnection>& connection, const std::string& text);
    void Log(const std::string& kind, const std::string& text);
    void Info(const std::string& text);

    boost::asio::io_context& m_Io;
    OPTIONS m_Options;
    std::shared_ptr<CListener> m_Listener;
    std::set<std::shared_ptr<CConnection>> m_Connections;
    std::ofstream m_FrameLog;
    std::vector<JOB> m_Jobs;
    std::vector<HELD_CALL> m_Held;
    // Reported relPath -> absPath of the last "CheckConfig".
    std::map<std::string, std::string> m_Reported;
    std::set<std::string> m_Registered;
    int m_Prints = 0;
    bool m_Stopping = false;
    boost::asio::steady_timer m_StopTimer;
};

}  // namespace MES_SIM
