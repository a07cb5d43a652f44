#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace SUPPORT {

// A program started by an end-to-end test (POSIX only): its standard input is a pipe, its
// standard output and error go to one file. A process still running when the object goes is
// killed.
struct CProcess {
    struct SPEC {
        std::string m_Exe;
        std::vector<std::string> m_Args;
        std::string m_Cwd;
        // NAME=VALUE entries added to (or replacing those of) this process's environment; of
        // two entries with one name the later wins.
        std::vector<std::string> m_Env;
        std::string m_Output;
        // A descriptor the program inherits (for example Xvfb's -displayfd).
        int m_InheritFd = -1;
    };

    CProcess() = default;
    CProcess(const CProcess&) = delete;
    CProcess& operator=(const CProcess&) = delete;
    ~CProcess();

    bool Start(const SPEC& spec);
    bool Running() const { return m_Pid > 0; }
    void WriteLine(const std::string& line);
    // Standard output and error so far.
    std::string Output() const;
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds deadline) const;
    // The exit code (128 + signal for a signal), or nothing when it runs past the deadline.
    std::optional<int> Wait(std::chrono::milliseconds deadline);
    // SIGTERM, then SIGKILL if it does not end within a few seconds; returns the exit code.
    int Stop();

private:
    pid_t m_Pid = -1;
    int m_Input = -1;
    std::string m_Output;
};

}  // namespace SUPPORT
