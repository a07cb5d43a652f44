#include "Support/ReadText.h"

#include <fstream>
#include <sstream>

namespace SUPPORT {

std::string ReadText(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace SUPPORT
