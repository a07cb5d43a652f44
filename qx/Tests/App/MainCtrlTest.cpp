#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <thread>

#include "App/HttpsTestServer.h"
#include "App/MainCtrl.h"
#include "Platform/Gcd.h"
#include "Qx/QxApp.h"
#include "Support/TempDir.h"
#include "Support/Wait.h"

namespace {

// What the operator saw, read on the GUI thread while the box was open.
struct SEEN {
    bool boxShown = false;
    QString title;
    QString text;
    bool windowShown = false;
    bool translated = false;
    QString identity;
};

// Polls the widgets on the GUI thread; closes the box as the operator would, or ends the
// application when nothing shows up in time.
void WatchFromGuiThread(SEEN* seen) {
    auto* timer = new QTimer(QCoreApplication::instance());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    QObject::connect(timer, &QTimer::timeout, [timer, seen, end] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMainWindow*>(widget) && widget->isVisible())
                seen->windowShown = true;
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible() || seen->boxShown)
                continue;
            seen->boxShown = true;
            seen->title = box->windowTitle();
            seen->text = box->text();
            std::lock_guard<std::mutex> lock(_QX::APP::g_Mutex);
            seen->translated = _QX::APP::g_Translator != nullptr;
            seen->identity = QString("%1 %2 %3 %4")
                                 .arg(QCoreApplication::applicationName(),
                                      QCoreApplication::applicationVersion(),
                                      QCoreApplication::organizationName(),
                                      QCoreApplication::organizationDomain());
            timer->stop();
            box->button(QMessageBox::Ok)->click();
            return;
        }
        if (std::chrono::steady_clock::now() > end) {
            timer->stop();
            QCoreApplication::quit();
        }
    });
    timer->start(50);
}

TEST(MainCtrlTest, UnansweredPingShowsTheOperatorMessageAndEndsTheProgram) {
    std::string error;
    if (!HttpsTestServer::PortIsFree(443, &error, QX_MES_HOST))
        GTEST_SKIP() << "port 443 cannot be bound, so it cannot be known free: " << error;
    SUPPORT::TEMP_DIR root;
    std::filesystem::create_directories(root.m_Path / "work");
    std::filesystem::create_directories(root.m_Path / "tmp");
    std::filesystem::current_path(root.m_Path / "work");
    setenv("TMPDIR", (root.m_Path / "tmp").c_str(), 1);

    SEEN seen;
    std::thread watcher([&seen] {
        if (SUPPORT::WaitUntil([] { return _QX::APP::g_QtStarted.load(); })) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [&seen] { WatchFromGuiThread(&seen); },
                Qt::QueuedConnection);
        }
    });
    static int argc = 1;
    static char name[] = "MainCtrlTest";
    static char* argv[] = {name, nullptr};
    const auto start = std::chrono::steady_clock::now();
    _GCD::Run([] { MAIN_CTRL::Initialize(argc, argv); }, 0);
    watcher.join();

    EXPECT_TRUE(seen.boxShown);
    EXPECT_EQ(seen.title, "Shutdown");
    EXPECT_EQ(seen.text, QString::fromUtf8("请连接到 MES 网络"));
    EXPECT_FALSE(seen.windowShown);
    EXPECT_TRUE(seen.translated) << "MES_en.qm is compiled in and loads";
    EXPECT_EQ(seen.identity, "Brolla 1.0.0 MyCompany mycompany.example");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(std::filesystem::exists(root.m_Path / "tmp" / "brolla.lock"));
    EXPECT_EQ(_QX::APP::GetApplication(), nullptr);
}

}  // namespace
