#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Gcd.h"
#include "Qx/QxApp.h"

namespace {

using namespace std::chrono_literals;

int g_Argc = 1;
char g_Arg0[] = "QxAppTest";
char* g_Argv[] = {g_Arg0, nullptr};

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Each case that reads the system locale or starts Qt runs in a child process of its own.
void LoadWithLocale(const char* locale, const char* language) {
    setenv("LC_ALL", locale, 1);
    _QX::APP::LoadTranslator("HostTest", language);
    std::lock_guard<std::mutex> lock(_QX::APP::g_Mutex);
    if (!_QX::APP::g_Translator) {
        fprintf(stderr, "no translator\n");
        std::exit(0);
    }
    fprintf(stderr, "loaded %s\n", qPrintable(_QX::APP::g_Translator->filePath()));
    std::exit(0);
}

TEST(QxAppTest, LanguageForLocale) {
    using _QX::APP::LanguageForLocale;
    EXPECT_EQ(LanguageForLocale(QLocale::English, QLocale::LatinScript), "en");
    EXPECT_EQ(LanguageForLocale(QLocale::German, QLocale::LatinScript), "en");
    EXPECT_EQ(LanguageForLocale(QLocale::Japanese, QLocale::HanScript), "en");
    EXPECT_EQ(LanguageForLocale(QLocale::Chinese, QLocale::SimplifiedHanScript), "zh_CN");
    EXPECT_EQ(LanguageForLocale(QLocale::Chinese, QLocale::TraditionalHanScript), "zh_TW");
    EXPECT_EQ(LanguageForLocale(QLocale::Chinese, QLocale::LatinScript), "");
    EXPECT_EQ(LanguageForLocale(QLocale::Chinese, QLocale::AnyScript), "");
}

TEST(QxAppTest, TranslatorFollowsTheSystemLocale) {
    EXPECT_EXIT(LoadWithLocale("zh_CN.UTF-8", ""), testing::ExitedWithCode(0),
                "loaded :/i18n/HostTest_zh_CN.qm");
    EXPECT_EXIT(LoadWithLocale("zh_TW.UTF-8", ""), testing::ExitedWithCode(0),
                "loaded :/i18n/HostTest_zh_TW.qm");
    EXPECT_EXIT(LoadWithLocale("de_DE.UTF-8", ""), testing::ExitedWithCode(0),
                "loaded :/i18n/HostTest_en.qm");
}

TEST(QxAppTest, GivenLanguageWins) {
    EXPECT_EXIT(LoadWithLocale("zh_CN.UTF-8", "en"), testing::ExitedWithCode(0),
                "loaded :/i18n/HostTest_en.qm");
}

TEST(QxAppTest, MissingTranslationLeavesNoTranslator) {
    EXPECT_EXIT(LoadWithLocale("en_US.UTF-8", "fr"), testing::ExitedWithCode(0), "no translator");
}

void Check(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "FAILED: %s\n", what);
        std::exit(1);
    }
}

// A worker's "Shutdown" box: the worker waits until the operator closes it, then the loop
// ends; after ShutdownApp no thread sees the application any more.
void ShutdownFlow() {
    _GCD::Run(
        [] {
            QApplication* app = _QX::APP::CreateApplication(g_Argc, g_Argv);
            Check(app && _QX::APP::GetApplication() == app, "application recorded");

            std::atomic<bool> returned{false};
            bool sawBoxWhileWaiting = false;
            _GCD::Post(
                [&] {
                    _QX::APP::ShutdownWithMessage("Cannot connect to Bartender");
                    returned = true;
                },
                2);

            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box)
                    return;
                poll.stop();
                sawBoxWhileWaiting = box->windowTitle() == "Shutdown" &&
                                     box->text() == "Cannot connect to Bartender" && !returned;
                box->button(QMessageBox::Ok)->click();
            });
            poll.start(5);
            QTimer::singleShot(20000, [] { QCoreApplication::exit(2); });
            const int code = QApplication::exec();
            Check(code == 0, "loop ended by the box");
            Check(sawBoxWhileWaiting, "box shown while the worker waited");
            Check(WaitFor([&] { return returned.load(); }), "worker returned");

            _QX::APP::ShutdownApp();
            Check(_QX::APP::GetApplication() == nullptr, "null on the main thread");
            std::atomic<int> seen{-1};
            _GCD::Post([&] { seen = _QX::APP::GetApplication() == nullptr; }, 2);
            Check(WaitFor([&] { return seen.load() != -1; }) && seen == 1, "null on a worker");
            std::atomic<int> late{-1};
            _GCD::Post([&] { late = _QX::APP::InvokeBlocking([] {}); }, 2);
            Check(WaitFor([&] { return late.load() != -1; }) && late == 0,
                  "blocking call after shutdown returns at once");
            _GCD::Quit();
        },
        2);
    std::exit(0);
}

TEST(QxAppTest, ShutdownWithMessageWaitsForTheBoxThenEndsTheLoop) {
    EXPECT_EXIT(ShutdownFlow(), testing::ExitedWithCode(0), "");
}

// A worker that asks for the main thread after the loop's last turn but before ShutdownApp:
// its call is queued and would never run. ShutdownApp must release it.
void LateCallFlow() {
    _GCD::Run(
        [] {
            _QX::APP::CreateApplication(g_Argc, g_Argv);
            QTimer::singleShot(0, [] { QCoreApplication::quit(); });
            QApplication::exec();

            std::atomic<bool> calling{false};
            std::atomic<bool> returned{false};
            std::atomic<bool> ran{false};
            _GCD::Post(
                [&] {
                    calling = true;
                    _QX::APP::InvokeBlocking([&] { ran = true; });
                    returned = true;
                },
                2);
            Check(WaitFor([&] { return calling.load(); }), "worker started");
            // Nothing serves the call now, so the worker cannot return: give it time to
            // queue it. Had it not queued it yet, it finds no application; both must end.
            Check(!WaitFor([&] { return returned.load(); }, std::chrono::seconds(1)),
                  "call not served after the loop");
            _QX::APP::ShutdownApp();
            Check(WaitFor([&] { return returned.load(); }), "late caller released");
            Check(!ran, "dropped call did not run");
            _GCD::Quit();
        },
        2);
    std::exit(0);
}

TEST(QxAppTest, BlockingCallRacingTheEndOfTheLoopIsReleased) {
    EXPECT_EXIT(LateCallFlow(), testing::ExitedWithCode(0), "");
}

// Plain (non-atomic) data written by a worker, read and answered on the main thread through
// InvokeBlocking: the hand-over must order both directions, as ThreadSanitizer checks.
void HandOverFlow() {
    _GCD::Run(
        [] {
            _QX::APP::CreateApplication(g_Argc, g_Argv);
            std::atomic<bool> done{false};
            std::atomic<bool> allSeen{true};
            _GCD::Post(
                [&] {
                    for (int i = 0; i < 200; ++i) {
                        std::vector<int> request(4, i);
                        std::string answer;
                        const bool ran = _QX::APP::InvokeBlocking([&] {
                            answer = std::to_string(request[0] + request[3]);
                            request.assign(1, -1);
                        });
                        if (!ran || answer != std::to_string(2 * i) ||
                            request != std::vector<int>{-1})
                            allSeen = false;
                    }
                    done = true;
                },
                2);
            // Serving the calls straight from the queue, never through the event loop's
            // wake-up, leaves Qt's event queue as the only order between the threads.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!done && std::chrono::steady_clock::now() < deadline)
                QCoreApplication::sendPostedEvents();
            Check(done, "worker finished in time");
            Check(allSeen, "each side saw the other's writes");
            _QX::APP::ShutdownApp();
            _GCD::Quit();
        },
        2);
    std::exit(0);
}

TEST(QxAppTest, BlockingCallHandsPlainDataBothWays) {
    EXPECT_EXIT(HandOverFlow(), testing::ExitedWithCode(0), "");
}

// A task that throws on the main thread: the exception stays there and is logged, its caller
// hears false, and the event loop goes on serving.
void ThrowingTaskFlow() {
    std::ostringstream log;
    spdlog::register_logger(std::make_shared<spdlog::logger>(
        "capture", std::make_shared<spdlog::sinks::ostream_sink_mt>(log)));
    _GCD::Run(
        [&log] {
            _QX::APP::CreateApplication(g_Argc, g_Argv);
            std::atomic<int> thrown{-1};
            std::atomic<int> next{-1};
            _GCD::Post(
                [&] {
                    thrown =
                        _QX::APP::InvokeBlocking([] { throw std::runtime_error("no engine"); });
                    next = _QX::APP::InvokeBlocking([] {});
                    _QX::APP::InvokeBlocking([] { QCoreApplication::quit(); });
                },
                2);
            QTimer::singleShot(20000, [] { QCoreApplication::exit(2); });
            Check(QApplication::exec() == 0, "loop ended by the worker");
            Check(thrown == 0, "the caller heard false");
            Check(next == 1, "the next call was served");
            Check(log.str().find("no engine") != std::string::npos, "the reason was logged");
            _QX::APP::ShutdownApp();
            _GCD::Quit();
        },
        2);
    std::exit(0);
}

TEST(QxAppTest, ThrowingTaskReportsFailureToItsCaller) {
    EXPECT_EXIT(ThrowingTaskFlow(), testing::ExitedWithCode(0), "");
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
