#pragma once

#include <filesystem>
#include <string>

#include "Platform/IRegDatabase.h"
#include "Platform/Obj.h"

// The process environment: application id, display name, the data root beside the working
// directory and the settings registry. Set up once, on the main thread, before anything reads
// it. Messages go to standard output or error: the logging layer may not be up yet.
namespace _OS::ENV {

// Lays out "../.data" (hidden when new) with etc, lib, var, tmp and log, each holding a folder
// named appName, and opens the registry in var/<appName>/.Registry. A folder that cannot be
// made ends the process with exit code 0; a store that cannot be opened leaves a registry
// that keeps every setting at its default.
void Initialize(const std::string& appName, int argc, char** argv);

// Creates the folder and its missing parents unless something exists there already; on a
// file system error writes it to standard error and ends the process with exit code 0.
void CreateDir(const std::filesystem::path& folder);

const std::string& GetAppName();
// The application id while no non-empty display name is set.
const std::string& GetDisplayName();
void SetDisplayName(const std::string& text);
// The working directory at program start until Initialize.
const std::filesystem::path& GetVarDir();
// Empty only before Initialize.
_OBJ<IRegDatabase> GetRegDatabase();
// Warns on standard output when Initialize has not run yet; never stops the caller.
void CheckInitialized();

}  // namespace _OS::ENV
