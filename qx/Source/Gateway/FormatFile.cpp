#include "Gateway/FormatFile.h"

namespace FORMAT_FILE {

void to_json(nlohmann::json& j, const DEF& file) {
    j = nlohmann::json{{"relPath", file.relPath}, {"absPath", file.absPath}};
}

}  // namespace FORMAT_FILE
