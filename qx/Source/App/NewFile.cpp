#include "App/NewFile.h"

#include <QFile>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace _QX {

#ifdef _WIN32

namespace {

FILE_ID IdOf(HANDLE handle, bool* ok) {
    BY_HANDLE_FILE_INFORMATION info;
    *ok = GetFileInformationByHandle(handle, &info) != 0;
    FILE_ID id;
    id.m_Volume = info.dwVolumeSerialNumber;
    id.m_Index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return id;
}

}  // namespace

NEW_FILE CreateNewFile(const QString& path, FILE_ID* id) {
    HANDLE handle = CreateFileW(path.toStdWString().c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NEW_FILE::EXISTS
                                                                           : NEW_FILE::FAILED;
    }
    bool ok = false;
    *id = IdOf(handle, &ok);
    CloseHandle(handle);
    return ok ? NEW_FILE::CREATED : NEW_FILE::FAILED;
}

std::optional<FILE_ID> FileIdOf(const QString& path) {
    // No access asked: an open handle of another program does not hide the file.
    HANDLE handle = CreateFileW(
        path.toStdWString().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    bool ok = false;
    const FILE_ID id = IdOf(handle, &ok);
    CloseHandle(handle);
    return ok ? std::optional<FILE_ID>(id) : std::nullopt;
}

#else

NEW_FILE CreateNewFile(const QString& path, FILE_ID* id) {
    const int fd =
        open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno == EEXIST ? NEW_FILE::EXISTS : NEW_FILE::FAILED;
    struct stat info {};
    const bool ok = fstat(fd, &info) == 0;
    close(fd);
    id->m_Volume = info.st_dev;
    id->m_Index = info.st_ino;
    return ok ? NEW_FILE::CREATED : NEW_FILE::FAILED;
}

std::optional<FILE_ID> FileIdOf(const QString& path) {
    struct stat info {};
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return FILE_ID{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

#endif

}  // namespace _QX
