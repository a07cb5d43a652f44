#include "Platform/Code_TaskQueue.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sched.h>
#endif

#include <algorithm>

namespace _GCD {

namespace {

#ifdef _WIN32
// Windows has neither round-robin nor FIFO scheduling: those requests are refused, as POSIX
// refuses them without the right, and the worker keeps normal priority. The ordinary policy's
// priority is a thread priority, at most the highest.
void SetSchedule(uint32_t policy, uint32_t priority) {
    if (policy == 0 || policy == 1)
        return;
    const int wanted = static_cast<int>(std::min<uint32_t>(priority, THREAD_PRIORITY_HIGHEST));
    SetThreadPriority(GetCurrentThread(), wanted);
}
#else
void SetSchedule(uint32_t policy, uint32_t priority) {
    int native = SCHED_OTHER;
    if (policy == 0)
        native = SCHED_RR;
    else if (policy == 1)
        native = SCHED_FIFO;
    sched_param param{};
    param.sched_priority = static_cast<int>(priority);
    pthread_setschedparam(pthread_self(), native, &param);
}
#endif

}  // namespace

_OBJ<ITaskQueue> Code_TaskQueue::Create(uint32_t workers, uint32_t policy, uint32_t priority) {
    return _OBJ<ITaskQueue>(new Code_TaskQueue(workers, policy, priority));
}

Code_TaskQueue::Code_TaskQueue(uint32_t workers, uint32_t policy, uint32_t priority) {
    const uint32_t count = std::min(workers, kMaxWorkers);
    const bool serial = count == 1;
    try {
        for (uint32_t i = 0; i < count; ++i) {
            Slot& slot = m_Slots[i];
            slot.m_Thread = std::thread([this, &slot, serial, policy, priority] {
                Worker(slot, serial, policy, priority);
            });
            m_WorkerCount = i + 1;
        }
    } catch (...) {
        // Workers already started must be joined before the exception leaves.
        Stop();
        throw;
    }
}

Code_TaskQueue::~Code_TaskQueue() {
    Stop();
}

void Code_TaskQueue::Worker(Slot& slot, bool serial, uint32_t policy, uint32_t priority) {
    SetSchedule(policy, priority);

    Fifo taken;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(slot.m_Mutex);
            slot.m_Wake.wait(lock, [&slot] { return slot.m_Busy; });
        }
        for (;;) {
            Slot* next = nullptr;
            {
                std::lock_guard<_OS::CAdaptiveMutex> lock(m_Lock);
                if (m_Handed == &slot)
                    m_Handed = nullptr;
                if (m_Fifo.empty()) {
                    // Going idle under the queue lock: a post that follows sees busy false.
                    std::lock_guard<std::mutex> slotLock(slot.m_Mutex);
                    slot.m_Busy = false;
                    break;
                }
                // A single worker takes the whole FIFO at once: its tasks run in order
                // either way. A pool worker takes one entry so that tasks start in order.
                if (serial) {
                    taken.swap(m_Fifo);
                } else {
                    taken.push_back(std::move(m_Fifo.front()));
                    m_Fifo.pop_front();
                    if (!m_Fifo.empty() && !m_Handed)
                        next = HandWork();
                }
            }
            if (next)
                next->m_Wake.notify_one();
            while (!taken.empty()) {
                Entry entry = std::move(taken.front());
                taken.pop_front();
                if (entry.first != 0 && entry.second)
                    entry.second();
            }
        }
        std::lock_guard<std::mutex> slotLock(slot.m_Mutex);
        if (slot.m_Stop)
            break;
    }
    slot.m_Exited = true;
}

// Under the queue lock: marks the first idle worker busy and returns it, to be woken once
// the locks are released; nullptr when every worker is busy or exited.
Code_TaskQueue::Slot* Code_TaskQueue::HandWork() {
    for (uint32_t i = 0; i < m_WorkerCount; ++i) {
        Slot& slot = m_Slots[i];
        if (slot.m_Busy || slot.m_Exited)
            continue;
        std::lock_guard<std::mutex> slotLock(slot.m_Mutex);
        slot.m_Busy = true;
        m_Handed = &slot;
        return &slot;
    }
    return nullptr;
}

void Code_TaskQueue::Post(std::function<void()> task, uint32_t id) {
    Slot* woken = nullptr;
    {
        std::lock_guard<_OS::CAdaptiveMutex> lock(m_Lock);
        if (m_Closed)
            return;
        m_Fifo.emplace_back(id, std::move(task));
        // A worker already handed work takes this entry, or wakes the next one if it leaves
        // it. It is woken again in case the post that handed it work has not yet done so:
        // progress never waits for that poster to be scheduled again.
        woken = m_Handed ? m_Handed : HandWork();
    }
    if (woken)
        woken->m_Wake.notify_one();
}

void Code_TaskQueue::Drain() {
    {
        std::lock_guard<_OS::CAdaptiveMutex> lock(m_Lock);
        m_Closed = true;
    }
    for (;;) {
        std::this_thread::yield();
        std::lock_guard<_OS::CAdaptiveMutex> lock(m_Lock);
        if (m_Fifo.empty())
            return;
    }
}

void Code_TaskQueue::Stop() {
    // A worker handed busy and stop drains the FIFO before it ends.
    {
        std::lock_guard<_OS::CAdaptiveMutex> lock(m_Lock);
        m_Closed = true;
        for (uint32_t i = 0; i < m_WorkerCount; ++i) {
            std::lock_guard<std::mutex> slotLock(m_Slots[i].m_Mutex);
            m_Slots[i].m_Busy = true;
            m_Slots[i].m_Stop = true;
        }
    }
    for (uint32_t i = 0; i < m_WorkerCount; ++i)
        m_Slots[i].m_Wake.notify_all();
    for (uint32_t i = 0; i < m_WorkerCount; ++i) {
        if (m_Slots[i].m_Thread.joinable())
            m_Slots[i].m_Thread.join();
    }
}

}  // namespace _GCD
