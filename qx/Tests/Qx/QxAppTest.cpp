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
#include "Support/ChildScenario.h"
#include "Support/Wait.h"

namespace {

using namespace std::chrono_literals;
using SUPPORT::WaitUntil;

int g_Argc = 1;
char g_Arg0[] = "QxAppTest";
char* g_Argv[] = {g_Arg0, nullptr};

// Each case that reads the system locale or starts Qt runs in a child process of its own.
// The translator loaded for the locale and language, if any.
std::string LoadWithLocale(const char* locale, const char* language) {
    return SUPPORT::RunChild([&] {
               setenv("LC_ALL", locale, 1);
               _QX::APP::LoadTranslator("HostTest", language);
               std::lock_guard<std::mutex> lock(_QX::APP::g_Mutex);
               if (_QX::APP::g_Translator)
                   std::printf("%s\n", qPrintable(_QX::APP::g_Translator->filePath()));
               return 0;
           })
        .m_Out;
}

// The language decides before the script; the common locales show below.
TEST(QxAppTest, LanguageForLocale) {
    using _QX::APP::LanguageForLocale;
    EXPECT_EQ(LanguageForLocale(QLocale::Japanese, QLocale::HanScript), "en");
    EXPECT_EQ(LanguageForLocale(QLocale::Chinese, QLocale::LatinScript), "");
}

// A given language wins over the locale; one without a translation leaves none.
TEST(QxAppTest, TranslatorFollowsTheSystemLocaleOrTheGivenLanguage) {
    EXPECT_EQ(LoadWithLocale("zh_CN.UTF-8", ""), ":/i18n/HostTest_zh_CN.qm\n");
    EXPECT_EQ(LoadWithLocale("zh_TW.UTF-8", ""), ":/i18n/HostTest_zh_TW.qm\n");
    EXPECT_EQ(LoadWithLocale("de_DE.UTF-8", ""), ":/i18n/HostTest_en.qm\n");
    EXPECT_EQ(LoadWithLocale("zh_CN.UTF-8", "en"), ":/i18n/HostTest_en.qm\n");
    EXPECT_EQ(LoadWithLocale("en_US.UTF-8", "fr"), "");
}

// A worker's "Shutdown" box: the worker waits until the operator closes it, then the loop
// ends; after ShutdownApp no thread sees the application any more.
void ShutdownFlow() {
    _GCD::Run(
        [] {
            QApplication* app = _QX::APP::CreateApplication(g_Argc, g_Argv);
            CHILD_CHECK(app && _QX::APP::GetApplication() == app);

            std::atomic<bool> returned{false};
            bool sawBoxWhileWaiting = false;
            _GCD::Post(
                [&] {
                    _QX::APP::ShutdownWithMessage("Cannot connect to Bartender");
                    returned = true;
                },
                _GCD::QUEUE_POOL);

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
            CHILD_CHECK(code == 0);
            CHILD_CHECK(sawBoxWhileWaiting);
            CHILD_CHECK(WaitUntil([&] { return returned.load(); }));

            _QX::APP::ShutdownApp();
            CHILD_CHECK(_QX::APP::GetApplication() == nullptr);
            std::atomic<int> seen{-1};
            _GCD::Post([&] { seen = _QX::APP::GetApplication() == nullptr; }, _GCD::QUEUE_POOL);
            CHILD_CHECK(WaitUntil([&] { return seen.load() != -1; }) && seen == 1);
            std::atomic<int> late{-1};
            _GCD::Post([&] { late = _QX::APP::InvokeBlocking([] {}); }, _GCD::QUEUE_POOL);
            CHILD_CHECK(WaitUntil([&] { return late.load() != -1; }) && late == 0);
            _GCD::Quit();
        },
        2);
}

TEST(QxAppTest, ShutdownWithMessageWaitsForTheBoxThenEndsTheLoop) {
    EXPECT_CHILD_PASSES(ShutdownFlow);
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
                _GCD::QUEUE_POOL);
            CHILD_CHECK(WaitUntil([&] { return calling.load(); }));
            // Nothing serves the call now, so the worker cannot return: give it time to
            // queue it. Had it not queued it yet, it finds no application; both must end.
            CHILD_CHECK(!WaitUntil([&] { return returned.load(); }, std::chrono::seconds(1)));
            _QX::APP::ShutdownApp();
            CHILD_CHECK(WaitUntil([&] { return returned.load(); }));
            CHILD_CHECK(!ran);
            _GCD::Quit();
        },
        2);
}

TEST(QxAppTest, BlockingCallRacingTheEndOfTheLoopIsReleased) {
    EXPECT_CHILD_PASSES(LateCallFlow);
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
                _GCD::QUEUE_POOL);
            // Serving the calls straight from the queue, never through the event loop's
            // wake-up, leaves Qt's event queue as the only order between the threads.
            CHILD_CHECK(WaitUntil([&] {
                QCoreApplication::sendPostedEvents();
                return done.load();
            }));
            CHILD_CHECK(allSeen);
            _QX::APP::ShutdownApp();
            _GCD::Quit();
        },
        2);
}

TEST(QxAppTest, BlockingCallHandsPlainDataBothWays) {
    EXPECT_CHILD_PASSES(HandOverFlow);
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
                _GCD::QUEUE_POOL);
            QTimer::singleShot(20000, [] { QCoreApplication::exit(2); });
            CHILD_CHECK(QApplication::exec() == 0);
            CHILD_CHECK(thrown == 0);
            CHILD_CHECK(next == 1);
            CHILD_CHECK(log.str().find("no engine") != std::string::npos);
            _QX::APP::ShutdownApp();
            _GCD::Quit();
        },
        2);
}

TEST(QxAppTest, ThrowingTaskReportsFailureToItsCaller) {
    EXPECT_CHILD_PASSES(ThrowingTaskFlow);
}

}  // namespace
