#include "Platform/Env.h"

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <system_error>

#include "Platform/Code_LevelDb.h"
#include "Platform/Code_RegDatabase.h"
#include "Platform/HiddenFile.h"
#include "Platform/NormalPath.h"
#include "Platform/PathStatus.h"
#include "Platform/Text.h"

namespace fs = std::filesystem;

namespace _OS::ENV {

namespace {

fs::path StartDir() {
    std::error_code ec;
    return fs::current_path(ec);
}

std::string g_AppName;
std::string g_DisplayName;
fs::path g_VarDir = StartDir();
_OBJ<IRegDatabase> g_Registry;
uint32_t g_InitCount = 0;

// The process cannot go on without its folders; the operator reads why on standard error.
[[noreturn]] void Fail(const std::string& message) {
    std::cerr << message << std::endl;
    std::exit(0);
}

// Anything whose status can be read counts, a plain file included. Any other error (access
// denied, a symbolic link loop) would leave the tree half made, so it ends the process.
bool Exists(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = PathStatus(path, ec);
    if (ec) {
        Fail("_OS::ENV::Initialize() - Error reading " + _OS::PathToUtf8(path) + ": " +
             ec.message());
    }
    return status.type() != fs::file_type::not_found;
}

fs::path WorkingDir() {
    std::error_code ec;
    fs::path dir = fs::current_path(ec);
    if (ec)
        Fail("_OS::ENV::Initialize() - Error reading the working directory: " + ec.message());
    return _OS::NormalPath(dir);
}

}  // namespace

void Initialize(const std::string& appName, int, char**) {
    g_AppName = appName;

    const fs::path work = WorkingDir();
    CreateDir(work);

    const fs::path root = _OS::NormalPath(work / "../.data");
    if (!Exists(root)) {
        CreateDir(root);
        SetHidden(root);
    }

    // The id is UTF-8 like every string of the system; both ids in use are plain ASCII.
    const fs::path appFolder = fs::u8path(appName);
    for (const char* name : {"etc", "lib", "var", "tmp", "log"}) {
        const fs::path dir = _OS::NormalPath(root / name / appFolder);
        CreateDir(dir);
        if (std::string(name) == "var")
            g_VarDir = dir;
    }

    const fs::path registry = g_VarDir / ".Registry";
    const bool registryExisted = Exists(registry);
    _OBJ<ILevelDb> store = Code_LevelDb::Create(registry);
    if (!store)
        std::cout << "Cannot create RegDatabase" << std::endl;
    if (!registryExisted)
        SetHidden(registry);

    g_Registry = Code_RegDatabase::Create(store);
    ++g_InitCount;
}

void CreateDir(const fs::path& folder) {
    try {
        std::error_code ec;
        const fs::file_status status = PathStatus(folder, ec);
        if (ec)
            throw fs::filesystem_error("cannot inspect", folder, ec);
        if (status.type() != fs::file_type::not_found)
            return;
        fs::create_directories(folder);
    } catch (const fs::filesystem_error& e) {
        Fail(std::string("_OS::ENV::CreateDir() - Error creating directories: ") + e.what());
    }
}

const std::string& GetAppName() {
    return g_AppName;
}

const std::string& GetDisplayName() {
    return g_DisplayName.empty() ? g_AppName : g_DisplayName;
}

void SetDisplayName(const std::string& text) {
    g_DisplayName = text;
}

const fs::path& GetVarDir() {
    return g_VarDir;
}

_OBJ<IRegDatabase> GetRegDatabase() {
    return g_Registry;
}

void CheckInitialized() {
    if (g_InitCount == 0) {
        std::cout << "Cannot declare _OS::ENV::REG before _OS::ENV::Initialize()" << std::endl;
    }
}

}  // namespace _OS::ENV
