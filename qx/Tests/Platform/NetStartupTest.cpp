#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "Platform/Gcd.h"
#include "Platform/NetStartup.h"
#include "Platform/Winsock.h"
#include "Support/ChildScenario.h"

namespace {

// The socket library as the tests see it: start-ups answer with the queued codes (0 once
// they run out); every call is written to a log.
std::vector<int> g_Codes;
std::string g_Log;

int FakeStartup() {
    int code = 0;
    if (!g_Codes.empty()) {
        code = g_Codes.front();
        g_Codes.erase(g_Codes.begin());
    }
    g_Log += "startup(" + std::to_string(code) + ") ";
    return code;
}

void FakeCleanup() {
    g_Log += "cleanup ";
}

// Runs the dispatcher in a child whose start task makes the given number of start-up calls,
// with exit tasks registered before and after them; stdout receives the call log.
SUPPORT::CHILD_RESULT RunStartups(const std::vector<int>& codes, int calls) {
    return SUPPORT::RunChild([&] {
        g_Codes = codes;
        _OS::SetWinsockCalls({FakeStartup, FakeCleanup});
        _GCD::Run(
            [calls] {
                _GCD::AtExit([] { g_Log += "first-exit "; });
                for (int i = 0; i < calls; ++i)
                    g_Log += _NET::Startup() ? "true " : "false ";
                _GCD::AtExit([] { g_Log += "last-exit "; });
                g_Log += "| ";
                _GCD::Quit();
            },
            1);
        std::cout << g_Log;
        return 0;
    });
}

TEST(NetStartup, StartsOnceAndCleansUpOnceAtExit) {
    const SUPPORT::CHILD_RESULT result = RunStartups({}, 3);
    ASSERT_EQ(result.m_ExitCode, 0) << result.m_Err;
    EXPECT_EQ(result.m_Out, "startup(0) true true true | first-exit cleanup last-exit ");
    EXPECT_EQ(result.m_Err, "");
}

TEST(NetStartup, FailedStartupIsReportedAndRetried) {
    const SUPPORT::CHILD_RESULT result = RunStartups({10091}, 3);
    ASSERT_EQ(result.m_ExitCode, 0) << result.m_Err;
    EXPECT_EQ(result.m_Out,
              "startup(10091) false startup(0) true true | first-exit cleanup last-exit ");
    EXPECT_EQ(result.m_Err, "Windows WSAStartup() failed with error: 10091\n");
}

TEST(NetStartup, NoCleanupWhenEveryStartupFailed) {
    const SUPPORT::CHILD_RESULT result = RunStartups({10091, -3}, 2);
    ASSERT_EQ(result.m_ExitCode, 0) << result.m_Err;
    EXPECT_EQ(result.m_Out, "startup(10091) false startup(-3) false | first-exit last-exit ");
    EXPECT_EQ(result.m_Err,
              "Windows WSAStartup() failed with error: 10091\n"
              "Windows WSAStartup() failed with error: -3\n");
}

}  // namespace
