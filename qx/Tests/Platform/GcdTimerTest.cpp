#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "Platform/Gcd.h"
#include "Support/ChildScenario.h"
#include "Support/Wait.h"

namespace {

using SUPPORT::WaitUntil;

constexpr uint64_t kMs = 1000;
constexpr uint64_t kHour = 3600 * 1000 * kMs;

// A task runs again every interval while it returns true; the timer thread schedules too.
void RepeatsWhileTrue() {
    static std::atomic<int> runs{0};
    static std::atomic<int> runsAtProbe{-1};
    _GCD::Run(
        [] {
            _GCD::ScheduleTimer(kMs, [] {
                if (++runs < 3)
                    return true;
                // Probe well after a fourth run would have been due.
                _GCD::ScheduleTimer(50 * kMs, [] {
                    runsAtProbe = runs.load();
                    return false;
                });
                return false;
            });
            CHILD_CHECK(WaitUntil([] { return runsAtProbe >= 0; }));
            _GCD::Quit();
        },
        1);
    CHILD_CHECK(runsAtProbe == 3);
}

TEST(GcdTimerTest, RepeatsWhileTrue) {
    EXPECT_CHILD_PASSES(RepeatsWhileTrue);
}

// The thread waits for a ten-second timer; an earlier one scheduled after it must wake
// the thread and run first.
void EarlierTimerWakesTheThread() {
    static std::atomic<int> order{0};
    static std::atomic<int> shortAt{0};
    static std::atomic<int> longAt{0};
    _GCD::Run(
        [] {
            _GCD::ScheduleTimer(10'000 * kMs, [] {
                longAt = ++order;
                return false;
            });
            const auto scheduled = std::chrono::steady_clock::now();
            _GCD::ScheduleTimer(5 * kMs, [scheduled] {
                // Well before the ten-second timer would have ended the wait.
                CHILD_CHECK(std::chrono::steady_clock::now() - scheduled < std::chrono::seconds(5));
                shortAt = ++order;
                return false;
            });
            CHILD_CHECK(WaitUntil([] { return order >= 1; }));
            _GCD::Quit();
        },
        1);
    CHILD_CHECK(shortAt == 1 && longAt == 0);
}

TEST(GcdTimerTest, EarlierTimerWakesTheThread) {
    EXPECT_CHILD_PASSES(EarlierTimerWakesTheThread);
}

// Pending timers are dropped at stop; one still running when the dispatcher quits
// finishes before the timer thread is joined.
void PendingTimersAreDiscardedAtStop() {
    static std::atomic<bool> entered{false};
    static std::atomic<bool> finished{false};
    static std::atomic<int> pendingRuns{0};
    static std::weak_ptr<int> pendingCapture;
    _GCD::Run(
        [] {
            auto capture = std::make_shared<int>(1);
            pendingCapture = capture;
            _GCD::ScheduleTimer(kHour, [capture] {
                ++pendingRuns;
                return false;
            });
            _GCD::ScheduleTimer(kMs, [] {
                if (entered.exchange(true))
                    return false;
                CHILD_CHECK(WaitUntil([] { return _GCD::Post([] {}, _GCD::QUEUE_SERIAL) == 0; }));
                finished = true;
                return true;
            });
            CHILD_CHECK(WaitUntil([] { return entered.load(); }));
            _GCD::Quit();
        },
        1);
    CHILD_CHECK(finished);
    CHILD_CHECK(pendingRuns == 0);
    CHILD_CHECK(pendingCapture.expired());
}

TEST(GcdTimerTest, PendingTimersAreDiscardedAtStop) {
    EXPECT_CHILD_PASSES(PendingTimersAreDiscardedAtStop);
}

}  // namespace
