#include "App/WebEngineProcess.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <dlfcn.h>
#include <link.h>

#include <QApplication>
#include <QMainWindow>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "App/QtMessages.h"
#include "Platform/Env.h"
#include "Support/Wait.h"

namespace {

namespace fs = std::filesystem;

// Keeps the OpenGL drivers loaded so far in memory until the process ends. Closing the X
// display otherwise unloads Mesa's driver, and what it still holds is then reported as a leak
// from code the leak checker can no longer name or tell apart from ours.
void KeepGlDriversLoaded() {
    std::vector<std::string> drivers;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            if (info->dlpi_name && std::strstr(info->dlpi_name, "/dri/"))
                static_cast<std::vector<std::string>*>(data)->push_back(info->dlpi_name);
            return 0;
        },
        &drivers);
    // Only marks libraries already loaded: RTLD_NOLOAD never loads one.
    for (const std::string& driver : drivers)
        dlopen(driver.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

// The web engine test programs: a home, temporary folder and settings of their own beside the
// working folder, Qt's messages collected, and the web engine down before the application
// object and static objects go (its threads still run).
struct WEB_ENGINE_PROCESS : testing::Environment {
    void SetUp() override {
        const fs::path root = fs::current_path().parent_path();
        fs::create_directories(root / "home");
        fs::create_directories(root / "tmp");
        setenv("HOME", (root / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root / "home" / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (root / "home" / "data").c_str(), 1);
        setenv("XDG_CACHE_HOME", (root / "home" / "cache").c_str(), 1);
        setenv("TMPDIR", (root / "tmp").c_str(), 1);
        _OS::ENV::Initialize("Mes", 0, nullptr);
        _OS::ENV::SetDisplayName("MES");
        QtMessages::Install();
    }
    void TearDown() override {
        qInstallMessageHandler(nullptr);
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMainWindow*>(widget))
                delete widget;
        }
        KeepGlDriversLoaded();
    }
};

testing::Environment* const kWebEngineProcess =
    testing::AddGlobalTestEnvironment(new WEB_ENGINE_PROCESS);

}  // namespace

bool ProcessEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    return SUPPORT::WaitUntil(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            return done();
        },
        deadline);
}
