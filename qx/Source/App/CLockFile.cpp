#include "App/CLockFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace _QX {

namespace {

// Another process may replace the entry between two looks; each round starts again from
// what is there, and a few rounds lost to such a race give up.
constexpr int kAttempts = 4;

}  // namespace

#ifdef _WIN32

CLockFile::CLockFile(const std::filesystem::path& path) : m_Path(path) {
    const wchar_t* name = m_Path.c_str();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const DWORD attributes = GetFileAttributesW(name);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            // A link or junction goes itself; what it points to is never touched.
            const BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(name)
                                                                         : DeleteFileW(name);
            if (!removed)
                return;
            continue;
        }
        // Read access, shared for reading: an indexer or scanner that has the file open does
        // not keep an instance out, nor does a read-only file left behind. The byte locked
        // below is the lock. The reparse point itself is opened, should one appear meanwhile.
        HANDLE handle = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return;
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
            !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
            info.nNumberOfLinks == 1) {
            OVERLAPPED at{};
            if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                            &at)) {
                CloseHandle(handle);
                return;
            }
            m_Handle = handle;
            return;
        }
        // Another name of some file: only this name goes.
        CloseHandle(handle);
        if (!DeleteFileW(name))
            return;
    }
}

CLockFile::~CLockFile() {
    if (!m_Handle)
        return;
    CloseHandle(m_Handle);
    // Fails, as it should, when another instance or a reader has it open, or it is read-only.
    DeleteFileW(m_Path.c_str());
}

bool CLockFile::Held() const {
    return m_Handle != nullptr;
}

#else

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A regular file of ours with no other name: emptying it harms nothing else.
bool OwnFile(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_nlink == 1 && info.st_uid == geteuid();
}

}  // namespace

CLockFile::CLockFile(const std::filesystem::path& path) : m_Path(path) {
    const char* name = m_Path.c_str();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        struct stat seen {};
        int fd = -1;
        if (lstat(name, &seen) != 0) {
            if (errno != ENOENT)
                return;
            fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        } else if (OwnFile(seen)) {
            // Should a FIFO or device take its place meanwhile, it is neither waited on nor made
            // the controlling terminal, and it is let go below.
            fd = open(name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        } else if (S_ISDIR(seen.st_mode)) {
            return;
        } else {
            // A link, FIFO, socket, device or another name of a file: only this name goes.
            if (unlink(name) != 0 && errno != ENOENT)
                return;
            continue;
        }
        if (fd < 0) {
            if (errno == EEXIST || errno == ENOENT || errno == ELOOP)
                continue;
            return;
        }
        struct stat opened {};
        if (fstat(fd, &opened) != 0 || !OwnFile(opened)) {
            close(fd);
            continue;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return;
        }
        // The holder before removes the name when it ends: a lock on a file that is no longer
        // there keeps nobody out.
        struct stat now {};
        if (lstat(name, &now) != 0 || !SameFile(opened, now)) {
            close(fd);
            continue;
        }
        // Its content is never read: what an earlier run left is dropped where it can be.
        static_cast<void>(ftruncate(fd, 0) == 0);
        m_Fd = fd;
        return;
    }
}

CLockFile::~CLockFile() {
    if (m_Fd < 0)
        return;
    // Removed while still locked: an instance that opened it meanwhile finds its name gone.
    struct stat opened {};
    struct stat now {};
    if (fstat(m_Fd, &opened) == 0 && lstat(m_Path.c_str(), &now) == 0 && SameFile(opened, now))
        unlink(m_Path.c_str());
    close(m_Fd);
}

bool CLockFile::Held() const {
    return m_Fd >= 0;
}

#endif

}  // namespace _QX
