#include "Platform/PathStatus.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace _OS {

namespace {

bool IsAbsence(const std::error_code& ec) {
    return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory;
}

#ifdef _WIN32
// The library's error does not say what Windows answered: ask Windows itself.
bool NamesNothing(const fs::path& path, std::error_code& ec) {
    if (IsAbsence(ec))
        return true;
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = GetLastError();
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_NETNAME_DELETED:
        case ERROR_INVALID_NAME:
        case ERROR_DIRECTORY:
            return true;
    }
    ec = std::error_code(static_cast<int>(error), std::system_category());
    return false;
}
#else
bool NamesNothing(const fs::path&, std::error_code& ec) {
    return IsAbsence(ec);
}
#endif

}  // namespace

fs::file_status PathStatus(const fs::path& path, std::error_code& ec) {
    const fs::file_status status = fs::status(path, ec);
    return PathStatusOf(path, status, ec);
}

fs::file_status PathStatusOf(const fs::path& path, fs::file_status libraryStatus,
                             std::error_code& ec) {
    if (!ec)
        return libraryStatus;
    if (NamesNothing(path, ec)) {
        ec.clear();
        return fs::file_status(fs::file_type::not_found);
    }
    return fs::file_status(fs::file_type::none);
}

}  // namespace _OS
