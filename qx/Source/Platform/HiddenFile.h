#pragma once

#include <filesystem>

namespace _OS {

// Makes the file or folder hidden, clearing its other attributes; failures are ignored.
// Without a hidden attribute (POSIX) nothing is done: our hidden names begin with a dot.
void SetHidden(const std::filesystem::path& path);

}  // namespace _OS
