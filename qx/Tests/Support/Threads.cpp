#include "Support/Threads.h"

#ifdef _WIN32
// tlhelp32.h takes its types from windows.h.
#include <windows.h>

#include <tlhelp32.h>
#else
#include <dirent.h>
#endif

#include "Support/Wait.h"

namespace SUPPORT {

#ifdef _WIN32
size_t ThreadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    size_t n = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        n += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return n;
}
#else
size_t ThreadCount() {
    size_t n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            n += entry->d_name[0] != '.';
        closedir(dir);
    }
    return n;
}
#endif

bool WaitThreadCount(size_t n, std::chrono::milliseconds timeout) {
    return WaitUntil([n] { return ThreadCount() <= n; }, timeout) && ThreadCount() == n;
}

}  // namespace SUPPORT
