#include "Support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "Support/ReadText.h"
#include "Support/Wait.h"

extern char** environ;

namespace SUPPORT {

namespace {

// This process's environment with the overrides applied in order: a later entry of a name wins.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
    std::map<std::string, std::string> byName;
    const auto add = [&byName](const std::string& entry) {
        byName[entry.substr(0, entry.find('='))] = entry;
    };
    for (char** e = environ; *e; ++e)
        add(*e);
    for (const std::string& entry : overrides)
        add(entry);
    std::vector<std::string> env;
    for (auto& named : byName)
        env.push_back(std::move(named.second));
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

CProcess::~CProcess() {
    if (Running()) {
        kill(m_Pid, SIGKILL);
        waitpid(m_Pid, nullptr, 0);
    }
    if (m_Input >= 0)
        close(m_Input);
}

bool CProcess::Start(const SPEC& spec) {
    // A line written to a program that has exited must fail the case, not kill the test.
    static std::once_flag ignorePipe;
    std::call_once(ignorePipe, [] { signal(SIGPIPE, SIG_IGN); });
    if (m_Input >= 0) {
        close(m_Input);
        m_Input = -1;
    }
    m_Output = spec.m_Output;
    int input[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        return false;
    const int output = open(spec.m_Output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (output < 0)
        return false;

    std::vector<std::string> args = {spec.m_Exe};
    args.insert(args.end(), spec.m_Args.begin(), spec.m_Args.end());
    std::vector<std::string> env = MergedEnvironment(spec.m_Env);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(input[0], 0);
        dup2(output, 1);
        dup2(output, 2);
        // An ignored signal stays ignored across exec; the program gets the default.
        signal(SIGPIPE, SIG_DFL);
        if (spec.m_InheritFd >= 0)
            fcntl(spec.m_InheritFd, F_SETFD, 0);
        if (!spec.m_Cwd.empty() && chdir(spec.m_Cwd.c_str()) != 0)
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

void CProcess::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    size_t written = 0;
    while (m_Input >= 0 && written < text.size()) {
        const ssize_t n = write(m_Input, text.data() + written, text.size() - written);
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
}

std::string CProcess::Output() const {
    return ReadText(m_Output);
}

bool CProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds deadline) const {
    return WaitUntil([&] { return Output().find(text) != std::string::npos; }, deadline);
}

std::optional<int> CProcess::Wait(std::chrono::milliseconds deadline) {
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

int CProcess::Stop() {
    if (!Running())
        return -1;
    kill(m_Pid, SIGTERM);
    if (auto code = Wait(std::chrono::seconds(5)))
        return *code;
    kill(m_Pid, SIGKILL);
    return Wait(std::chrono::seconds(5)).value_or(-1);
}

}  // namespace SUPPORT
