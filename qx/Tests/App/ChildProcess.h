#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A program run by a test, its standard output and error collected into one text.
struct ChildProcess {
    // Starts program in workDir with the given "NAME=value" settings added to the environment.
    ChildProcess(const std::string& program, const std::string& workDir,
                 const std::vector<std::string>& environment);
    ~ChildProcess();  // kills the child if it still runs

    bool Started() const { return m_Pid > 0; }
    std::string Output() const;
    // Waits until the output contains text; false at the deadline.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds deadline) const;
    // The exit code once the child has ended normally; nothing at the deadline or on a signal.
    std::optional<int> WaitForExit(std::chrono::milliseconds deadline);

private:
    pid_t m_Pid = -1;
    int m_Status = 0;
    bool m_Ended = false;
    std::thread m_Reader;
    mutable std::mutex m_Mutex;
    mutable std::condition_variable m_Changed;
    std::string m_Output;
};
