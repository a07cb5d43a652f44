#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>

namespace _OS {

// Deeper than any folder tree a person makes; only a tree that never ends reaches it.
constexpr size_t kMaxWalkDepth = 64;

// Hands every entry below folder to visit, depth first, in the order the file system lists
// each folder, descending into a subfolder where it is met. Links (on Windows every reparse
// point, junctions included) are handed over but never entered, no folder is entered twice
// (by its identity, however it is reached), and nothing deeper than kMaxWalkDepth below
// folder is listed. A folder that cannot be listed is logged and skipped; the walk goes on.
void WalkFolder(const std::filesystem::path& folder,
                const std::function<void(const std::filesystem::directory_entry&)>& visit);

}  // namespace _OS
