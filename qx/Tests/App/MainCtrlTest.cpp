#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <unistd.h>

#include <boost/asio.hpp>

#include <chrono>
#include <filesystem>
#include <thread>

#include "App/MainCtrl.h"
#include "App/TestDir.h"
#include "Platform/Gcd.h"
#include "Qx/QxApp.h"

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
    if (std::string(QX_MES_HOST) != "127.0.0.1")
        GTEST_SKIP() << "the program is built for the MES host " << QX_MES_HOST;
    {
        boost::asio::io_context ioc;
        boost::asio::ip::tcp::acceptor probe(ioc);
        boost::system::error_code ec;
        const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"),
                                                      443);
        probe.open(endpoint.protocol(), ec);
        if (!ec)
            probe.set_option(boost::asio::socket_base::reuse_address(true), ec);
        if (!ec)
            probe.bind(endpoint, ec);
        if (ec)
            GTEST_SKIP() << "port 443 cannot be bound, so it cannot be known free: "
                         << ec.message();
    }
    TestDir root;
    ASSERT_FALSE(root.path.empty());
    std::filesystem::create_directories(root.path + "/work");
    std::filesystem::create_directories(root.path + "/tmp");
    ASSERT_EQ(chdir((root.path + "/work").c_str()), 0);
    setenv("TMPDIR", (root.path + "/tmp").c_str(), 1);

    SEEN seen;
    std::thread watcher([&seen] {
        while (!_QX::APP::g_QtStarted)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&seen] { WatchFromGuiThread(&seen); },
            Qt::QueuedConnection);
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
    EXPECT_FALSE(std::filesystem::exists(root.path + "/tmp/brolla.lock"));
    EXPECT_EQ(_QX::APP::GetApplication(), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
