#include "Gateway/EndToEnd/CVirtualDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

std::string ReadFirstLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

bool CVirtualDisplay::Start(const std::string& logFile) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    SUPPORT::CProcess::SPEC spec;
    spec.m_Exe = "/usr/bin/Xvfb";
    spec.m_Args = {"-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen",
                   "0",          "1280x1024x24"};
    spec.m_Output = logFile;
    spec.m_InheritFd = fds[1];
    const bool started = m_Server.Start(spec);
    close(fds[1]);
    std::string number;
    pollfd readable = {fds[0], POLLIN, 0};
    // Xvfb writes the display number and a line end once it accepts clients.
    while (started && poll(&readable, 1, 20000) > 0) {
        char c = 0;
        if (read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    close(fds[0]);
    if (number.empty())
        return false;
    m_Name = ":" + number;
    return true;
}

bool CVirtualDisplay::Xdotool(const std::vector<std::string>& args, const std::string& output) {
    SUPPORT::CProcess tool;
    SUPPORT::CProcess::SPEC spec;
    spec.m_Exe = "/usr/bin/xdotool";
    spec.m_Args = args;
    spec.m_Env = {"DISPLAY=" + m_Name};
    spec.m_Output = output;
    if (!tool.Start(spec))
        return false;
    const auto code = tool.Wait(std::chrono::seconds(30));
    if (!code)
        tool.Stop();
    return code && *code == 0;
}

bool CVirtualDisplay::PressReturnIn(const std::string& title, const std::string& workDir) {
    const std::string found = workDir + "/xdotool-search.txt";
    if (!Xdotool({"search", "--sync", "--onlyvisible", "--name", "^" + title + "$"}, found)) {
        return false;
    }
    const std::string window = ReadFirstLine(found);
    if (window.empty())
        return false;
    return Xdotool({"windowfocus", "--sync", window, "key", "Return"},
                   workDir + "/xdotool-key.txt");
}
