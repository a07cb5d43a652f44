#include "Platform/NetStartup.h"

#include <iostream>

#include "Platform/Gcd.h"
#include "Platform/Winsock.h"

namespace _NET {

namespace {
bool g_Started = false;
}

bool Startup() {
    if (g_Started)
        return true;
    const int code = _OS::WinsockStartup();
    if (code != 0) {
        std::cerr << "Windows WSAStartup() failed with error: " << code << std::endl;
        return false;
    }
    g_Started = true;
    _GCD::AtExit([] { _OS::WinsockCleanup(); });
    return true;
}

}  // namespace _NET
