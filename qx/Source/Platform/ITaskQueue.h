#pragma once

#include <cstdint>
#include <functional>

#include "Platform/IRoot.h"

namespace _GCD {

// A FIFO of tasks served by a fixed set of worker threads. Only the dispatcher uses it.
struct ITaskQueue : IRoot {
    // Queues the task, or drops it unrun once the queue is closed. Id 0 is never run.
    virtual void Post(std::function<void()> task, uint32_t id) = 0;
    // Closes the queue and returns once every queued task has been taken by a worker.
    virtual void Drain() = 0;
    virtual ~ITaskQueue() = default;
};

}  // namespace _GCD
