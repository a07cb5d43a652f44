#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <mutex>

#include "Qx/QxApp.h"
#include "Support/TempDir.h"

namespace {

// Made after the environments the test program registered itself, so that theirs set up the
// process (settings, variables) before Qt starts.
struct APPLICATION : testing::Environment {
    APPLICATION(int argc, char** argv) : m_Argc(argc), m_Argv(argv) {}
    void SetUp() override { _QX::APP::CreateApplication(m_Argc, m_Argv); }

    int m_Argc;
    char** m_Argv;
};

}  // namespace

// The main of the GUI test programs: one application object for all their cases, on the
// offscreen platform unless the environment names another, in a working folder of their own
// (the programs keep their data beside it).
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    const SUPPORT::TEMP_DIR root;
    std::filesystem::create_directories(root.m_Path / "work");
    std::filesystem::current_path(root.m_Path / "work");
    testing::AddGlobalTestEnvironment(new APPLICATION(argc, argv));
    const int result = RUN_ALL_TESTS();
    {
        std::lock_guard<std::mutex> lock(_QX::APP::g_Mutex);
        _QX::APP::g_Application = nullptr;
    }
    delete QCoreApplication::instance();
    return result;
}
