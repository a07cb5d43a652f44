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
    _OS::CAdaptiveMutex lock;  // id counter, exit tasks, stopping flag, queue array
    uint32_t lastId = 0;
    std::atomic<bool> stopping{false};
    std::vector<_OBJ<ITaskQueue>> queues;  // element k-1 is queue k
    std::deque<Task> exitTasks;

    std::mutex mainLock;
    std::deque<Task> mainQueue;

    std::mutex loopLock;
    std::condition_variable loopWake;
    bool wake = false;
    bool quit = false;

    std::atomic<bool> quitOnce{false};
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
    std::lock_guard<_OS::CAdaptiveMutex> lock(d.lock);
    d.queues = std::move(queues);
}

bool QuitSet(Dispatcher& d) {
    std::lock_guard<std::mutex> lock(d.loopLock);
    return d.quit;
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
            std::unique_lock<std::mutex> lock(d.loopLock);
            if (d.quit)
                return;
            d.loopWake.wait(lock, [&d] { return d.wake; });
            if (d.quit)
                return;
            d.wake = false;
        }
        for (;;) {
            Task task;
            if (!TakeFront(d.mainLock, d.mainQueue, task))
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
        std::lock_guard<_OS::CAdaptiveMutex> lock(d.lock);
        queues.swap(d.queues);
    }
    // Each release destroys its queue: the queue runs what is still queued, then joins.
    for (auto& queue : queues)
        queue.reset();

    StopTimerThread();

    for (;;) {
        Task task;
        if (!TakeFront(d.lock, d.exitTasks, task))
            break;
        if (task)
            task();
    }

    // Tasks left for the main thread are never run.
    std::deque<Task> left;
    {
        std::lock_guard<std::mutex> lock(d.mainLock);
        left.swap(d.mainQueue);
    }
}

}  // namespace

void Run(const Task& start, uint32_t threads) {
    Dispatcher& d = State();
    {
        std::lock_guard<_OS::CAdaptiveMutex> lock(d.lock);
        d.stopping = false;
    }
    {
        // The wake flag is left as it is: a post to queue 0 made before Run is still served.
        std::lock_guard<std::mutex> lock(d.loopLock);
        d.quit = false;
    }
    CreateQueues(threads);
    StartTimerThread();
    start();
    MainLoop();
    ExitPhase();
}

uint32_t Post(const Task& task, int32_t queue) {
    Dispatcher& d = State();
    if (d.stopping)
        return 0;
    // The copy is made before any lock is taken, and a refused one destroyed after.
    Task copy(task);
    if (queue == 0) {
        {
            std::lock_guard<std::mutex> lock(d.mainLock);
            d.mainQueue.push_back(std::move(copy));
        }
        std::lock_guard<std::mutex> lock(d.loopLock);
        d.wake = true;
        d.loopWake.notify_one();
        return 0;
    }
    std::unique_lock<_OS::CAdaptiveMutex> lock(d.lock);
    if (d.stopping)
        return 0;
    // Id 0 means "dropped" to a queue, so the counter skips it when it wraps.
    if (++d.lastId == 0)
        ++d.lastId;
    const uint32_t id = d.lastId;
    if (queue < 1 || static_cast<size_t>(queue) > d.queues.size()) {
        lock.unlock();
        HALT();
    }
    d.queues[queue - 1]->Post(std::move(copy), id);
    return id;
}

void AtExit(const Task& task) {
    Dispatcher& d = State();
    std::lock_guard<_OS::CAdaptiveMutex> lock(d.lock);
    d.exitTasks.push_back(task);
}

void Quit() {
    Dispatcher& d = State();
    if (d.quitOnce.exchange(true))
        return;
    {
        std::lock_guard<_OS::CAdaptiveMutex> lock(d.lock);
        d.stopping = true;
    }
    std::lock_guard<std::mutex> lock(d.loopLock);
    d.quit = true;
    d.wake = true;
    d.loopWake.notify_one();
}

}  // namespace _GCD
