#pragma once

#include <filesystem>
#include <string>

namespace SUPPORT {

// Folders for one test under a root of this test run. A death-test child runs its test again
// up to the death test, so the names are drawn in a fixed order (a count per test) and the
// root is handed to children through the environment: a child gets the same names as its
// parent. The parent removes a test's folders when the test ends, and the root at exit.
std::filesystem::path NextScratchPath(const std::string& kind);

}  // namespace SUPPORT
