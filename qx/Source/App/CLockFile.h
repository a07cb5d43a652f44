#pragma once

#include <filesystem>

namespace _QX {

// A lock file of the browser: a regular file that the instance holding it keeps locked by the OS
// while it runs (flock; LockFileEx on Windows), so that a second instance knows what it guards
// is in use. The lock ends with the process, also when it dies. In a folder others can write to,
// the name may hold anything: a link (on Windows a reparse point), a FIFO, a device, a folder,
// another name of someone's file. Nothing it names is opened or followed, and nothing waits: such
// an entry is replaced by a fresh file, or, where it cannot be (a folder, another owner's entry),
// the lock is not held.
struct CLockFile {
    explicit CLockFile(const std::filesystem::path& path);
    // Removes the file when held, then lets the lock go.
    ~CLockFile();
    CLockFile(const CLockFile&) = delete;
    CLockFile& operator=(const CLockFile&) = delete;

    // This instance holds the lock: no other instance runs with it.
    bool Held() const;

private:
    std::filesystem::path m_Path;
#ifdef _WIN32
    void* m_Handle = nullptr;
#else
    int m_Fd = -1;
#endif
};

}  // namespace _QX
