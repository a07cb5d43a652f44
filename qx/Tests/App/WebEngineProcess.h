#pragma once

#include <chrono>
#include <functional>

// Waits for done while serving the GUI thread's events (page loads, downloads, queued calls).
bool ProcessEventsUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds deadline = std::chrono::seconds(30));
