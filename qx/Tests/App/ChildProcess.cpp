#include "App/ChildProcess.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

ChildProcess::ChildProcess(const std::string& program, const std::string& workDir,
                           const std::vector<std::string>& environment) {
    int fds[2];
    if (pipe(fds) != 0)
        return;
    m_Pid = fork();
    if (m_Pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        if (chdir(workDir.c_str()) != 0)
            _exit(127);
        for (const auto& setting : environment) {
            const size_t eq = setting.find('=');
            setenv(setting.substr(0, eq).c_str(), setting.substr(eq + 1).c_str(), 1);
        }
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (m_Pid < 0) {
        close(fds[0]);
        return;
    }
    const int readEnd = fds[0];
    m_Reader = std::thread([this, readEnd] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(readEnd, buffer, sizeof buffer)) > 0) {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Output.append(buffer, static_cast<size_t>(n));
            m_Changed.notify_all();
        }
        close(readEnd);
    });
}

ChildProcess::~ChildProcess() {
    if (m_Pid > 0 && !m_Ended) {
        kill(m_Pid, SIGKILL);
        waitpid(m_Pid, &m_Status, 0);
    }
    if (m_Reader.joinable())
        m_Reader.join();
}

std::string ChildProcess::Output() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Output;
}

bool ChildProcess::WaitForOutput(const std::string& text,
                                 std::chrono::milliseconds deadline) const {
    std::unique_lock<std::mutex> lock(m_Mutex);
    return m_Changed.wait_for(lock, deadline,
                              [&] { return m_Output.find(text) != std::string::npos; });
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds deadline) {
    if (m_Pid <= 0)
        return std::nullopt;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!m_Ended) {
        const pid_t done = waitpid(m_Pid, &m_Status, WNOHANG);
        if (done == m_Pid) {
            m_Ended = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= end)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (m_Reader.joinable())
        m_Reader.join();
    if (!WIFEXITED(m_Status))
        return std::nullopt;
    return WEXITSTATUS(m_Status);
}
