#include <exception>
#include <stdexcept>
#include <string>
#include <system_error>

#include <spdlog/fmt/fmt.h>

#include "Gateway/MainCtrl.h"
#include "Platform/FolderWalk.h"
#include "Platform/Log.h"
#include "Platform/NormalPath.h"
#include "Platform/PathStatus.h"
#include "Platform/Text.h"

namespace fs = std::filesystem;

namespace MAIN_CTRL {

namespace {

// A name that does not convert to Unicode could not be named by the MES: it is skipped. Only
// Windows separates steps with a backslash; elsewhere it is a character of a name and stays.
std::string SlashedUtf8(const fs::path& path) {
    bool exact = true;
    std::string text = _OS::PathToUtf8(path, &exact);
    if (!exact)
        throw std::range_error("name is not valid Unicode");
    if (fs::path::preferred_separator == '\\') {
        for (char& c : text) {
            if (c == '\\')
                c = '/';
        }
    }
    return text;
}

void AddIfFormatFile(const fs::path& base, const fs::directory_entry& entry,
                     std::vector<FORMAT_FILE::DEF>& files) {
    std::error_code ec;
    const auto status = _OS::PathStatus(entry.path(), ec);
    // The errors carry no path: the library would convert it to text, which may throw.
    if (ec)
        throw fs::filesystem_error("cannot inspect", ec);
    if (!fs::is_regular_file(status))
        return;

    // On the text alone, where the library's relative and absolute would lose a share's name.
    // The walk reaches the entry below base, so it is relative to base as it is named here.
    const fs::path absPath = _OS::NormalPath(entry.path());
    const fs::path relPath = absPath.lexically_relative(base);
    if (relPath.empty())
        throw std::runtime_error("cannot make relative");
    const std::string ext = _OS::PathToUtf8(relPath.filename().extension());
    if (!_OS::EndsWith(ext, ".btw", true))
        return;
    files.push_back({SlashedUtf8(relPath), SlashedUtf8(absPath)});
}

// An entry that cannot be read is logged and skipped; the walk goes on.
void Visit(const fs::path& base, const fs::directory_entry& entry,
           std::vector<FORMAT_FILE::DEF>& files) {
    try {
        AddIfFormatFile(base, entry, files);
    } catch (const std::exception& e) {
        _LOG::Error(fmt::format("Skipped '{}': {}", _OS::PathToUtf8(entry.path()), e.what()));
    }
}

}  // namespace

std::vector<FORMAT_FILE::DEF> FindFormatFiles(const fs::path& base) {
    std::vector<FORMAT_FILE::DEF> files;
    const fs::path normalBase = _OS::NormalPath(base);
    _OS::WalkFolder(normalBase,
                    [&](const fs::directory_entry& entry) { Visit(normalBase, entry, files); });
    return files;
}

}  // namespace MAIN_CTRL
