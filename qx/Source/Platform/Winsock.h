#pragma once

namespace _OS {

// The platform's socket library calls: Winsock 2.2 on Windows, nothing to start elsewhere.
struct WINSOCK_CALLS {
    int (*startup)();  // 0 on success, else the platform's error code
    void (*cleanup)();
};

int WinsockStartup();
void WinsockCleanup();

// The version the platform's last successful start-up granted (0x0202 for Winsock 2.2);
// 0 before any, and on platforms without one.
unsigned short WinsockVersion();

// Replaces the calls behind WinsockStartup and WinsockCleanup (a test seam for failing
// start-ups); returns the pair that was in place.
WINSOCK_CALLS SetWinsockCalls(const WINSOCK_CALLS& calls);

}  // namespace _OS
