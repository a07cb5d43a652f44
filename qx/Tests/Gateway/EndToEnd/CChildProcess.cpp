#include "Gateway/EndToEnd/CChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

extern char** environ;

namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& o : overrides)
            replaced |= o.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            env.push_back(entry);
    }
    // A later override of the same name wins.
    for (auto o = overrides.rbegin(); o != overrides.rend(); ++o) {
        const std::string name = o->substr(0, o->find('=') + 1);
        bool later = false;
        for (const auto& e : env)
            later |= e.compare(0, name.size(), name) == 0;
        if (!later)
            env.push_back(*o);
    }
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

CChildProcess::~CChildProcess() {
    if (Running()) {
        kill(m_Pid, SIGKILL);
        waitpid(m_Pid, nullptr, 0);
    }
    if (m_Input >= 0)
        close(m_Input);
}

bool CChildProcess::Start(const SPEC& spec) {
    int input[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        return false;
    const int output = open(spec.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (output < 0)
        return false;

    std::vector<std::string> args = {spec.exe};
    args.insert(args.end(), spec.args.begin(), spec.args.end());
    std::vector<std::string> env = MergedEnvironment(spec.env);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(input[0], 0);
        dup2(output, 1);
        dup2(output, 2);
        if (spec.inheritFd >= 0)
            fcntl(spec.inheritFd, F_SETFD, 0);
        if (!spec.cwd.empty() && chdir(spec.cwd.c_str()) != 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(input[0]);
    close(output);
    if (pid < 0) {
        close(input[1]);
        return false;
    }
    m_Pid = pid;
    m_Input = input[1];
    return true;
}

void CChildProcess::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    size_t written = 0;
    while (m_Input >= 0 && written < text.size()) {
        const ssize_t n = write(m_Input, text.data() + written, text.size() - written);
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
}

std::optional<int> CChildProcess::Wait(std::chrono::milliseconds deadline) {
    if (!Running())
        return std::nullopt;
    int status = 0;
    const bool ended =
        WaitUntil([&] { return waitpid(m_Pid, &status, WNOHANG) == m_Pid; }, deadline);
    if (!ended)
        return std::nullopt;
    m_Pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int CChildProcess::Stop() {
    if (!Running())
        return -1;
    kill(m_Pid, SIGTERM);
    if (auto code = Wait(std::chrono::seconds(5)))
        return *code;
    kill(m_Pid, SIGKILL);
    return Wait(std::chrono::seconds(5)).value_or(-1);
}
