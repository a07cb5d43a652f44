#include "Code_TaskQueue.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>

namespace _GCD {

namespace {

int SchedPolicy(uint32_t policy) {
    switch (policy) {
        case 0:
            return SCHED_RR;
        case 1:
            return SCHED_FIFO;
        default:
            return SCHED_OTHER;
    }
}

}  // namespace

_OBJ<ITaskQueue> Code_TaskQueue::Create(uint32_t workers, uint32_t policy, uint32_t priority) {
    return _OBJ<ITaskQueue>(new Code_TaskQueue(workers, policy, priority));
}

Code_TaskQueue::Code_TaskQueue(uint32_t workers, uint32_t policy, uint32_t priority) {
    const uint32_t count = std::min(workers, kMaxWorkers);
    try {
        for (uint32_t i = 0; i < count; ++i) {
            Slot& slot = m_Slots[i];
            slot.thread =
                std::thread([this, &slot, policy, priority] { Worker(slot, policy, priority); });
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

void Code_TaskQueue::Worker(Slot& slot, uint32_t policy, uint32_t priority) {
    sched_param param{};
    param.sched_priority = static_cast<int>(priority);
    pthread_setschedparam(pthread_self(), SchedPolicy(policy), &param);

    for (;;) {
        {
            std::unique_lock<std::mutex> lock(slot.mutex);
            slot.wake.wait(lock, [&slot] { return slot.busy; });
        }
        for (;;) {
            std::pair<uint32_t, std::function<void()>> entry;
            {
                std::lock_guard<std::mutex> lock(m_Lock);
                if (m_Fifo.empty()) {
                    // Going idle under the queue lock: a post that follows sees busy false.
                    std::lock_guard<std::mutex> slotLock(slot.mutex);
                    slot.busy = false;
                    break;
                }
                entry = std::move(m_Fifo.front());
                m_Fifo.pop_front();
            }
            if (entry.first != 0 && entry.second)
                entry.second();
        }
        std::lock_guard<std::mutex> slotLock(slot.mutex);
        if (slot.stop)
            break;
    }
    slot.exited = true;
}

void Code_TaskQueue::Post(std::function<void()> task, uint32_t id) {
    std::unique_lock<std::mutex> lock(m_Lock);
    if (m_Closed) {
        lock.unlock();
        return;
    }
    m_Fifo.emplace_back(id, std::move(task));
    for (uint32_t i = 0; i < m_WorkerCount; ++i) {
        Slot& slot = m_Slots[i];
        if (slot.exited)
            continue;
        std::lock_guard<std::mutex> slotLock(slot.mutex);
        if (!slot.busy) {
            slot.busy = true;
            slot.wake.notify_one();
            break;
        }
    }
}

void Code_TaskQueue::Drain() {
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Closed = true;
    }
    for (;;) {
        std::this_thread::yield();
        std::lock_guard<std::mutex> lock(m_Lock);
        if (m_Fifo.empty())
            return;
    }
}

void Code_TaskQueue::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Closed = true;
    }
    // A worker handed busy and stop drains the FIFO before it ends.
    for (uint32_t i = 0; i < m_WorkerCount; ++i) {
        Slot& slot = m_Slots[i];
        {
            std::lock_guard<std::mutex> slotLock(slot.mutex);
            slot.busy = true;
            slot.stop = true;
        }
        slot.wake.notify_all();
    }
    for (uint32_t i = 0; i < m_WorkerCount; ++i) {
        if (m_Slots[i].thread.joinable())
            m_Slots[i].thread.join();
    }
}

}  // namespace _GCD
