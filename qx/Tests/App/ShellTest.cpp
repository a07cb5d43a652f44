#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "App/CleanupWebEngine.h"
#include "App/Code_MainWindow.h"
#include "App/GlDrivers.h"
#include "App/QtMessages.h"
#include "App/TestDir.h"
#include "Platform/Env.h"
#include "Platform/Reg.h"
#include "Qx/QxApp.h"

namespace {

namespace fs = std::filesystem;

TestDir s_Root;

bool ProcessEventsUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(20000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

TEST(CleanupWebEngineTest, RemovesLeftoversInAnyCaseAndTheLockFileOnly) {
    const fs::path temp = fs::path(s_Root.path) / "tmp";
    const fs::path outside = fs::path(s_Root.path) / "outside";
    fs::create_directories(temp / "qtwebengine-leftover" / "inner");
    std::ofstream(temp / "qtwebengine-leftover" / "inner" / "file") << "x";
    std::ofstream(temp / "QUTEBROWSER-abc") << "x";
    std::ofstream(temp / "brolla.lock");
    std::ofstream(temp / "keep.txt") << "x";
    std::ofstream(temp / "my-QtWebEngine-file") << "x";
    fs::create_directories(outside);
    std::ofstream(outside / "precious.txt") << "x";
    fs::create_directory_symlink(outside, temp / "QtWebEngine-link");

    QtMessages::Take();
    _QX::APP::CleanupWebEngine();
    const QStringList lines = QtMessages::Take();

    for (const char* gone : {"qtwebengine-leftover", "QUTEBROWSER-abc", "brolla.lock"}) {
        EXPECT_FALSE(fs::exists(temp / gone)) << gone;
        const QString line =
            QString("Removed: \"%1\"").arg(QString::fromStdString((temp / gone).string()));
        EXPECT_TRUE(lines.contains(line)) << line.toStdString();
    }
    EXPECT_FALSE(fs::is_symlink(temp / "QtWebEngine-link"));
    EXPECT_TRUE(fs::exists(outside / "precious.txt"));
    EXPECT_TRUE(fs::exists(temp / "keep.txt"));
    EXPECT_TRUE(fs::exists(temp / "my-QtWebEngine-file"));
    EXPECT_EQ(lines.filter("Removed:").size(), 4);
    EXPECT_EQ(lines.value(0), "Performing QtWebEngine cleanup...");
}

TEST(MainWindowTest, ReadsGeometryNeverWritesItAndLoadsOnlyTheFirstUrl) {
    _OS::ENV::REG<int>("Qt/Win_Main/WindowW", 640).Set(300);
    Code_MainWindow* window = Code_MainWindow::Create();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "MES");
    EXPECT_EQ(window->minimumSize(), QSize(640, 480));
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->pos(), QPoint(0, 0));
    EXPECT_EQ(window->size(), QSize(640, 640));

    std::thread worker([] { Code_MainWindow::OpenUrl("about:blank#first"); });
    worker.join();
    EXPECT_FALSE(window->isVisible()) << "the load is queued, not run on the calling thread";
    ASSERT_TRUE(ProcessEventsUntil([&] { return window->isVisible(); }));
    auto views = window->findChildren<QWebEngineView*>();
    ASSERT_EQ(views.size(), 1);
    ASSERT_TRUE(ProcessEventsUntil([&] { return views[0]->url() == QUrl("about:blank#first"); }));

    Code_MainWindow::OpenUrl("about:blank#second");
    bool after = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { after = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(ProcessEventsUntil([&] { return after; }));
    views = window->findChildren<QWebEngineView*>();
    ASSERT_EQ(views.size(), 1);
    EXPECT_EQ(views[0]->page()->requestedUrl(), QUrl("about:blank#first"));
    EXPECT_EQ(views[0]->page()->profile()->storageName(), "Mes.Profile");

    _OBJ<_OS::ENV::IRegDatabase> registry = _OS::ENV::GetRegDatabase();
    EXPECT_FALSE(registry->Get("Qt/Win_Main/WindowX"));
    EXPECT_FALSE(registry->Get("Qt/Win_Main/WindowH"));
    EXPECT_EQ(registry->Get("Qt/Win_Main/WindowW"), std::optional<std::string>("300"));
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    testing::InitGoogleTest(&argc, argv);
    if (s_Root.path.empty())
        return 1;
    fs::create_directories(fs::path(s_Root.path) / "work");
    fs::create_directories(fs::path(s_Root.path) / "tmp");
    if (chdir((s_Root.path + "/work").c_str()) != 0)
        return 1;
    setenv("TMPDIR", (s_Root.path + "/tmp").c_str(), 1);
    _OS::ENV::Initialize("Mes", argc, argv);
    _OS::ENV::SetDisplayName("MES");
    QtMessages::Install();
    _QX::APP::CreateApplication(argc, argv);
    const int result = RUN_ALL_TESTS();
    // The web engine must be down before static objects go away: its threads still run.
    qInstallMessageHandler(nullptr);
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<QMainWindow*>(widget))
            delete widget;
    KeepGlDriversLoaded();
    delete QCoreApplication::instance();
    return result;
}
