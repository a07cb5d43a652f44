#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace _QX {

// What a file is, whatever its name: its volume and its index there (device and inode elsewhere
// than on Windows).
struct FILE_ID {
    uint64_t m_Volume = 0;
    uint64_t m_Index = 0;
    bool operator==(const FILE_ID& other) const {
        return m_Volume == other.m_Volume && m_Index == other.m_Index;
    }
};

enum class NEW_FILE { CREATED, EXISTS, FAILED };

// Creates an empty file at path only when no entry of that name exists (O_EXCL, CREATE_NEW): of
// all processes creating one name at once, one alone gets it. A link in its place is an entry;
// it is not followed. id receives the created file's identity.
NEW_FILE CreateNewFile(const QString& path, FILE_ID* id);

// The identity of the entry at path itself (a link is not followed); none when nothing is there.
std::optional<FILE_ID> FileIdOf(const QString& path);

}  // namespace _QX
