#pragma once

#include <chrono>
#include <thread>

namespace SUPPORT {

// Polls pred until it holds or the deadline passes; the happy path returns at once. The first
// millisecond only yields, so that fast hand-overs are seen without a sleep; then it looks again
// every interval (longer for a costly pred: reading a window's pixels, parsing a log).
template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds deadline = std::chrono::seconds(20),
               std::chrono::milliseconds interval = std::chrono::milliseconds(1)) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    while (!pred()) {
        const Clock::duration waited = Clock::now() - start;
        if (waited > deadline)
            return pred();
        if (waited < std::chrono::milliseconds(1))
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(interval);
    }
    return true;
}

}  // namespace SUPPORT
