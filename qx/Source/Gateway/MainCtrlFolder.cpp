#include <exception>
#include <string>
#include <system_error>

#include <spdlog/fmt/fmt.h>

#include "Gateway/MainCtrl.h"
#include "Platform/Log.h"
#include "Platform/Text.h"

namespace fs = std::filesystem;

namespace MAIN_CTRL {

namespace {

std::string SlashedUtf8(const fs::path& path) {
    std::string text = _OS::WideToUtf8(path.u16string());
    for (char& c : text) {
        if (c == '\\')
            c = '/';
    }
    return text;
}

// Names from the file system may not convert; the log line must still be written.
std::string Printable(const fs::path& path) {
    try {
        return _OS::WideToUtf8(path.u16string());
    } catch (const std::exception&) {
        return path.string();
    }
}

void AddIfFormatFile(const fs::path& base, const fs::directory_entry& entry,
                     std::vector<FORMAT_FILE::DEF>& files) {
    std::error_code ec;
    const auto status = entry.status(ec);
    if (ec && status.type() != fs::file_type::not_found) {
        throw fs::filesystem_error("cannot inspect", entry.path(), ec);
    }
    if (!fs::is_regular_file(status))
        return;

    const fs::path relPath = fs::relative(entry.path(), base);
    const fs::path absPath = fs::absolute(entry.path()).lexically_normal();
    const std::string ext = _OS::WideToUtf8(relPath.filename().extension().u16string());
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
        _LOG::Error(fmt::format("Cannot list '{}': {}", Printable(folder), ec.message()));
        return;
    }
    for (const fs::directory_iterator end; it != end;) {
        const fs::directory_entry entry = *it;
        try {
            AddIfFormatFile(base, entry, files);
        } catch (const std::exception& e) {
            _LOG::Error(fmt::format("Skipped '{}': {}", Printable(entry.path()), e.what()));
        }
        std::error_code typeEc;
        if (entry.is_directory(typeEc) && !entry.is_symlink(typeEc))
            Walk(base, entry.path(), files);
        it.increment(ec);
        if (ec) {
            _LOG::Error(fmt::format("Cannot list '{}': {}", Printable(folder), ec.message()));
            return;
        }
    }
}

}  // namespace

std::vector<FORMAT_FILE::DEF> FindFormatFiles(const fs::path& base) {
    std::vector<FORMAT_FILE::DEF> files;
    Walk(base, base, files);
    return files;
}

}  // namespace MAIN_CTRL
