#include <exception>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include <spdlog/fmt/fmt.h>

#include "Gateway/GatewayApp.h"
#include "Gateway/MainCtrl.h"
#include "Gateway/Messages.h"
#include "Platform/Env.h"
#include "Platform/Gcd.h"
#include "Platform/Log.h"
#include "Platform/PathStatus.h"
#include "Platform/Text.h"
#include "Qx/QxApp.h"

using nlohmann::json;

namespace MAIN_CTRL {

namespace {

// More than a format folder holds in practice: one reply never makes the engine open more.
constexpr size_t kMaxRegistrations = 1024;

// A format folder that cannot even be inspected counts as missing, with its reason logged.
bool IsFormatFolder(const std::filesystem::path& base) {
    std::error_code ec;
    const auto status = _OS::PathStatus(base, ec);
    if (ec) {
        _LOG::Error(fmt::format("Cannot inspect the format folder: {}", ec.message()));
    }
    return std::filesystem::is_directory(status);
}

}  // namespace

void EventProc_Session_onConnection(_OBJ<ISession> session, bool up) {
    _QX::APP::NotifyConnected(up);
    if (up) {
        SendConfig(session);
        _LOG::Info("MES is Connected");
        return;
    }
    _LOG::Info("MES is Disconnected");
    g_Bartender->CloseAll();
}

void SendConfig(_OBJ<ISession> session) {
    const std::filesystem::path& base = _OS::ENV::GetVarDir();
    if (!IsFormatFolder(base)) {
        _LOG::Error("Cannot find Bartender directory");
        return;
    }
    const json params = MESSAGES::CheckConfigParams(FindFormatFiles(base));
    _LOG::Info("Checking formats");
    try {
        // Sent on a later connection than this one, its registrations are dropped: that
        // connection sends its own "CheckConfig" once accepted.
        session->Call(MESSAGES::PATH, MESSAGES::CHECK_CONFIG, params,
                      [session, connection = session->Connection()](bool ok, json reply) {
                          EventProc_onCheckConfig(session, ok, std::move(reply), connection);
                      });
    } catch (const std::exception& e) {
        _LOG::Error(fmt::format("Cannot send the format list: {}", e.what()));
    }
}

void EventProc_onCheckConfig(_OBJ<ISession> session, bool ok, json reply, uint64_t connection) {
    if (!ok) {
        _QX::APP::ShutdownWithMessage("Cannot upload pattern files");
        return;
    }
    _LOG::Info("All formats are checked");
    try {
        if (!reply.is_object())
            return;
        const auto items = reply.find("Items");
        if (items == reply.end() || !items->is_array())
            return;
        size_t posted = 0;
        for (json& item : *items) {
            if (!item.is_object())
                continue;
            if (posted == kMaxRegistrations) {
                _LOG::Error(
                    fmt::format("The reply names more than {} formats; the rest are skipped",
                                kMaxRegistrations));
                break;
            }
            // Shared: posting copies the task, and a copy must not copy the item.
            const auto held = std::make_shared<json>(std::move(item));
            _GCD::Post([session, held,
                        connection] { RegisterFormat(session, std::move(*held), connection); },
                       _GCD::QUEUE_SERIAL);
            ++posted;
        }
    } catch (...) {
        // Silent by design: the MES learns nothing of how its reply was read, and a reply
        // that cannot be read simply registers nothing.
    }
}

void RegisterFormat(_OBJ<ISession> session, json item, uint64_t connection) {
    // A lost connection's registrations cost nothing at their turn: the next connection
    // registers its own, and must not wait behind these.
    if (!session->IsCurrent(connection))
        return;
    try {
        if (!item.is_object())
            return;
        const auto displayName = item.at("DisplayName").get<std::string>();
        const auto absPath = item.at("absPath").get<std::string>();
        // "Type" must be a string, though nothing else reads it.
        item.at("Type").get<std::string>();
        const std::u16string path = _OS::Utf8ToWide(absPath);

        _LOG::Info(fmt::format("Loading '{}'", displayName));
        if (!g_Bartender->Open(path))
            return;
        const auto setup = g_Bartender->GetPageSetup();
        if (!setup)
            return;
        _LOG::Info(fmt::format("Loaded '{}'", displayName));

        const json params = MESSAGES::RegisterParams(std::move(item), setup->WidthInMm,
                                                     setup->HeightInMm, setup->Orientation == 1);
        session->Call(MESSAGES::PATH, MESSAGES::REGISTER, params, nullptr);
    } catch (...) {
        // Silent by design: an item the MES names but the gateway cannot read or open is
        // skipped like one the MES never named; the next task runs as usual.
    }
}

void RefreshFormat() {
    _GCD::Post(
        [] {
            g_Bartender->CloseAll();
            SendConfig(g_Session);
            _QX::APP::ShowTrayMessage(_OS::ENV::GetDisplayName(), "模版已刷新",
                                      _QX::APP::TRAY_INFORMATION, 3);
        },
        _GCD::QUEUE_SERIAL);
}

}  // namespace MAIN_CTRL
