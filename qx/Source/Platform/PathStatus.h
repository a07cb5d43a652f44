#pragma once

#include <filesystem>
#include <system_error>

namespace _OS {

// The status of what the path names, links followed, never throwing. A name that names
// nothing is not found, without an error: a missing file or folder, a step that is a plain
// file, and on Windows a name it refuses (invalid name, a folder name that is not one, a
// network name gone: errors 2, 3, 53, 64, 123 and 267, which MinGW's library reports as a
// mere invalid argument). Any other failure sets ec, with the type "none".
std::filesystem::file_status PathStatus(const std::filesystem::path& path, std::error_code& ec);

// What PathStatus makes of the library's answer (libraryStatus and ec) for path: the seam its
// test feeds with the invalid argument of MinGW's library, which Wine's C runtime never gives
// (it reports Windows' refusals as "not found").
std::filesystem::file_status PathStatusOf(const std::filesystem::path& path,
                                          std::filesystem::file_status libraryStatus,
                                          std::error_code& ec);

}  // namespace _OS
