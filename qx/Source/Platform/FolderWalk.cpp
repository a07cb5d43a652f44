#include "Platform/FolderWalk.h"

#include <set>
#include <string>
#include <system_error>

#include <spdlog/fmt/fmt.h>

#include "Platform/FileId.h"
#include "Platform/Log.h"
#include "Platform/Text.h"

namespace fs = std::filesystem;

namespace _OS {

namespace {

using VISIT = std::function<void(const fs::directory_entry&)>;

void CannotList(const fs::path& folder, const std::string& why) {
    _LOG::Error(fmt::format("Cannot list '{}': {}", PathToUtf8(folder), why));
}

void Walk(const fs::path& folder, size_t depth, std::set<FILE_ID>& entered, const VISIT& visit) {
    std::error_code ec;
    const std::optional<FILE_ID> id = FileIdOf(folder, ec);
    if (!id) {
        CannotList(folder, ec.message());
        return;
    }
    if (!entered.insert(*id).second)
        return;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        CannotList(folder, ec.message());
        return;
    }
    for (const fs::directory_iterator end; it != end;) {
        const fs::directory_entry entry = *it;
        visit(entry);
        std::error_code typeEc;
        if (entry.is_directory(typeEc) && !IsLink(entry.path(), typeEc) && !typeEc) {
            if (depth < kMaxWalkDepth)
                Walk(entry.path(), depth + 1, entered, visit);
            else
                CannotList(entry.path(), "too deep");
        }
        it.increment(ec);
        if (ec) {
            CannotList(folder, ec.message());
            return;
        }
    }
}

}  // namespace

void WalkFolder(const fs::path& folder, const VISIT& visit) {
    std::set<FILE_ID> entered;
    Walk(folder, 1, entered, visit);
}

}  // namespace _OS
