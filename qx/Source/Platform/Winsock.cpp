#include "Platform/Winsock.h"

#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#endif

namespace _OS {

namespace {

#ifdef _WIN32
int PlatformStartup() {
    WSADATA data;
    return WSAStartup(0x0202, &data);
}

void PlatformCleanup() {
    WSACleanup();
}
#else
int PlatformStartup() {
    return 0;
}

void PlatformCleanup() {}
#endif

WINSOCK_CALLS g_Calls{PlatformStartup, PlatformCleanup};

}  // namespace

int WinsockStartup() {
    return g_Calls.startup();
}

void WinsockCleanup() {
    g_Calls.cleanup();
}

WINSOCK_CALLS SetWinsockCalls(const WINSOCK_CALLS& calls) {
    return std::exchange(g_Calls, calls);
}

}  // namespace _OS
