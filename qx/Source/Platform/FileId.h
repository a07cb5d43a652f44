#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace _OS {

// What the system knows a file or folder by, whatever its path is spelled: the volume serial
// and file index on Windows, the device and inode elsewhere.
struct FILE_ID {
    uint64_t m_Volume = 0;
    uint64_t m_IndexHigh = 0;  // the upper half of a 128-bit file index (ReFS); 0 elsewhere
    uint64_t m_Index = 0;

    bool operator==(const FILE_ID& other) const;
    bool operator<(const FILE_ID& other) const;
    // A text that no path's key can be: it begins with "<".
    std::string ToKey() const;
};

// The identity of the file or folder that the path opens, links followed; empty with ec set
// when it does not open.
std::optional<FILE_ID> FileIdOf(const std::filesystem::path& path, std::error_code& ec);

enum class NEW_FILE { CREATED, EXISTS, FAILED };

// Creates an empty file at path only when no entry of that name exists (O_EXCL, CREATE_NEW): of
// all processes creating one name at once, one alone gets it. A link in its place is an entry;
// it is not followed. id receives the created file's identity, as FileIdOf gives it.
NEW_FILE CreateNewFile(const std::filesystem::path& path, FILE_ID& id);

// The entry itself is a link: on Windows any reparse point (symbolic link, junction, mount
// point), elsewhere a symbolic link. False with ec set when it cannot be read.
bool IsLink(const std::filesystem::path& path, std::error_code& ec);

}  // namespace _OS
