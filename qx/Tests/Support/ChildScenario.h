#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

// Scenarios that need a process of their own: the dispatcher runs once per process, and some
// tests change process-wide state. A child is this test program started again by GoogleTest's
// death-test machinery ("threadsafe" style, also on Windows): it runs the current test from its
// start up to the call, so whatever the test did before runs again there, and earlier child
// runs of the test give the child the results they gave the parent.
namespace SUPPORT {

struct CHILD_RESULT {
    int m_ExitCode = -1;      // 128 + signal number for a signal
    bool m_Returned = false;  // false when the process ended inside the body (HALT, a crash)
    std::string m_Out;
    std::string m_Err;
};

// Runs body in a child with standard output and error captured; its result is the exit code.
CHILD_RESULT RunChild(const std::function<int()>& body);

// Runs scenario in a child, collecting the failed expectations of every thread (they are
// written to m_Err); the exit code is 0 when none failed.
CHILD_RESULT RunScenario(const std::function<void()>& scenario);

// True in a child: code of the test that only the parent may run (holding a lock that the
// child must find held) asks this.
bool InChild();

// _GCD::Run with four pool workers and the scenario as its start task, then Quit.
void RunInDispatcher(const std::function<void()>& scenario);

}  // namespace SUPPORT

// Passes when the scenario returned in its child and nothing failed there.
#define EXPECT_CHILD_PASSES(...)                                                     \
    do {                                                                             \
        const ::SUPPORT::CHILD_RESULT qxChild = ::SUPPORT::RunScenario(__VA_ARGS__); \
        EXPECT_TRUE(qxChild.m_Returned&& qxChild.m_ExitCode == 0)                    \
            << "exit code " << qxChild.m_ExitCode << "\n"                            \
            << qxChild.m_Err << qxChild.m_Out;                                       \
    } while (0)

// Inside a child: a failed check is written to standard error and ends the child with 1.
#define CHILD_CHECK(cond)                                                                  \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::fflush(stderr);                                                           \
            std::_Exit(1);                                                                 \
        }                                                                                  \
    } while (0)

// A test whose body runs as the start task of _GCD::Run in a child of its own.
#define QX_DISPATCHER_TEST(suite, name)                                                     \
    static void suite##_##name##_Scenario();                                                \
    TEST(suite, name) {                                                                     \
        EXPECT_CHILD_PASSES([] { ::SUPPORT::RunInDispatcher(suite##_##name##_Scenario); }); \
    }                                                                                       \
    static void suite##_##name##_Scenario()
