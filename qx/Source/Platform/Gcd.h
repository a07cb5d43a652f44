#pragma once

#include <cstdint>
#include <functional>

// Process-wide task dispatcher: queue 0 is the main thread's loop, 1 a single ordered
// worker, 2 and 3 pools. There is no dispatcher object.
namespace _GCD {

using Task = std::function<void()>;

// Queue numbers for Post.
constexpr int32_t QUEUE_MAIN = 0;    // the main thread's loop
constexpr int32_t QUEUE_SERIAL = 1;  // one worker, tasks strictly in order
constexpr int32_t QUEUE_POOL = 2;    // one worker per hardware thread
constexpr int32_t QUEUE_SPARE = 3;   // a second pool of the same size
using TimerTask = std::function<bool()>;

// Runs the start task on the calling thread (which becomes the main thread), then serves
// queue 0 until Quit, then drains and joins the queues, stops the timer thread and runs
// the exit tasks. threads == 0 means one pool worker per hardware thread.
void Run(const Task& start, uint32_t threads);

// Returns the task's id for queues 1..3, 0 for queue 0, and 0 (task dropped) once Quit began.
uint32_t Post(const Task& task, int32_t queue);

void AtExit(const Task& task);
void Quit();

// Runs task after intervalUs, again each interval while it returns true. id 0 takes a new id.
int32_t ScheduleTimer(uint64_t intervalUs, const TimerTask& task, int32_t id = 0);

}  // namespace _GCD
