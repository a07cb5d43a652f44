#pragma once

namespace _NET {

// Starts the platform's socket library once per process and registers its clean-up as a
// _GCD exit task. False (with the error on standard error) when the start-up failed; the
// next call tries again. Not thread-safe: the first calls must not race.
bool Startup();

}  // namespace _NET
