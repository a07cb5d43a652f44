#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace SUPPORT {

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

// Blocks a queue's worker until Open is called, so that tasks pile up behind it. Going out of
// scope opens it and waits for the held worker to leave: a test that fails while holding a queue
// ends at once instead of leaving the queue blocked for ever.
struct CGate {
    CGate() = default;
    CGate(const CGate&) = delete;
    CGate& operator=(const CGate&) = delete;
    ~CGate() {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Open = true;
        m_Changed.notify_all();
        m_Changed.wait(lock, [&] { return m_Inside == 0; });
    }

    void Wait() {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Entered = true;
        ++m_Inside;
        m_Changed.notify_all();
        m_Changed.wait(lock, [&] { return m_Open; });
        --m_Inside;
        m_Changed.notify_all();  // under the lock: the destructor may go on at once
    }
    bool WaitEntered(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(m_Mutex);
        return m_Changed.wait_for(lock, timeout, [&] { return m_Entered; });
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
    int m_Inside = 0;
};

}  // namespace SUPPORT
