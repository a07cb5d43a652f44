#pragma once

namespace _OS {

// Gives the heap's free pages back to the system: glibc keeps what a peak took in each of its
// arenas, the Windows CRT heap keeps its free blocks. Costs a walk of the heap: call it once a
// peak has passed, never per allocation.
void ReleaseFreeMemory();

// Replaces the call behind ReleaseFreeMemory (a test seam); returns the one that was in place.
using RELEASE_FREE_MEMORY = void (*)();
RELEASE_FREE_MEMORY SetReleaseFreeMemory(RELEASE_FREE_MEMORY call);

}  // namespace _OS
