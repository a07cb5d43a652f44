#include "Support/ChildScenario.h"

#include <gtest/gtest-spi.h>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "Platform/Gcd.h"
#include "Support/ReadText.h"
#include "Support/Scratch.h"

namespace fs = std::filesystem;

namespace SUPPORT {

namespace {

// A child that hangs is ended well after any test's own limit.
constexpr std::chrono::minutes kChildLimit{5};

int ExitCode(int status) {
#ifdef _WIN32
    return status;
#else
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
}

[[noreturn]] void RunHere(const fs::path& dir, const std::function<int()>& body) {
    std::thread([] {
        std::this_thread::sleep_for(kChildLimit);
        std::fputs("child timed out\n", stderr);
        std::_Exit(124);
    }).detach();
    if (!std::freopen((dir / "out").string().c_str(), "w", stdout) ||
        !std::freopen((dir / "err").string().c_str(), "w", stderr)) {
        std::_Exit(125);
    }
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    const int code = body();
    std::ofstream(dir / "returned") << code;
    std::exit(code);
}

}  // namespace

CHILD_RESULT RunChild(const std::function<int()>& body) {
    const fs::path dir = NextScratchPath("child");
    fs::create_directories(dir);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::optional<int> status;
    const auto record = [&status](int s) {
        status = s;
        return true;
    };
    EXPECT_EXIT(RunHere(dir, body), record, "");
    // Here in the parent the status is known; a child running the test again reads it.
    if (status)
        std::ofstream(dir / "status") << ExitCode(*status);
    CHILD_RESULT result;
    std::istringstream(ReadText(dir / "status")) >> result.m_ExitCode;
    result.m_Returned = fs::exists(dir / "returned");
    result.m_Out = ReadText(dir / "out");
    result.m_Err = ReadText(dir / "err");
    return result;
}

CHILD_RESULT RunScenario(const std::function<void()>& scenario) {
    return RunChild([&scenario] {
        testing::TestPartResultArray results;
        {
            testing::ScopedFakeTestPartResultReporter reporter(
                testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
            scenario();
        }
        int failures = 0;
        for (int i = 0; i < results.size(); ++i) {
            const testing::TestPartResult& result = results.GetTestPartResult(i);
            if (!result.failed())
                continue;
            ++failures;
            std::fprintf(stderr, "%s:%d: %s\n", result.file_name() ? result.file_name() : "?",
                         result.line_number(), result.message());
        }
        return failures ? 1 : 0;
    });
}

void RunInDispatcher(const std::function<void()>& scenario) {
    _GCD::Run(
        [&scenario] {
            scenario();
            _GCD::Quit();
        },
        4);
}

}  // namespace SUPPORT
