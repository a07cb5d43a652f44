#pragma once

#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

// A program started for a test: its standard input is a pipe, standard output and error go
// to one file. A process still running when the object goes is killed.
struct CChildProcess {
    struct SPEC {
        std::string exe;
        std::vector<std::string> args;
        std::string cwd;
        // NAME=VALUE entries added to (or replacing those of) this process's environment; of
        // two entries with one name the later wins.
        std::vector<std::string> env;
        std::string output;
        // A descriptor the program inherits (for example Xvfb's -displayfd).
        int inheritFd = -1;
    };

    CChildProcess() = default;
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;
    ~CChildProcess();

    bool Start(const SPEC& spec);
    bool Running() const { return m_Pid > 0; }
    void WriteLine(const std::string& line);
    // The exit code (128 + signal for a signal), or nothing when it runs past the deadline.
    std::optional<int> Wait(std::chrono::milliseconds deadline);
    // SIGTERM, then SIGKILL if it does not end within a few seconds; returns the exit code.
    int Stop();

private:
    pid_t m_Pid = -1;
    int m_Input = -1;
};

// Polls pred until it holds or the deadline passes; the happy path returns at once.
template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        struct timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return true;
}
