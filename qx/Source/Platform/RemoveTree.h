#pragma once

#include <filesystem>

namespace _OS {

// Removes the entry at path, a folder with everything inside, as this user: a link, at any
// depth, is removed itself and never followed, even one swapped in while the removal runs.
// Elsewhere than on Windows an entry at path that another user owns is left alone (a shared
// temporary folder holds other users' entries). Nothing deeper than kMaxWalkDepth below path
// is removed. True when nothing is left at path.
bool RemoveOwnTree(const std::filesystem::path& path);

// Called with each folder's path once its type is read and before it is entered (a test seam
// for swapping the folder meanwhile); returns the one that was in place.
using REMOVE_TREE_HOOK = void (*)(const std::filesystem::path& folder);
REMOVE_TREE_HOOK SetRemoveTreeHook(REMOVE_TREE_HOOK hook);

}  // namespace _OS
