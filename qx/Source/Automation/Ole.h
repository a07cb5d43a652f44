#pragma once

namespace _OS {

// Starts COM for the calling thread on Windows; elsewhere automation needs no start-up.
void OleInitialize(void* reserved);

}  // namespace _OS
