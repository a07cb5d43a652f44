#include "Platform/GcdTimer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <list>
#include <mutex>
#include <thread>

#include "Platform/Gcd.h"

namespace _GCD {

namespace {

struct Timer {
    int64_t due = 0;  // steady clock, nanoseconds
    uint64_t intervalUs = 0;
    int32_t id = 0;
    TimerTask task;
};

// Lock order: the timer thread never holds both locks; a scheduler takes the wait lock
// only after releasing the list lock.
struct TimerState {
    std::mutex listLock;
    std::list<Timer> list;  // ascending due time; holds a far-away sentinel while running
    uint32_t counter = 0;

    std::mutex waitLock;
    std::condition_variable wakeUp;
    bool wake = false;

    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    std::thread thread;
};

// Never destroyed: a HALT on another thread runs static destructors while this thread waits.
TimerState& State() {
    static TimerState* state = new TimerState;
    return *state;
}

constexpr int64_t kSentinelDueNs = 3'153'600'000'000'000'000;  // 100 years
constexpr uint64_t kSentinelIntervalUs = 3'153'600'000'000'000;
constexpr int64_t kMaxWaitMs = 86'400'000;  // one day per wait

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Saturates instead of wrapping into the past for huge intervals.
int64_t DueAfter(int64_t now, uint64_t intervalUs) {
    const uint64_t room = static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - now);
    if (intervalUs > room / 1000)
        return std::numeric_limits<int64_t>::max();
    return now + static_cast<int64_t>(intervalUs * 1000);
}

// Under the list lock. Id 0 means "none", so the counter skips it when it wraps.
uint32_t NextCounter(TimerState& s) {
    if (++s.counter == 0)
        ++s.counter;
    return s.counter;
}

// Under the list lock: a new timer goes ahead of any with the same due time.
void Insert(TimerState& s, Timer timer) {
    auto at = std::find_if(s.list.begin(), s.list.end(),
                           [&timer](const Timer& t) { return t.due >= timer.due; });
    s.list.insert(at, std::move(timer));
}

void WakeTimerThread(TimerState& s) {
    std::lock_guard<std::mutex> lock(s.waitLock);
    s.wake = true;
    s.wakeUp.notify_one();
}

int64_t FirstDue(TimerState& s) {
    std::lock_guard<std::mutex> lock(s.listLock);
    return s.list.empty() ? std::numeric_limits<int64_t>::max() : s.list.front().due;
}

// Returns true when woken (the first entry may have changed), false when the entry is due.
bool WaitUntil(TimerState& s, int64_t due) {
    std::unique_lock<std::mutex> lock(s.waitLock);
    bool woken = false;
    for (;;) {
        if (s.wake) {
            woken = true;
            break;
        }
        const int64_t left = due - NowNs();
        if (left <= 0)
            break;
        const int64_t ms =
            std::min<int64_t>(left / 1'000'000 + (left % 1'000'000 ? 1 : 0), kMaxWaitMs);
        s.wakeUp.wait_for(lock, std::chrono::milliseconds(ms));
    }
    s.wake = false;
    return woken;
}

// Takes the first entry only if it is due by now: a later timer may have moved to the
// front since the wait ended.
bool TakeDue(TimerState& s, Timer& out) {
    std::lock_guard<std::mutex> lock(s.listLock);
    if (s.list.empty() || s.list.front().due > NowNs())
        return false;
    out = std::move(s.list.front());
    s.list.pop_front();
    return true;
}

void TimerThread() {
    TimerState& s = State();
    s.started = true;
    while (!s.stop) {
        const bool woken = WaitUntil(s, FirstDue(s));
        if (s.stop)
            return;
        if (woken)
            continue;
        Timer timer;
        if (!TakeDue(s, timer) || !timer.task)
            continue;
        if (timer.task())
            ScheduleTimer(timer.intervalUs, timer.task, timer.id);
    }
}

}  // namespace

int32_t ScheduleTimer(uint64_t intervalUs, const TimerTask& task, int32_t id) {
    TimerState& s = State();
    {
        std::lock_guard<std::mutex> lock(s.listLock);
        const uint32_t next = NextCounter(s);
        if (id == 0)
            id = static_cast<int32_t>(next);
        Insert(s, Timer{DueAfter(NowNs(), intervalUs), intervalUs, id, task});
    }
    WakeTimerThread(s);
    return id;
}

void StartTimerThread() {
    TimerState& s = State();
    std::lock_guard<std::mutex> lock(s.listLock);
    s.stop = false;
    s.started = false;
    const int32_t id = static_cast<int32_t>(NextCounter(s));
    Insert(s, Timer{NowNs() + kSentinelDueNs, kSentinelIntervalUs, id, {}});
    s.thread = std::thread(TimerThread);
    while (!s.started)
        std::this_thread::yield();
}

void StopTimerThread() {
    TimerState& s = State();
    s.stop = true;
    WakeTimerThread(s);
    if (s.thread.joinable())
        s.thread.join();
    std::list<Timer> pending;
    {
        std::lock_guard<std::mutex> lock(s.listLock);
        pending.swap(s.list);
    }
}

}  // namespace _GCD
