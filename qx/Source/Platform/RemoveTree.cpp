#include "Platform/RemoveTree.h"

#include <atomic>
#include <string>
#include <system_error>
#include <vector>

#include "Platform/FolderWalk.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace fs = std::filesystem;

namespace _OS {

namespace {

std::atomic<REMOVE_TREE_HOOK> g_Hook{nullptr};

void BeforeEntering(const fs::path& folder) {
    if (const REMOVE_TREE_HOOK hook = g_Hook.load())
        hook(folder);
}

#ifdef _WIN32

// The temporary folder is the user's own (under the profile, closed to other users), so no
// other user can swap an entry there. Every reparse point, junctions included, is removed
// itself (RemoveDirectoryW and DeleteFileW act on the link, not its target), never entered.
bool RemoveEntry(const fs::path& path, size_t depth) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        if (depth > kMaxWalkDepth)
            return false;
        BeforeEntering(path);
        std::error_code ec;
        std::vector<fs::path> children;
        for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
            children.push_back(it->path());
        for (const fs::path& child : children)
            RemoveEntry(child, depth + 1);
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return folder ? RemoveDirectoryW(path.c_str()) != 0 : DeleteFileW(path.c_str()) != 0;
}

#else

struct FD {
    int m_Fd;
    ~FD() {
        if (m_Fd >= 0)
            ::close(m_Fd);
    }
};

bool RemoveEntry(int parent, const std::string& name, const fs::path& path, size_t depth);

// Empties the open folder; the names are read first, so removing them cannot upset the listing.
void RemoveChildren(int folder, const fs::path& path, size_t depth) {
    const int listed = ::dup(folder);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names)
        RemoveEntry(folder, name, path / name, depth + 1);
}

bool RemoveEntry(int parent, const std::string& name, const fs::path& path, size_t depth) {
    struct stat info {};
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    // In a shared folder another user's entry is theirs to remove.
    if (depth == 0 && info.st_uid != ::geteuid())
        return false;
    if (!S_ISDIR(info.st_mode))
        return ::unlinkat(parent, name.c_str(), 0) == 0;
    if (depth > kMaxWalkDepth)
        return false;
    BeforeEntering(path);
    // O_NOFOLLOW: a folder swapped for a link since fstatat does not open; the link goes.
    const FD folder{
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    if (folder.m_Fd < 0)
        return (errno == ELOOP || errno == ENOTDIR) && ::unlinkat(parent, name.c_str(), 0) == 0;
    struct stat opened {};
    if (::fstat(folder.m_Fd, &opened) != 0 || (depth == 0 && opened.st_uid != ::geteuid()))
        return false;
    RemoveChildren(folder.m_Fd, path, depth);
    return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

#endif

}  // namespace

bool RemoveOwnTree(const fs::path& path) {
#ifdef _WIN32
    return RemoveEntry(path, 0);
#else
    const fs::path parentPath = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const FD parent{::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (parent.m_Fd < 0)
        return false;
    return RemoveEntry(parent.m_Fd, path.filename().string(), path, 0);
#endif
}

REMOVE_TREE_HOOK SetRemoveTreeHook(REMOVE_TREE_HOOK hook) {
    return g_Hook.exchange(hook);
}

}  // namespace _OS
