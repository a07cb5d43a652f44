#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The normal form of a path and the key of the file it names.
namespace _OS {

// How a platform reads a path: POSIX has the separator "/" and one root; Windows takes "\" and
// "/" alike, and a root has a name: a drive ("C:") or a share ("\\server\share", also "\\?\C:").
enum class PATH_RULE { POSIX, WINDOWS };
#ifdef _WIN32
constexpr PATH_RULE kPathRule = PATH_RULE::WINDOWS;
#else
constexpr PATH_RULE kPathRule = PATH_RULE::POSIX;
#endif

// The path made absolute against workingDir (itself absolute) and lexically normal: empty and
// "." steps dropped, ".." taking back one step but never the root, the rule's preferred
// separator. A share keeps its root name, which MinGW's lexically_normal and absolute drop
// ("\\srv\share\bin" becomes "\srv\share\bin", a folder of the current drive). Under the
// Windows rule the last step also loses its trailing dots and spaces, as Windows opens it,
// except after "\\?\". An empty path stays empty.
std::string NormalPathText(std::string_view path, std::string_view workingDir, PATH_RULE rule);
std::wstring NormalPathText(std::wstring_view path, std::wstring_view workingDir, PATH_RULE rule);

// This platform's normal form, against the working directory when the path is relative.
std::filesystem::path NormalPath(const std::filesystem::path& path);

// The text key of a path (UTF-8): the normal form with "/" between the steps and, under the
// Windows rule, letter case folded as Windows compares file names (elsewhere than on Windows
// only ASCII letters fold, which is enough to test the rule). A "\\?\" name is kept as it is
// written, as Windows opens it. Spellings that only the file system can tell apart (8.3 short
// names, "\\.\", links, trailing dots of a folder) keep text keys of their own.
std::string PathKeyText(std::string_view path, std::string_view workingDir, PATH_RULE rule);
// The text key on this platform, against the working directory when the path is relative.
// Throws as PathKey does.
std::string PathKeyText(const std::u16string& path);
// One key for every spelling of a file that opens: its identity (FileIdOf); a name that does
// not open gets its text key (PathKeyText on this platform, against the working directory).
// Throws std::range_error for a path that is not valid UTF-16, and
// std::filesystem::filesystem_error when a relative name that does not open meets a working
// directory that cannot be read.
std::string PathKey(const std::u16string& path);

}  // namespace _OS
