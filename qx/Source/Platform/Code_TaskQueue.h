#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "Platform/CAdaptiveMutex.h"
#include "Platform/ITaskQueue.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"

namespace _GCD {

// Lock order: the queue lock before a slot's mutex, never the other way round. No lock is
// held while a task runs or is destroyed, nor while a worker is woken. At most one worker is
// on its way from a wake-up to the FIFO at a time: it wakes the next idle one when it leaves
// work behind, so a burst of posts costs one wake-up per worker instead of one per task.
struct Code_TaskQueue : ITaskQueue {
    QX_REFCOUNTED
public:
    static constexpr uint32_t kMaxWorkers = 64;

    // policy: 0 round-robin, 1 FIFO, anything else the ordinary policy; priority is passed
    // as it is. A refused scheduling request leaves the worker as it was.
    static _OBJ<ITaskQueue> Create(uint32_t workers, uint32_t policy, uint32_t priority);

    void Post(std::function<void()> task, uint32_t id) override;
    void Drain() override;
    ~Code_TaskQueue() override;

private:
    using Entry = std::pair<uint32_t, std::function<void()>>;
    using Fifo = std::deque<Entry>;

    struct Slot {
        bool m_Busy = false;  // handed work or draining the FIFO; written under both locks
        bool m_Stop = false;  // written under both locks
        std::atomic<bool> m_Exited{false};
        std::mutex m_Mutex;
        std::condition_variable m_Wake;
        std::thread m_Thread;
    };

    Code_TaskQueue(uint32_t workers, uint32_t policy, uint32_t priority);
    void Worker(Slot& slot, bool serial, uint32_t policy, uint32_t priority);
    void Stop();
    Slot* HandWork();

    std::array<Slot, kMaxWorkers> m_Slots;
    _OS::CAdaptiveMutex m_Lock;
    bool m_Closed = false;
    uint32_t m_WorkerCount = 0;
    Slot* m_Handed = nullptr;  // handed work and not yet back at the FIFO
    Fifo m_Fifo;
};

}  // namespace _GCD
