#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace FORMAT_FILE {

// One label format file reported in the "Items" of "CheckConfig"; both paths use "/" only.
struct DEF {
    std::string relPath;
    std::string absPath;
};

void to_json(nlohmann::json& j, const DEF& file);

}  // namespace FORMAT_FILE
