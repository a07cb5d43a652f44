#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

// A fresh folder under the system's temporary folder, removed with everything inside.
struct TestDir {
    TestDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qx-app-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path = pattern;
    }
    ~TestDir() {
        std::error_code ec;
        if (!path.empty())
            std::filesystem::remove_all(path, ec);
    }
    TestDir(const TestDir&) = delete;
    TestDir& operator=(const TestDir&) = delete;

    std::string path;
};
