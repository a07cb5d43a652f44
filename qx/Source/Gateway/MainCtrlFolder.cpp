#include <exception>
#include <stdexcept>
#include <string>
#include <system_error>

#include <spdlog/fmt/fmt.h>

#include "Gateway/MainCtrl.h"
#include "Platform/Log.h"
#include "Platform/NormalPath.h"
#include "Platform/Text.h"

namespace fs = std::filesystem;

namespace MAIN_CTRL {

namespace {

// A name that does not convert to Unicode could not be named by the MES: it is skipped.
std::string SlashedUtf8(const fs::path& path) {
    bool exact = true;
    std::string text = _OS::PathToUtf8(path, &exact);
    if (!exact)
        throw std::range_error("name is not valid Unicode");
    for (char& c : text) {
        if (c == '\\')
            c = '/';
    }
    return text;
}

void AddIfFormatFile(const fs::path& base, const fs::directory_entry& entry,
                     std::vector<FORMAT_FILE::DEF>& files) {
    std::error_code ec;
    const auto status = entry.status(ec);
    // The errors carry no path: the library would convert it to text, which may throw.
    if (ec && status.type() != fs::file_type::not_found)
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

// Depth first, in the order the file system lists each folder, descending into a subfolder
// where it is met; links to folders are listed but not followed. A folder that cannot be
// listed, or an entry that cannot be read, is logged and skipped; the walk goes on.
void Walk(const fs::path& base, const fs::path& folder, std::vector<FORMAT_FILE::DEF>& files) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        _LOG::Error(fmt::format("Cannot list '{}': {}", _OS::PathToUtf8(folder), ec.message()));
        return;
    }
    for (const fs::directory_iterator end; it != end;) {
        const fs::directory_entry entry = *it;
        try {
            AddIfFormatFile(base, entry, files);
        } catch (const std::exception& e) {
            _LOG::Error(fmt::format("Skipped '{}': {}", _OS::PathToUtf8(entry.path()), e.what()));
        }
        std::error_code typeEc;
        if (entry.is_directory(typeEc) && !entry.is_symlink(typeEc))
            Walk(base, entry.path(), files);
        it.increment(ec);
        if (ec) {
            _LOG::Error(fmt::format("Cannot list '{}': {}", _OS::PathToUtf8(folder), ec.message()));
            return;
        }
    }
}

}  // namespace

std::vector<FORMAT_FILE::DEF> FindFormatFiles(const fs::path& base) {
    std::vector<FORMAT_FILE::DEF> files;
    const fs::path normalBase = _OS::NormalPath(base);
    Walk(normalBase, normalBase, files);
    return files;
}

}  // namespace MAIN_CTRL
