#pragma once

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <dirent.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Gcd.h"

namespace _NET {

// Threads of this process right now.
inline size_t ThreadCount() {
    size_t n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            n += entry->d_name[0] != '.';
        closedir(dir);
    }
    return n;
}

// A joined thread may still be listed for a moment: waits for the count to come down to n.
inline bool WaitThreadCount(size_t n,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (ThreadCount() > n) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return ThreadCount() == n;
}

// Runs the scenario as the start task of _GCD::Run with four pool workers, then quits and ends
// the process: exit code 0 when no expectation failed. Meant as the statement of EXPECT_EXIT,
// since _GCD::Run runs once per process; a watchdog ends a child that hangs.
inline void RunInDispatcher(const std::function<void()>& scenario) {
    alarm(120);
    // A death test's child reports nothing itself: collect the failures of every thread and
    // print them where the parent shows them.
    ::testing::TestPartResultArray results;
    {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
        _GCD::Run(
            [&] {
                scenario();
                _GCD::Quit();
            },
            4);
    }
    int failures = 0;
    for (int i = 0; i < results.size(); ++i) {
        const ::testing::TestPartResult& result = results.GetTestPartResult(i);
        if (!result.failed())
            continue;
        ++failures;
        std::fprintf(stderr, "%s:%d: %s\n", result.file_name() ? result.file_name() : "?",
                     result.line_number(), result.message());
    }
    std::fflush(stdout);
    std::exit(failures ? 1 : 0);
}

// A test whose body runs as the scenario of RunInDispatcher in a child process.
#define QX_DISPATCHER_TEST(suite, name)                                 \
    static void suite##_##name##_Scenario();                            \
    TEST(suite, name) {                                                 \
        GTEST_FLAG_SET(death_test_style, "threadsafe");                 \
        EXPECT_EXIT(::_NET::RunInDispatcher(suite##_##name##_Scenario), \
                    ::testing::ExitedWithCode(0), ".*");                \
    }                                                                   \
    static void suite##_##name##_Scenario()

// Values handed over by other threads, with waits on their arrival.
template <typename T>
struct CCollector {
    // Notifies under the lock: a waiter that sees the value may destroy the collector at once.
    void Add(T value) {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Values.push_back(std::move(value));
        m_Changed.notify_all();
    }

    std::vector<T> Values() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Values;
    }

    size_t Size() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Values.size();
    }

    bool WaitSize(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(m_Mutex);
        return m_Changed.wait_for(lock, timeout, [&] { return m_Values.size() >= n; });
    }

private:
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::vector<T> m_Values;
};

// Blocks a queue's worker until Open is called, so that tasks pile up behind it.
struct CGate {
    void Wait() {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Entered = true;
        m_Changed.notify_all();
        m_Changed.wait(lock, [&] { return m_Open; });
    }
    void WaitEntered() {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Changed.wait(lock, [&] { return m_Entered; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Open = true;
        m_Changed.notify_all();
    }

private:
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    bool m_Entered = false;
    bool m_Open = false;
};

}  // namespace _NET
