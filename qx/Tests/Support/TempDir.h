#pragma once

#include <filesystem>

namespace SUPPORT {

// A fresh folder, removed with everything inside when the object goes. Made in a test (or a
// fixture, or an environment's SetUp), it has the same path in the test's death-test children.
struct TEMP_DIR {
    TEMP_DIR();
    ~TEMP_DIR();
    TEMP_DIR(const TEMP_DIR&) = delete;
    TEMP_DIR& operator=(const TEMP_DIR&) = delete;

    std::filesystem::path m_Path;

private:
    bool m_Owner;  // a child leaves the folder to its parent
};

}  // namespace SUPPORT
