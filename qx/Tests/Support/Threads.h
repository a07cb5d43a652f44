#pragma once

#include <chrono>
#include <cstddef>

namespace SUPPORT {

// Threads of this process right now.
size_t ThreadCount();

// A joined thread may still be listed for a moment: waits for the count to come down to n.
bool WaitThreadCount(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace SUPPORT
