#pragma once

#include <filesystem>
#include <string>

namespace SUPPORT {

// The whole file, empty when it cannot be read. Read in text mode, as programs write their
// output: on Windows line ends come back as "\n".
std::string ReadText(const std::filesystem::path& file);

}  // namespace SUPPORT
