#include "Support/TempDir.h"

#include "Support/ChildScenario.h"
#include "Support/Scratch.h"

namespace SUPPORT {

TEMP_DIR::TEMP_DIR() : m_Path(NextScratchPath("dir")), m_Owner(!InChild()) {
    std::filesystem::create_directories(m_Path);
}

TEMP_DIR::~TEMP_DIR() {
    std::error_code ignored;
    if (m_Owner)
        std::filesystem::remove_all(m_Path, ignored);
}

}  // namespace SUPPORT
