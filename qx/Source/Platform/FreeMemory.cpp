#include "Platform/FreeMemory.h"

#include <atomic>

// <atomic> brings glibc's feature macros in first.
#if defined(_WIN32) || defined(__GLIBC__)
#include <malloc.h>
#endif

namespace _OS {

namespace {

void PlatformRelease() {
#ifdef _WIN32
    _heapmin();
#elif defined(__GLIBC__)
    malloc_trim(0);
#endif
}

std::atomic<RELEASE_FREE_MEMORY> g_Release{PlatformRelease};

}  // namespace

void ReleaseFreeMemory() {
    g_Release.load()();
}

RELEASE_FREE_MEMORY SetReleaseFreeMemory(RELEASE_FREE_MEMORY call) {
    return g_Release.exchange(call);
}

}  // namespace _OS
