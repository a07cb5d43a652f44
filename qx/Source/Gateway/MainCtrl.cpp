#include "Gateway/MainCtrl.h"

#include <mutex>
#include <string>
#include <system_error>

#include <spdlog/fmt/fmt.h>

#include "Gateway/Code_Bartender.h"
#include "Gateway/Code_MainWindow.h"
#include "Gateway/Code_Session.h"
#include "Gateway/GatewayApp.h"
#include "Platform/Env.h"
#include "Platform/Gcd.h"
#include "Platform/Log.h"
#include "Platform/PathStatus.h"
#include "Platform/Text.h"
#include "Qx/QxApp.h"

namespace MAIN_CTRL {

namespace {

// Built before the two handles so that it is destroyed after them.
const std::string kDisplayTitle = "Morvash 条码模版服务";

const char kAppId[] = "Bartender";
const char kLanguage[] = "en";
const char kLogPattern[] = "[%m-%d %H:%M:%S] %^[%l]%$ %v";
const char kMaterialsFolder[] = "物料";
const std::string kMesUrl = std::string("ws://") + QX_MES_HOST + ":5212";

// Orders the start-up's creation of the session against the stop on the main thread.
std::mutex s_SessionMutex;
// Set by the stop: from then on no session is created.
bool s_Stopping = false;

// The materials folder goes into the format folder when that exists; a file system error
// costs only the folder, never the start-up.
void CreateMaterialsFolder() {
    const std::filesystem::path& varDir = _OS::ENV::GetVarDir();
    try {
        std::error_code ec;
        const auto status = _OS::PathStatus(varDir, ec);
        if (ec)
            throw std::filesystem::filesystem_error("cannot inspect", ec);
        if (!std::filesystem::is_directory(status))
            return;
        std::filesystem::create_directories(varDir / _OS::Utf8ToWide(kMaterialsFolder));
    } catch (const std::exception& e) {
        _LOG::Error(fmt::format("Cannot create the folder '{}': {}", kMaterialsFolder, e.what()));
    }
}

}  // namespace

_OBJ<IBartender> g_Bartender;
_OBJ<ISession> g_Session;

bool ReadConfig() {
    return true;
}

void Initialize(int argc, char** argv) {
    _OS::ENV::Initialize(kAppId, argc, argv);
    _OS::ENV::SetDisplayName(kDisplayTitle);
    _GCD::Post(WaitQtStarted, _GCD::QUEUE_SERIAL);
    Code_MainWindow::SetRefreshAction(RefreshFormat);
    _QX::APP::Run(argc, argv, _OS::ENV::GetAppName(), kLanguage);
    _OBJ<ISession> session;
    {
        std::lock_guard<std::mutex> lock(s_SessionMutex);
        s_Stopping = true;
        session = g_Session;
    }
    if (session)
        session->Disconnect();
    _GCD::Quit();
}

void WaitQtStarted() {
    _QX::APP::WaitQtStarted();
    StartUp();
}

void StartUp() {
    if (!ReadConfig()) {
        _QX::APP::ShutdownWithMessage("Cannot read config");
        return;
    }
    CreateMaterialsFolder();
    _LOG::Pattern(kLogPattern);
    _LOG::Level(_LOG::LEVEL_TRACE);
    g_Bartender = Code_Bartender::Create();
    if (!g_Bartender) {
        _QX::APP::ShutdownWithMessage("Cannot connect to Bartender");
        return;
    }
    _LOG::Info("System is ready");
    // Held while the session is made: the operator may have quit meanwhile, and a session made
    // after the stop would never be disconnected.
    std::lock_guard<std::mutex> lock(s_SessionMutex);
    if (s_Stopping) {
        _LOG::Info("The program is ending: the MES is not contacted");
        return;
    }
    g_Session = Code_Session::Create(kMesUrl, EventProc_Session_onConnection);
    g_Session->SetOnPrint(EventProc_Session_onPrint);
}

}  // namespace MAIN_CTRL
