#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <iostream>

#include "Platform/Code_LevelDb.h"
#include "Platform/Env.h"
#include "Platform/Reg.h"
#include "Support/ChildScenario.h"
#include "Support/TempDir.h"

// Built without the programs' manifest, as a system before Windows 10 1903 runs them: the code
// page stays a legacy one, which cannot spell a folder named in two scripts.
namespace fs = std::filesystem;

namespace {

unsigned long NoShortName(const wchar_t*, wchar_t*, unsigned long) {
    return 0;
}

struct ShortNameTest : ::testing::Test {
    SUPPORT::TEMP_DIR m_Dir;
    fs::path m_Work = fs::canonical(m_Dir.m_Path) / fs::u8path("工厂공장") / "bin";
    fs::path m_Store = m_Work.parent_path() / ".data" / "var" / "Bartender" / ".Registry";

    // The gateway's start with a setting written and read back, in a child, under the
    // short-name look-up given.
    SUPPORT::CHILD_RESULT Run(_OS::Code_LevelDb::SHORT_NAME_CALL shortName) const {
        return SUPPORT::RunChild([this, shortName] {
            if (shortName)
                _OS::Code_LevelDb::SetShortNameCall(shortName);
            fs::create_directories(m_Work);
            fs::current_path(m_Work);
            _OS::ENV::Initialize("Bartender", 0, nullptr);
            _OS::ENV::REG<int>("Qt/Win_Main/WindowX", 7).Set(480);
            std::cout << _OS::ENV::REG<int>("Qt/Win_Main/WindowX", 7).Get() << "\n";
            return 0;
        });
    }
};

TEST_F(ShortNameTest, FolderTheCodePageCannotSpellOpensByItsShortName) {
    ASSERT_NE(GetACP(), static_cast<UINT>(CP_UTF8));
    const SUPPORT::CHILD_RESULT first = Run(nullptr);
    ASSERT_EQ(first.m_ExitCode, 0) << first.m_Err;
    EXPECT_EQ(first.m_Out, "480\n");
    EXPECT_TRUE(fs::exists(m_Store / "CURRENT"));
}

// A volume without 8.3 names: the store cannot be opened, and the program runs on with its
// settings at their defaults.
TEST_F(ShortNameTest, WithoutShortNamesTheProgramRunsOnWithDefaults) {
    const SUPPORT::CHILD_RESULT result = Run(NoShortName);
    ASSERT_EQ(result.m_ExitCode, 0) << result.m_Err;
    EXPECT_EQ(result.m_Out, "Cannot create RegDatabase\n7\n");
    EXPECT_FALSE(fs::exists(m_Store / "CURRENT"));
}

}  // namespace
