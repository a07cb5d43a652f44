#pragma once

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "MesSimulator/SimOptions.h"

namespace MES_SIM {

struct CConnection;
struct CGatewayLinks;

// The MES side of the gateway's dialogue: answers "_INITIALIZE", "CheckConfig", "Register"
// and "Print", keeps which formats are registered, sends print jobs and keeps the label
// images. Every member runs on the io thread.
struct CMesDialogue {
    // stop ends the simulator once the images asked for have come.
    CMesDialogue(CGatewayLinks& links, OPTIONS options, std::function<void()> stop);

    // The jobs of the files, a file holding one job or an array of them.
    static bool ReadJobs(const std::vector<std::string>& files, std::vector<nlohmann::json>& jobs,
                         std::string& error);
    // Jobs sent once their format is registered.
    void Queue(std::vector<nlohmann::json> jobs);
    // From now on every "Register" is reported to onRegistered, and every "Print" call goes to
    // onPrint instead of being kept as an image.
    void Watch(std::function<void()> onRegistered,
               std::function<void(const nlohmann::json&)> onPrint);

    void OnFrame(const std::shared_ptr<CConnection>& connection, const std::string& text);
    void Hold();
    void Release();
    void RefuseInitialize();
    // A gateway registers its formats anew on each connection: a connection that closes or
    // stops listening takes its registrations with it.
    void ForgetRegistrations(const CConnection& connection);

    // To the current connection only, so that a job is answered once.
    void SendPrint(const nlohmann::json& job);
    void SendPrintTo(const std::shared_ptr<CConnection>& connection, const nlohmann::json& job);
    // The absPath reported for a relPath; any other name as it is.
    std::string ResolveFormat(const std::string& name) const;
    // Registered on the current connection.
    bool IsRegistered(const std::string& absPath) const;

private:
    struct HELD_CALL {
        std::weak_ptr<CConnection> m_Connection;
        nlohmann::json m_Call;
    };
    struct JOB {
        nlohmann::json m_Data;
        bool m_Sent = false;
    };

    void Answer(const std::shared_ptr<CConnection>& connection, const nlohmann::json& call);
    nlohmann::json AnswerCheckConfig(const nlohmann::json& call);
    void AnswerRegister(const CConnection& connection, const nlohmann::json& call);
    void AnswerPrint(const nlohmann::json& call);
    void SaveImage(const nlohmann::json& call);
    void SendDueJobs();
    void Reply(const std::shared_ptr<CConnection>& connection, const nlohmann::json& call, bool ok,
               nlohmann::json reply = nlohmann::json::object());

    CGatewayLinks& m_Links;
    OPTIONS m_Options;
    std::function<void()> m_Stop;
    std::function<void()> m_OnRegistered;
    std::function<void(const nlohmann::json&)> m_OnPrint;
    std::vector<JOB> m_Jobs;
    std::vector<HELD_CALL> m_Held;
    // Reported relPath -> absPath of the last "CheckConfig".
    std::map<std::string, std::string> m_Reported;
    // Connection id -> the absPaths registered on it.
    std::map<int, std::set<std::string>> m_Registered;
    int m_Prints = 0;
};

}  // namespace MES_SIM
