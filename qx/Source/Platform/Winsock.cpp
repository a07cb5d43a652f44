#include "Platform/Winsock.h"

#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#endif

namespace _OS {

namespace {

unsigned short g_Version = 0;

#ifdef _WIN32
int PlatformStartup() {
    WSADATA data;
    const int code = WSAStartup(MAKEWORD(2, 2), &data);
    if (code == 0)
        g_Version = data.wVersion;
    return code;
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

unsigned short WinsockVersion() {
    return g_Version;
}

WINSOCK_CALLS SetWinsockCalls(const WINSOCK_CALLS& calls) {
    return std::exchange(g_Calls, calls);
}

}  // namespace _OS
