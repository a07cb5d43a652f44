#include "Platform/Gcd.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "Platform/CAdaptiveMutex.h"
#include "Platform/Code_TaskQueue.h"
#include "Platform/GcdTimer.h"
#include "Platform/Halt.h"
#include "Platform/ITaskQueue.h"
#include "Platform/Obj.h"

namespace _GCD {

namespace {

// The dispatcher lock, the main-queue lock and the loop lock are never held together, and
// no task runs under any of them. The dispatcher lock comes before a queue's own lock.
struct Dispatcher {
    _OS::CAdaptiveMutex m_Lock;  // id counter, exit tasks, stopping flag, queue array
    uint32_t m_LastId = 0;
    std::atomic<bool> m_Stopping{false};
    std::vector<_OBJ<ITaskQueue>> m_Queues;  // element k-1 is queue k
    std::deque<Task> m_ExitTasks;

    std::mutex m_MainLock;
    std::deque<Task> m_MainQueue;

    std::mutex m_LoopLock;
    std::condition_variable m_LoopWake;
    bool m_Wake = false;
    bool m_Quit = false;

    std::atomic<bool> m_QuitOnce{false};
};

// Never destroyed: a HALT on a worker runs static destructors while workers still use it.
Dispatcher& State() {
    static Dispatcher* state = new Dispatcher;
    return *state;
}

void CreateQueues(uint32_t threads) {
    // A hardware count reported as 0 would leave the pools without a worker.
    const uint32_t n = threads ? threads : std::max(1u, std::thread::hardware_concurrency());
    std::vector<_OBJ<ITaskQueue>> queues;
    queues.push_back(Code_TaskQueue::Create(1, 0, 50));
    queues.push_back(Code_TaskQueue::Create(n, 0, 50));
    queues.push_back(Code_TaskQueue::Create(n, 4, 1));
    Dispatcher& d = State();
    std::lock_guard<_OS::CAdaptiveMutex> lock(d.m_Lock);
    d.m_Queues = std::move(queues);
}

bool QuitSet(Dispatcher& d) {
    std::lock_guard<std::mutex> lock(d.m_LoopLock);
    return d.m_Quit;
}

template <typename Mutex>
bool TakeFront(Mutex& mutex, std::deque<Task>& tasks, Task& out) {
    std::lock_guard<Mutex> lock(mutex);
    if (tasks.empty())
        return false;
    out = std::move(tasks.front());
    tasks.pop_front();
    return true;
}

void MainLoop() {
    Dispatcher& d = State();
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(d.m_LoopLock);
            if (d.m_Quit)
                return;
            d.m_LoopWake.wait(lock, [&d] { return d.m_Wake; });
            if (d.m_Quit)
                return;
            d.m_Wake = false;
        }
        for (;;) {
            Task task;
            if (!TakeFront(d.m_MainLock, d.m_MainQueue, task))
                break;
            if (task)
                task();
            task = nullptr;
            if (QuitSet(d))
                return;
        }
    }
}

void ExitPhase() {
    Dispatcher& d = State();
    std::vector<_OBJ<ITaskQueue>> queues;
    {
        std::lock_guard<_OS::CAdaptiveMutex> lock(d.m_Lock);
        queues.swap(d.m_Queues);
    }
    // Each release destroys its queue: the queue runs what is still queued, then joins.
    for (auto& queue : queues)
        queue.reset();

    StopTimerThread();

    for (;;) {
        Task task;
        if (!TakeFront(d.m_Lock, d.m_ExitTasks, task))
            break;
        if (task)
            task();
    }

    // Tasks left for the main thread are never run.
    std::deque<Task> left;
    {
        std::lock_guard<std::mutex> lock(d.m_MainLock);
        left.swap(d.m_MainQueue);
    }
}

}  // namespace

void Run(const Task& start, uint32_t threads) {
    Dispatcher& d = State();
    {
        std::lock_guard<_OS::CAdaptiveMutex> lock(d.m_Lock);
        d.m_Stopping = false;
    }
    {
        // The wake flag is left as it is: a post to queue 0 made before Run is still served.
        std::lock_guard<std::mutex> lock(d.m_LoopLock);
        d.m_Quit = false;
    }
    CreateQueues(threads);
    StartTimerThread();
    start();
    MainLoop();
    ExitPhase();
}

uint32_t Post(const Task& task, int32_t queue) {
    Dispatcher& d = State();
    if (d.m_Stopping)
        return 0;
    // The copy is made before any lock is taken, and a refused one destroyed after.
    Task copy(task);
    if (queue == 0) {
        {
            std::lock_guard<std::mutex> lock(d.m_MainLock);
            d.m_MainQueue.push_back(std::move(copy));
        }
        std::lock_guard<std::mutex> lock(d.m_LoopLock);
        d.m_Wake = true;
        d.m_LoopWake.notify_one();
        return 0;
    }
    std::unique_lock<_OS::CAdaptiveMutex> lock(d.m_Lock);
    if (d.m_Stopping)
        return 0;
    // Id 0 means "dropped" to a queue, so the counter skips it when it wraps.
    if (++d.m_LastId == 0)
        ++d.m_LastId;
    const uint32_t id = d.m_LastId;
    if (queue < 1 || static_cast<size_t>(queue) > d.m_Queues.size()) {
        lock.unlock();
        HALT();
    }
    d.m_Queues[queue - 1]->Post(std::move(copy), id);
    return id;
}

void AtExit(const Task& task) {
    Dispatcher& d = State();
    std::lock_guard<_OS::CAdaptiveMutex> lock(d.m_Lock);
    d.m_ExitTasks.push_back(task);
}

void Quit() {
    Dispatcher& d = State();
    if (d.m_QuitOnce.exchange(true))
        return;
    {
        std::lock_guard<_OS::CAdaptiveMutex> lock(d.m_Lock);
        d.m_Stopping = true;
    }
    std::lock_guard<std::mutex> lock(d.m_LoopLock);
    d.m_Quit = true;
    d.m_Wake = true;
    d.m_LoopWake.notify_one();
}

}  // namespace _GCD
