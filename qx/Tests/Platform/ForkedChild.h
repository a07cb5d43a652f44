#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

// Tests of process-wide state (working directory, environment, registry) run their bodies in
// forked children inside a temporary folder, with standard output and error captured.
namespace TEST {

struct TEMP_DIR {
    TEMP_DIR() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qx-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        m_Path = pattern;
    }
    ~TEMP_DIR() {
        std::error_code ec;
        std::filesystem::remove_all(m_Path, ec);
    }
    std::filesystem::path m_Path;
};

struct CHILD {
    pid_t m_Pid = -1;
    std::filesystem::path m_Out;
    std::filesystem::path m_Err;
};

struct CHILD_RESULT {
    int m_ExitCode = -1;  // -1 when the child did not exit normally
    std::string m_Out;
    std::string m_Err;
};

// The body's result is the child's exit code. A child that hangs is killed after a minute.
inline CHILD StartChild(const std::filesystem::path& captureDir, const std::function<int()>& body) {
    static int counter = 0;
    ++counter;
    CHILD child;
    child.m_Out = captureDir / ("child-" + std::to_string(counter) + ".out");
    child.m_Err = captureDir / ("child-" + std::to_string(counter) + ".err");
    std::fflush(stdout);
    std::fflush(stderr);
    child.m_Pid = fork();
    if (child.m_Pid == 0) {
        alarm(60);
        const int out = open(child.m_Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(child.m_Err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0)
            _exit(101);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        const int code = body();
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(code);
    }
    return child;
}

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline CHILD_RESULT WaitChild(const CHILD& child) {
    CHILD_RESULT result;
    int status = 0;
    if (child.m_Pid > 0 && waitpid(child.m_Pid, &status, 0) == child.m_Pid && WIFEXITED(status)) {
        result.m_ExitCode = WEXITSTATUS(status);
    }
    result.m_Out = ReadText(child.m_Out);
    result.m_Err = ReadText(child.m_Err);
    return result;
}

inline CHILD_RESULT RunChild(const std::filesystem::path& captureDir,
                             const std::function<int()>& body) {
    return WaitChild(StartChild(captureDir, body));
}

// Makes folder (and its parents) and enters it; false when either fails.
inline bool EnterDir(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return !ec && chdir(folder.c_str()) == 0;
}

}  // namespace TEST
