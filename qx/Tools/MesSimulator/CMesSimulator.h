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

#include "MesSimulator/CFaultPlan.h"
#include "MesSimulator/CLoadStats.h"
#include "MesSimulator/SimOptions.h"

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
    // Phases of a soak run; a plain job feed stays in SOAK_NONE.
    enum SOAK_PHASE { SOAK_NONE, SOAK_WARMUP, SOAK_WAIT_GO, SOAK_FAULTS, SOAK_SETTLE, SOAK_DONE };

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

    // Job feed and soak (CMesSimulatorLoad.cpp).
    void StartFeed();
    bool FeedReady() const;
    void Feed();
    void SendLoadJob();
    void OnLoadAnswer(const nlohmann::json& call);
    void OnFeedRegistered();
    void Go();
    void ScheduleFault();
    void OnFaultDue();
    void ApplyFault();
    void Settle();
    void Refuse();
    std::string ResolveFormat(const nlohmann::json& job) const;
    std::shared_ptr<CConnection> Current() const;

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

    nlohmann::json m_LoadJob;
    CLoadStats m_Load;
    // The feed sends while it is not held and fewer than m_FeedLimit jobs went out.
    int64_t m_FeedLimit = 0;
    bool m_FeedHeld = false;
    bool m_LoadDone = false;
    bool m_FeedTimerArmed = false;
    CLoadStats::Clock::time_point m_NextSend;
    boost::asio::steady_timer m_FeedTimer;
    SOAK_PHASE m_Soak = SOAK_NONE;
    CLoadStats::Clock::time_point m_SoakEnd;
    CFaultPlan m_Faults;
    // A fault that waits for the gateway to be registered or for its jobs to be answered.
    bool m_FaultPending = false;
    CFaultPlan::KIND m_Fault = CFaultPlan::KIND_DROP;
    std::map<std::string, int> m_FaultCounts;
    boost::asio::steady_timer m_FaultTimer;
};

}  // namespace MES_SIM
