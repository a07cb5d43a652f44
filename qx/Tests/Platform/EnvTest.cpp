#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "Platform/Code_LevelDb.h"
#include "Platform/Env.h"
#include "Platform/Reg.h"
#include "Support/ChildScenario.h"
#include "Support/TempDir.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
bool IsHidden(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
}
#endif

struct EnvTest : ::testing::Test {
    SUPPORT::TEMP_DIR m_Dir;
    // Under a Chinese folder name, which the settings store must reach as well.
    fs::path m_Root = fs::canonical(m_Dir.m_Path) / fs::u8path("工厂");
    fs::path m_Work = m_Root / "work" / "bin";
    fs::path m_Data = m_Root / "work" / ".data";

    // Enters the working folder and sets up the environment as the gateway does.
    std::function<int()> Program(const std::function<int()>& afterInit) const {
        return [this, afterInit] {
            fs::create_directories(m_Work);
            fs::current_path(m_Work);
            _OS::ENV::Initialize("Bartender", 0, nullptr);
            return afterInit();
        };
    }
};

TEST_F(EnvTest, LaysOutDataRootBesideWorkingDirectory) {
    const SUPPORT::CHILD_RESULT result = SUPPORT::RunChild([this] {
        std::cout << (_OS::ENV::GetVarDir() == fs::current_path()) << "\n";
        return Program([] {
            std::cout << _OS::ENV::GetVarDir().string() << "\n"
                      << _OS::ENV::GetAppName() << "\n"
                      << _OS::ENV::GetDisplayName() << "\n";
            _OS::ENV::SetDisplayName("Morvash 条码模版服务");
            std::cout << _OS::ENV::GetDisplayName() << "\n";
            _OS::ENV::SetDisplayName("");
            std::cout << _OS::ENV::GetDisplayName() << "\n"
                      << static_cast<bool>(_OS::ENV::GetRegDatabase()) << "\n";
            return 0;
        })();
    });
    ASSERT_EQ(result.m_ExitCode, 0) << result.m_Err;
    EXPECT_EQ(result.m_Out, "1\n" + (m_Data / "var" / "Bartender").string() +
                                "\nBartender\nBartender\nMorvash 条码模版服务\nBartender\n1\n");
    EXPECT_EQ(result.m_Err, "");
    for (const char* name : {"etc", "lib", "var", "tmp", "log"}) {
        EXPECT_TRUE(fs::is_directory(m_Data / name / "Bartender")) << name;
    }
    EXPECT_TRUE(fs::exists(m_Data / "var" / "Bartender" / ".Registry" / "CURRENT"));
#ifdef _WIN32
    EXPECT_TRUE(IsHidden(m_Data));
    EXPECT_TRUE(IsHidden(m_Data / "var" / "Bartender" / ".Registry"));
#endif
    std::vector<fs::path> work;
    for (const auto& entry : fs::directory_iterator(m_Root / "work"))
        work.push_back(entry.path());
    std::sort(work.begin(), work.end());
    EXPECT_EQ(work, (std::vector<fs::path>{m_Data, m_Root / "work" / "bin"}));
}

TEST_F(EnvTest, DataRootThatIsAPlainFileEndsTheProcess) {
    fs::create_directories(m_Work);
    std::ofstream(m_Data) << "not a folder";
    const SUPPORT::CHILD_RESULT result = SUPPORT::RunChild(Program([] { return 1; }));
    EXPECT_EQ(result.m_ExitCode, 0);
    EXPECT_EQ(result.m_Err.rfind("_OS::ENV::CreateDir() - Error creating directories: ", 0), 0u)
        << result.m_Err;
    EXPECT_EQ(result.m_Err.back(), '\n');
    EXPECT_EQ(result.m_Out, "");
}

// A symbolic link loop: MinGW's file system library makes no links on Windows.
#ifndef _WIN32
TEST_F(EnvTest, UnreadableDataRootEndsTheProcess) {
    fs::create_directories(m_Work);
    if (!fs::is_symlink(m_Data))             // made before a child runs this test again
        fs::create_symlink(m_Data, m_Data);  // a loop: its status cannot be read
    const SUPPORT::CHILD_RESULT result = SUPPORT::RunChild(Program([] { return 1; }));
    EXPECT_EQ(result.m_ExitCode, 0);
    EXPECT_EQ(result.m_Err.rfind("_OS::ENV::Initialize() - Error reading " + m_Data.string(), 0),
              0u)
        << result.m_Err;
    EXPECT_EQ(result.m_Out, "");
}
#endif

#ifdef _WIN32
TEST_F(EnvTest, ExistingDataRootKeepsItsAttributes) {
    fs::create_directories(m_Data);
    const SUPPORT::CHILD_RESULT result = SUPPORT::RunChild(Program([] { return 0; }));
    ASSERT_EQ(result.m_ExitCode, 0) << result.m_Err;
    EXPECT_TRUE(fs::is_directory(m_Data));
    EXPECT_FALSE(IsHidden(m_Data));
}
#endif

#ifdef _WIN32
// Started from a share, the data root is made on the share beside the working directory, and
// nothing else appears there. A drive mapped to the same folder is the control. The Windows
// stage maps both under Wine and names them in QX_TEST_SHARE and QX_TEST_SHARE_DRIVE.
TEST_F(EnvTest, WorkingDirectoryOnAShareKeepsItsRootName) {
    const char* share = std::getenv("QX_TEST_SHARE");
    const char* drive = std::getenv("QX_TEST_SHARE_DRIVE");
    if (!share || !drive)
        GTEST_SKIP() << "no share mapped: QX_TEST_SHARE and QX_TEST_SHARE_DRIVE are not set";
    const std::string roots[] = {share, drive};
    // Named after this run's own folder: the case also runs in the whole program at this time.
    const std::string name =
        "env-" + std::to_string(std::hash<std::string>()(m_Dir.m_Path.u8string()));
    SUPPORT::CHILD_RESULT results[2];
    for (int i = 0; i < 2; ++i) {
        const std::string work = roots[i] + "\\" + name + "-" + std::to_string(i) + "\\bin";
        results[i] = SUPPORT::RunChild([work] {
            fs::create_directories(fs::u8path(work));
            fs::current_path(fs::u8path(work));
            _OS::ENV::Initialize("Bartender", 0, nullptr);
            std::cout << _OS::ENV::GetVarDir().u8string();
            return 0;
        });
    }
    for (int i = 0; i < 2; ++i) {
        const std::string folder = name + "-" + std::to_string(i);
        EXPECT_EQ(results[i].m_ExitCode, 0) << results[i].m_Err;
        EXPECT_EQ(results[i].m_Out, roots[i] + "\\" + folder + "\\.data\\var\\Bartender");
        // The folder on the share, seen through the drive.
        const fs::path seen = fs::u8path(std::string(drive) + "\\" + folder);
        EXPECT_TRUE(fs::exists(seen / ".data" / "var" / "Bartender" / ".Registry" / "CURRENT"));
        std::vector<std::string> made;
        std::error_code ec;
        for (fs::directory_iterator it(seen, ec); !ec && it != fs::directory_iterator();
             it.increment(ec))
            made.push_back(it->path().filename().u8string());
        std::sort(made.begin(), made.end());
        EXPECT_EQ(made, (std::vector<std::string>{".data", "bin"})) << roots[i];
        fs::remove_all(seen, ec);
    }
    // Without its root name, "\\srv\share\bin" is taken as "\srv\share\bin": a folder of the
    // share named after the server.
    const std::string server = roots[0].substr(2, roots[0].find('\\', 2) - 2);
    EXPECT_FALSE(fs::exists(fs::u8path(std::string(drive) + "\\" + server)));
}
#endif

TEST_F(EnvTest, SecondCopyRunsOnWithDefaults) {
    const char* key = "Qt/Win_Main/WindowX";
    const SUPPORT::CHILD_RESULT first = SUPPORT::RunChild(Program([&] {
        _OS::ENV::REG<int>(key, 1).Set(480);
        return 0;
    }));
    ASSERT_EQ(first.m_ExitCode, 0) << first.m_Err;

    // This process holds the store as a first copy still running would; a child running this
    // test again must find it held, not hold it itself.
    _OBJ<_OS::ILevelDb> held;
    if (!SUPPORT::InChild()) {
        held = _OS::Code_LevelDb::Create(m_Data / "var" / "Bartender" / ".Registry");
        ASSERT_TRUE(held);
    }
    const SUPPORT::CHILD_RESULT second = SUPPORT::RunChild(Program([&] {
        _OS::ENV::REG<int> x(key, 7);
        std::cout << x.Get() << "\n";
        x.Set(5);
        std::cout << x.Get() << "\n";
        _OS::ENV::REG<int> again(key, 9);
        std::cout << again.Get() << "\n" << static_cast<bool>(_OS::ENV::GetRegDatabase()) << "\n";
        return 0;
    }));
    held.reset();
    EXPECT_EQ(second.m_ExitCode, 0) << second.m_Err;
    EXPECT_EQ(second.m_Out, "Cannot create RegDatabase\n7\n5\n9\n1\n");

    // The first copy's write is kept; the second copy wrote nothing.
    const SUPPORT::CHILD_RESULT third = SUPPORT::RunChild(Program([&] {
        std::cout << _OS::ENV::REG<int>(key, 7).Get() << "\n";
        return 0;
    }));
    EXPECT_EQ(third.m_ExitCode, 0) << third.m_Err;
    EXPECT_EQ(third.m_Out, "480\n");
}

TEST_F(EnvTest, SettingDeclaredBeforeInitializeHalts) {
    const SUPPORT::CHILD_RESULT result = SUPPORT::RunChild([] {
        _OS::ENV::REG<int> early("Qt/Panel/Logger/DebugLevel", 2);
        return 1;
    });
    EXPECT_EQ(result.m_ExitCode, 0);
    EXPECT_EQ(result.m_Out, "Cannot declare _OS::ENV::REG before _OS::ENV::Initialize()\nHALT\n");
}

}  // namespace
