#include "Platform/HiddenFile.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace _OS {

#ifdef _WIN32
void SetHidden(const std::filesystem::path& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
}
#else
void SetHidden(const std::filesystem::path&) {}
#endif

}  // namespace _OS
