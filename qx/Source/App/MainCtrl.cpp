#include "App/MainCtrl.h"

#include <QCoreApplication>

#include <nlohmann/json.hpp>

#include "App/Code_Curl.h"
#include "App/Code_MainWindow.h"
#include "App/RunBrowser.h"
#include "Platform/Env.h"
#include "Platform/Gcd.h"
#include "Platform/Log.h"
#include "Qx/QxApp.h"

namespace MAIN_CTRL {

namespace {

const std::string s_DisplayTitle = "MES";
const std::string s_MesHost = QX_MES_HOST;
constexpr int kPingTimeoutMs = 3000;

void Boot() {
    _LOG::Info("Boot...");
    Code_MainWindow::OpenUrl("https://" + s_MesHost + "/smt");
}

void CheckNetwork() {
    _OBJ<_NET::ICurl> curl =
        _NET::Code_Curl::Create("https://" + s_MesHost + "/smt/rest/api/Tessix/Test/Ping");
    const _NET::ICurl::RESULT result = curl->Post(nlohmann::json::object(), kPingTimeoutMs);
    _LOG::Debug(std::string("Response: ") + (result.ok ? "true" : "false"));
    if (result.ok) {
        _LOG::Info("Network is ready");
        _LOG::Info("Loading...");
        _GCD::Post(Boot, _GCD::QUEUE_POOL);
    } else {
        _LOG::Critical("Cannot connect to server:" + result.error);
        Abort("请连接到 MES 网络");
    }
}

void WaitForQt(int argc, char** argv) {
    _QX::APP::WaitQtStarted();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [argc, argv] { Initialize_QtStarted(argc, argv); },
        Qt::AutoConnection);
}

}  // namespace

void Initialize(int argc, char** argv) {
    _OS::ENV::Initialize("Mes", argc, argv);
    _OS::ENV::SetDisplayName(s_DisplayTitle);
    _GCD::Post([argc, argv] { WaitForQt(argc, argv); }, _GCD::QUEUE_SERIAL);
    _QX::APP::RunBrowser(argc, argv, "MES", "en");
    _GCD::Quit();
}

void Initialize_QtStarted(int, char**) {
    _LOG::Pattern("[%m-%d %H:%M:%S] %^[%l]%$ %v");
    _LOG::Level(_LOG::LEVEL_TRACE);
    _LOG::Info("System is ready");
    _LOG::Info("Checking network...");
    _GCD::Post(CheckNetwork, _GCD::QUEUE_POOL);
}

void Abort(const std::string& message) {
    _GCD::Post([message] { _QX::APP::ShutdownWithMessage(message); }, _GCD::QUEUE_POOL);
}

}  // namespace MAIN_CTRL
