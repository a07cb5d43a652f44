#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

// The dispatcher runs once per process, so every case that runs it does so in a death-test
// child. "threadsafe" re-executes the binary for the child instead of forking a threaded one.
// Set when the tests start: GoogleTest's own flag may not be constructed yet while this
// header's globals are, and its construction would overwrite a value set then.
struct THREADSAFE_DEATH_TESTS : testing::Environment {
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};
inline testing::Environment* const kThreadsafeDeathTests =
    testing::AddGlobalTestEnvironment(new THREADSAFE_DEATH_TESTS);

// Inside a child: a failed check is written to standard error and ends the child with 1.
#define CHILD_CHECK(cond)                                                                  \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::fflush(stderr);                                                           \
            std::_Exit(1);                                                                 \
        }                                                                                  \
    } while (0)

// Polls a condition until it holds or the deadline passes; the happy path returns at once.
template <typename Pred>
bool WaitFor(Pred pred, std::chrono::seconds deadline = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs a scenario in a child process; it passes when the child ends with status 0.
#define EXPECT_CHILD_PASSES(scenario) \
    EXPECT_EXIT(                      \
        {                             \
            scenario();               \
            std::exit(0);             \
        },                            \
        testing::ExitedWithCode(0), "")
