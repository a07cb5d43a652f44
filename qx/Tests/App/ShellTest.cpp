#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "App/CLockFile.h"
#include "App/CleanupWebEngine.h"
#include "App/Code_MainWindow.h"
#include "App/QtMessages.h"
#include "App/WebEngineProcess.h"
#include "Platform/Env.h"
#include "Platform/Reg.h"
#include "Qx/QxApp.h"
#include "Support/ReadText.h"
#include "Support/TempDir.h"
#include "Support/Wait.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(CleanupWebEngineTest, RemovesLeftoversInAnyCaseOnly) {
    const fs::path temp = QDir::tempPath().toStdString();
    const fs::path outside = temp.parent_path() / "outside";
    fs::create_directories(temp / "qtwebengine-leftover" / "inner");
    std::ofstream(temp / "qtwebengine-leftover" / "inner" / "file") << "x";
    std::ofstream(temp / "QUTEBROWSER-abc") << "x";
    std::ofstream(temp / "keep.txt") << "x";
    std::ofstream(temp / "my-QtWebEngine-file") << "x";
    fs::create_directories(outside);
    std::ofstream(outside / "precious.txt") << "x";
    fs::create_directory_symlink(outside, temp / "QtWebEngine-link");

    QtMessages::Take();
    _QX::APP::CleanupWebEngine();
    const QStringList lines = QtMessages::Take();

    for (const char* gone : {"qtwebengine-leftover", "QUTEBROWSER-abc"}) {
        EXPECT_FALSE(fs::exists(temp / gone)) << gone;
        const QString line =
            QString("Removed: \"%1\"").arg(QString::fromStdString((temp / gone).string()));
        EXPECT_TRUE(lines.contains(line)) << line.toStdString();
    }
    EXPECT_FALSE(fs::is_symlink(temp / "QtWebEngine-link"));
    EXPECT_TRUE(fs::exists(outside / "precious.txt"));
    EXPECT_TRUE(fs::exists(temp / "keep.txt"));
    EXPECT_TRUE(fs::exists(temp / "my-QtWebEngine-file"));
    EXPECT_EQ(lines.filter("Removed:").size(), 3);
    EXPECT_EQ(lines.value(0), "Performing QtWebEngine cleanup...");
}

// Whatever is in the lock file's place is replaced, never followed or waited on; a folder is
// left alone. Should the lock step wait on the FIFO, the case releases it and fails.
TEST(LockFileTest, EntryInItsPlaceIsReplacedNotFollowedNorWaitedOn) {
    SUPPORT::TEMP_DIR temp;
    const fs::path path = temp.m_Path / "brolla.lock";
    const fs::path precious = temp.m_Path / "precious.txt";
    std::ofstream(precious) << "precious";
    const auto replaced = [&] {
        const _QX::CLockFile lock(path);
        return lock.Held() && fs::is_regular_file(fs::symlink_status(path)) &&
               fs::file_size(path) == 0;
    };

    fs::create_symlink(precious, path);
    EXPECT_TRUE(replaced());
    fs::create_hard_link(precious, path);
    EXPECT_TRUE(replaced());
    EXPECT_EQ(SUPPORT::ReadText(precious), "precious");

    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    std::atomic<bool> done{false};
    bool held = false;
    std::thread locker([&] {
        held = replaced();
        done = true;
    });
    const bool returned = SUPPORT::WaitUntil([&] { return done.load(); }, 10s);
    if (!returned)
        close(open(path.c_str(), O_RDONLY | O_NONBLOCK));
    locker.join();
    EXPECT_TRUE(returned) << "the lock step waited on a FIFO";
    EXPECT_TRUE(held);

    fs::create_directory(path);
    EXPECT_FALSE(_QX::CLockFile(path).Held());
    EXPECT_TRUE(fs::is_directory(path));
}

// A second instance is kept off what the lock guards for as long as the first runs, and the next
// one after the first's end holds it again.
TEST(LockFileTest, HeldLockKeepsTheNextInstanceOutUntilItsHolderEnds) {
    SUPPORT::TEMP_DIR data;
    const fs::path path = data.m_Path / "Mes.Profile.lock";
    {
        const _QX::CLockFile first(path);
        ASSERT_TRUE(first.Held());
        EXPECT_FALSE(_QX::CLockFile(path).Held());
        EXPECT_TRUE(fs::exists(path));
    }
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(_QX::CLockFile(path).Held());
}

TEST(MainWindowTest, ReadsGeometryNeverWritesItAndLoadsOnlyTheFirstUrl) {
    _OS::ENV::REG<int>("Qt/Win_Main/WindowW", 640).Set(300);
    Code_MainWindow* window = Code_MainWindow::Create(true);
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
