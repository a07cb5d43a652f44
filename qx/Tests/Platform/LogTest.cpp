#include <gtest/gtest.h>

#include <spdlog/details/os.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Platform/CBaseLogger.h"
#include "Platform/Gcd.h"
#include "Platform/Log.h"
#include "Support/ChildScenario.h"

namespace {

// Log lines as spdlog ends them: "\r\n" on Windows, "\n" elsewhere.
std::string Lines(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines)
        text += std::string(line) + spdlog::details::os::default_eol;
    return text;
}

// Sets or, with an empty value, removes the variable for this process.
void SetLevelVariable(const char* value) {
#ifdef _WIN32
    _putenv_s("SPDLOG_LEVEL", value);
#else
    if (*value)
        setenv("SPDLOG_LEVEL", value, 1);
    else
        unsetenv("SPDLOG_LEVEL");
#endif
}

// A logger registered with spdlog that writes "<level>:<text>" lines into a string. It leaves
// the registry with the object: later log calls of the process must not reach a dead stream.
struct Capture {
    explicit Capture(const std::string& name)
        : logger(std::make_shared<spdlog::logger>(
              name, std::make_shared<spdlog::sinks::ostream_sink_mt>(stream))) {
        logger->set_pattern("%l:%v");
        spdlog::register_logger(logger);
    }
    ~Capture() { spdlog::drop(logger->name()); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    std::string Text() const { return stream.str(); }

    std::ostringstream stream;
    std::shared_ptr<spdlog::logger> logger;
};

TEST(LogTest, BracesAreLoggedLiterally) {
    Capture capture("braces");
    _LOG::Level(_LOG::LEVEL_TRACE);
    _LOG::Info("a {} b {0} c {:>5} {");
    _LOG::Error("}{");
    EXPECT_EQ(capture.Text(), Lines({"info:a {} b {0} c {:>5} {", "error:}{"}));
}

// A text from outside can neither add lines nor reach a terminal as a control sequence; the
// rest of it, Chinese and invalid UTF-8 included, stays as it is.
TEST(LogTest, ControlCharactersAreEscaped) {
    Capture capture("escapes");
    _LOG::Level(_LOG::LEVEL_TRACE);
    _LOG::Info(
        "a\nb\r\tc\x1b[2J\x01\x7f \xc2\x9b\xc2\x85\xc2\xa0 "
        "\xe2\x80\xa8\xe2\x80\xa9\xef\xb7\x90\xef\xb7\x91 中\xff\xc2");
    EXPECT_EQ(capture.Text(), Lines({"info:a\\nb\\r\\tc\\x1b[2J\\x01\\x7f \\u009b\\u0085\xc2\xa0 "
                                     "\\u2028\\u2029\\ufdd0\\ufdd1 中\xff\xc2"}));
}

TEST(LogTest, LevelsOutsideTheRangeTurnLoggingOff) {
    Capture capture("range");
    for (int value : {6, 7, -1, 1000}) {
        _LOG::Level(_LOG::LEVEL_TRACE);
        _LOG::Level(static_cast<_LOG::LEVEL>(value));
        EXPECT_EQ(capture.logger->level(), spdlog::level::off);
        _LOG::Critical("critical");
        _LOG::Debug("debug");
    }
    EXPECT_EQ(capture.Text(), "");
    _LOG::Level(_LOG::LEVEL_WARN);
    EXPECT_EQ(capture.logger->level(), spdlog::level::warn);
    _LOG::Info("info");
    _LOG::Error("error");
    EXPECT_EQ(capture.Text(), Lines({"error:error"}));
}

TEST(LogTest, PatternAppliesToEveryRegisteredLogger) {
    Capture first("first");
    Capture second("second");
    _LOG::Level(_LOG::LEVEL_TRACE);
    _LOG::Pattern("<%n> %^[%l]%$ %v");
    _LOG::Info("x");
    EXPECT_EQ(first.Text(), Lines({"<first> [info] x"}));
    EXPECT_EQ(second.Text(), Lines({"<second> [info] x"}));
}

// Racing first log calls wait for the environment to be applied, and it is read only once.
void EnvironmentLevelIsReadOnceUnderRacingFirstCalls() {
    SetLevelVariable("error");
    static Capture capture("race");
    _LOG::Level(_LOG::LEVEL_TRACE);  // replaced by the environment at the first log call
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&go] {
            while (!go)
                std::this_thread::yield();
            _LOG::Info("early");
        });
    }
    go = true;
    for (auto& t : threads)
        t.join();
    CHILD_CHECK(capture.Text() == "");
    CHILD_CHECK(capture.logger->level() == spdlog::level::err);

    SetLevelVariable("off");
    _LOG::Level(_LOG::LEVEL_DEBUG);  // set after the first call: it stays
    _LOG::Debug("later");
    CHILD_CHECK(capture.Text() == Lines({"debug:later"}));
}

TEST(LogTest, EnvironmentLevelIsReadOnceUnderRacingFirstCalls) {
    EXPECT_CHILD_PASSES(EnvironmentLevelIsReadOnceUnderRacingFirstCalls);
}

// The first log call registers the spdlog shutdown as an exit task: it runs in the
// dispatcher's exit phase in registration order, and nothing is logged afterwards.
void ShutdownRunsAsExitTask() {
    SetLevelVariable("");
    static Capture capture("exit");
    static std::atomic<bool> earlierRanWithLogger{false};
    static std::atomic<bool> laterSawNoLogger{false};
    _GCD::AtExit([] { earlierRanWithLogger = spdlog::get("exit") != nullptr; });
    _GCD::Run(
        [] {
            _LOG::Level(_LOG::LEVEL_TRACE);
            _LOG::Info("from start");
            _GCD::Post([] { _LOG::Info("from queue"); }, _GCD::QUEUE_POOL);
            _GCD::AtExit([] { laterSawNoLogger = spdlog::get("exit") == nullptr; });
            _GCD::Quit();
        },
        2);
    CHILD_CHECK(earlierRanWithLogger);
    CHILD_CHECK(laterSawNoLogger);
    _LOG::Info("after exit");
    CHILD_CHECK(capture.Text() == Lines({"info:from start", "info:from queue"}));
}

TEST(LogTest, ShutdownRunsAsExitTask) {
    EXPECT_CHILD_PASSES(ShutdownRunsAsExitTask);
}

// Without a logger every call does nothing; with one, each call has its fixed or mapped level.
TEST(LogTest, BaseLoggerUsesFixedAndMappedLevels) {
    _LOG::CBaseLogger base;
    base.Trace("t");
    base.Log(_LOG::LEVEL_INFO, "i");
    base.SetLevel(_LOG::LEVEL_DEBUG);
    base.SetPattern("%v");
    base.Flush();
    auto stream = std::make_shared<std::ostringstream>();
    base.m_Logger = std::make_shared<spdlog::logger>(
        "base", std::make_shared<spdlog::sinks::ostream_sink_mt>(*stream));
    base.SetPattern("%l:%v");
    base.SetLevel(_LOG::LEVEL_TRACE);
    base.Trace("{}");
    base.Warn("w");
    base.Log(_LOG::LEVEL_CRITICAL, "c");
    base.Log(static_cast<_LOG::LEVEL>(9), "never");
    base.Info("one\nline");
    base.Flush();
    EXPECT_EQ(stream->str(), Lines({"trace:{}", "warning:w", "critical:c", "info:one\\nline"}));
}

}  // namespace
