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
    int64_t m_Due = 0;  // steady clock, nanoseconds
    uint64_t m_IntervalUs = 0;
    int32_t m_Id = 0;
    TimerTask m_Task;
};

// Lock order: the timer thread never holds both locks; a scheduler takes the wait lock
// only after releasing the list lock.
struct TimerState {
    std::mutex m_ListLock;
    std::list<Timer> m_List;  // ascending due time; holds a far-away sentinel while running
    uint32_t m_Counter = 0;

    std::mutex m_WaitLock;
    std::condition_variable m_WakeUp;
    bool m_Wake = false;

    std::atomic<bool> m_Stop{false};
    std::atomic<bool> m_Started{false};
    std::thread m_Thread;
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
    if (++s.m_Counter == 0)
        ++s.m_Counter;
    return s.m_Counter;
}

// Under the list lock: a new timer goes ahead of any with the same due time.
void Insert(TimerState& s, Timer timer) {
    auto at = std::find_if(s.m_List.begin(), s.m_List.end(),
                           [&timer](const Timer& t) { return t.m_Due >= timer.m_Due; });
    s.m_List.insert(at, std::move(timer));
}

void WakeTimerThread(TimerState& s) {
    std::lock_guard<std::mutex> lock(s.m_WaitLock);
    s.m_Wake = true;
    s.m_WakeUp.notify_one();
}

int64_t FirstDue(TimerState& s) {
    std::lock_guard<std::mutex> lock(s.m_ListLock);
    return s.m_List.empty() ? std::numeric_limits<int64_t>::max() : s.m_List.front().m_Due;
}

// Returns true when woken (the first entry may have changed), false when the entry is due.
bool WaitUntil(TimerState& s, int64_t due) {
    std::unique_lock<std::mutex> lock(s.m_WaitLock);
    bool woken = false;
    for (;;) {
        if (s.m_Wake) {
            woken = true;
            break;
        }
        const int64_t left = due - NowNs();
        if (left <= 0)
            break;
        const int64_t ms =
            std::min<int64_t>(left / 1'000'000 + (left % 1'000'000 ? 1 : 0), kMaxWaitMs);
        s.m_WakeUp.wait_for(lock, std::chrono::milliseconds(ms));
    }
    s.m_Wake = false;
    return woken;
}

// Takes the first entry only if it is due by now: a later timer may have moved to the
// front since the wait ended.
bool TakeDue(TimerState& s, Timer& out) {
    std::lock_guard<std::mutex> lock(s.m_ListLock);
    if (s.m_List.empty() || s.m_List.front().m_Due > NowNs())
        return false;
    out = std::move(s.m_List.front());
    s.m_List.pop_front();
    return true;
}

void TimerThread() {
    TimerState& s = State();
    s.m_Started = true;
    while (!s.m_Stop) {
        const bool woken = WaitUntil(s, FirstDue(s));
        if (s.m_Stop)
            return;
        if (woken)
            continue;
        Timer timer;
        if (!TakeDue(s, timer) || !timer.m_Task)
            continue;
        if (timer.m_Task())
            ScheduleTimer(timer.m_IntervalUs, timer.m_Task, timer.m_Id);
    }
}

}  // namespace

int32_t ScheduleTimer(uint64_t intervalUs, const TimerTask& task, int32_t id) {
    TimerState& s = State();
    {
        std::lock_guard<std::mutex> lock(s.m_ListLock);
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
    std::lock_guard<std::mutex> lock(s.m_ListLock);
    s.m_Stop = false;
    s.m_Started = false;
    const int32_t id = static_cast<int32_t>(NextCounter(s));
    Insert(s, Timer{NowNs() + kSentinelDueNs, kSentinelIntervalUs, id, {}});
    s.m_Thread = std::thread(TimerThread);
    while (!s.m_Started)
        std::this_thread::yield();
}

void StopTimerThread() {
    TimerState& s = State();
    s.m_Stop = true;
    WakeTimerThread(s);
    if (s.m_Thread.joinable())
        s.m_Thread.join();
    std::list<Timer> pending;
    {
        std::lock_guard<std::mutex> lock(s.m_ListLock);
        pending.swap(s.m_List);
    }
}

}  // namespace _GCD
