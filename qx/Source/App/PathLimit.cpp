#include "App/PathLimit.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace _QX {

#ifdef _WIN32

namespace {

// MAX_PATH counts the terminating zero.
constexpr int kShortPathLimit = MAX_PATH - 1;

}  // namespace

int PathLimit() {
    // Known to Windows 10 1607 and later; before that no process has long paths.
    using LONG_PATHS_ENABLED = BOOLEAN(WINAPI*)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto enabled = ntdll ? reinterpret_cast<LONG_PATHS_ENABLED>(reinterpret_cast<void*>(
                                     GetProcAddress(ntdll, "RtlAreLongPathsEnabled")))
                               : nullptr;
    return enabled && enabled() ? 0 : kShortPathLimit;
}

#else

int PathLimit() {
    return 0;
}

#endif

}  // namespace _QX
