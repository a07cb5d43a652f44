#include "Platform/FileId.h"

#include <cerrno>
#include <cstdio>
#include <tuple>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace _OS {

bool FILE_ID::operator==(const FILE_ID& other) const {
    return std::tie(m_Volume, m_IndexHigh, m_Index) ==
           std::tie(other.m_Volume, other.m_IndexHigh, other.m_Index);
}

bool FILE_ID::operator<(const FILE_ID& other) const {
    return std::tie(m_Volume, m_IndexHigh, m_Index) <
           std::tie(other.m_Volume, other.m_IndexHigh, other.m_Index);
}

std::string FILE_ID::ToKey() const {
    char text[64];
    std::snprintf(text, sizeof text, "<%llx:%llx:%llx>", static_cast<unsigned long long>(m_Volume),
                  static_cast<unsigned long long>(m_IndexHigh),
                  static_cast<unsigned long long>(m_Index));
    return text;
}

#ifdef _WIN32

namespace {

std::error_code LastError() {
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

// The identity of the file open on handle; the handle is closed.
std::optional<FILE_ID> IdOfHandle(HANDLE file, std::error_code& ec) {
    std::optional<FILE_ID> id;
    FILE_ID_INFO wide{};
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandleEx(file, FileIdInfo, &wide, sizeof wide)) {
        FILE_ID result;
        result.m_Volume = wide.VolumeSerialNumber;
        for (int i = 0; i < 8; ++i) {
            result.m_Index |= static_cast<uint64_t>(wide.FileId.Identifier[i]) << (8 * i);
            result.m_IndexHigh |= static_cast<uint64_t>(wide.FileId.Identifier[8 + i]) << (8 * i);
        }
        id = result;
    } else if (GetFileInformationByHandle(file, &info)) {
        // Systems and file systems without 128-bit indexes.
        FILE_ID result;
        result.m_Volume = info.dwVolumeSerialNumber;
        result.m_Index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        id = result;
    } else {
        ec = LastError();
    }
    CloseHandle(file);
    return id;
}

}  // namespace

std::optional<FILE_ID> FileIdOf(const std::filesystem::path& path, std::error_code& ec) {
    ec.clear();
    // No access asked: only the identity is read, whatever another program holds the file open
    // for. Backup semantics open folders too.
    HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ec = LastError();
        return std::nullopt;
    }
    return IdOfHandle(file, ec);
}

NEW_FILE CreateNewFile(const std::filesystem::path& path, FILE_ID& id) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NEW_FILE::EXISTS
                                                                           : NEW_FILE::FAILED;
    }
    std::error_code ec;
    const std::optional<FILE_ID> made = IdOfHandle(file, ec);
    if (!made)
        return NEW_FILE::FAILED;
    id = *made;
    return NEW_FILE::CREATED;
}

bool IsLink(const std::filesystem::path& path, std::error_code& ec) {
    ec.clear();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        ec = LastError();
        return false;
    }
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

#else

std::optional<FILE_ID> FileIdOf(const std::filesystem::path& path, std::error_code& ec) {
    ec.clear();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        ec = std::error_code(errno, std::generic_category());
        return std::nullopt;
    }
    FILE_ID id;
    id.m_Volume = static_cast<uint64_t>(info.st_dev);
    id.m_Index = static_cast<uint64_t>(info.st_ino);
    return id;
}

NEW_FILE CreateNewFile(const std::filesystem::path& path, FILE_ID& id) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno == EEXIST ? NEW_FILE::EXISTS : NEW_FILE::FAILED;
    struct stat info {};
    const bool read = ::fstat(fd, &info) == 0;
    ::close(fd);
    if (!read)
        return NEW_FILE::FAILED;
    id = FILE_ID{};
    id.m_Volume = static_cast<uint64_t>(info.st_dev);
    id.m_Index = static_cast<uint64_t>(info.st_ino);
    return NEW_FILE::CREATED;
}

bool IsLink(const std::filesystem::path& path, std::error_code& ec) {
    return std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec));
}

#endif

}  // namespace _OS
