#include "Gateway/EndToEnd/CGatewayRun.h"

#include <arpa/inet.h>
#include <stdlib.h>

#include <sstream>

#include "Support/ReadText.h"
#include "Support/Wait.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Each look reads and parses whole logs.
constexpr std::chrono::seconds kDeadline{20};
constexpr std::chrono::milliseconds kEvery{10};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace

CGatewayRun::CGatewayRun() {
    std::string pattern = (fs::temp_directory_path() / "quenlor-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        ADD_FAILURE() << "mkdtemp failed";
    m_Root = fs::canonical(pattern);
    m_Work = m_Root / "work";
    fs::create_directories(m_Work);
}

CGatewayRun::~CGatewayRun() {
    m_Gateway.Stop();
    m_Simulator.Stop();
    if (testing::Test::HasFailure()) {
        std::cout << "kept for inspection: " << m_Root << std::endl;
        return;
    }
    std::error_code ignored;
    fs::remove_all(m_Root, ignored);
}

fs::path CGatewayRun::FormatFolder() const {
    return m_Root / ".data" / "var" / "Bartender";
}

std::string CGatewayRun::AbsPath(const std::string& relPath) const {
    return (FormatFolder() / fs::u8path(relPath)).u8string();
}

void CGatewayRun::PlaceSample(const std::string& sample, const std::string& relPath) {
    const fs::path target = FormatFolder() / fs::u8path(relPath);
    fs::create_directories(target.parent_path());
    fs::copy_file(fs::u8path(std::string(QX_E2E_SAMPLES) + "/" + sample), target,
                  fs::copy_options::overwrite_existing);
}

std::string CGatewayRun::SimulatorAddress() {
    const std::string host = QX_MES_HOST;
    if (host == "localhost")
        return "127.0.0.1";
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127 ? host : std::string();
    return host == "::1" ? host : std::string();
}

testing::AssertionResult CGatewayRun::StartSimulator(const std::vector<std::string>& args) {
    ++m_SimulatorRuns;
    const std::string run = std::to_string(m_SimulatorRuns);
    SUPPORT::CProcess::SPEC spec;
    spec.m_Exe = QX_E2E_SIMULATOR;
    spec.m_Args = {"--listen",    SimulatorAddress(),
                   "--port",      "5212",
                   "--frame-log", (m_Root / ("frames-" + run + ".log")).string(),
                   "--png-dir",   (m_Root / "png").string()};
    spec.m_Args.insert(spec.m_Args.end(), args.begin(), args.end());
    spec.m_Output = (m_Root / ("simulator-" + run + ".txt")).string();
    if (!m_Simulator.Start(spec))
        return testing::AssertionFailure() << "cannot start " << QX_E2E_SIMULATOR;
    std::optional<int> exited;
    const bool listening = SUPPORT::WaitUntil([&] {
        if (SimulatorLog().find("info listening") != std::string::npos)
            return true;
        exited = m_Simulator.Wait(std::chrono::milliseconds(0));
        return exited.has_value();
    });
    if (listening && !exited)
        return testing::AssertionSuccess();
    const std::string why = exited ? "exited with " + std::to_string(*exited) : "did not listen";
    return testing::AssertionFailure()
           << "the MES simulator " << why << ": " << m_Simulator.Output();
}

bool CGatewayRun::StartGateway(const std::vector<std::string>& env) {
    SUPPORT::CProcess::SPEC spec;
    spec.m_Exe = QX_E2E_QUENLOR;
    spec.m_Cwd = m_Work.string();
    // The gateway gets a home of its own and no display unless the case gives one.
    const fs::path home = m_Root / "home";
    fs::create_directories(home / "runtime");
    fs::permissions(home / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    spec.m_Env = {"HOME=" + home.string(),
                  "XDG_RUNTIME_DIR=" + (home / "runtime").string(),
                  "XDG_CONFIG_HOME=" + (home / "config").string(),
                  "XDG_DATA_HOME=" + (home / "data").string(),
                  "XDG_CACHE_HOME=" + (home / "cache").string(),
                  "QT_QPA_PLATFORM=offscreen"};
    // Sanitizer builds: the X11 cases would fail on leaks of system libraries at exit.
    if (getenv("LSAN_OPTIONS") == nullptr) {
        spec.m_Env.push_back(std::string("LSAN_OPTIONS=suppressions=") + QX_E2E_LSAN_SUPPRESSIONS);
    }
    spec.m_Env.insert(spec.m_Env.end(), env.begin(), env.end());
    spec.m_Output = (m_Root / "gateway.txt").string();
    return m_Gateway.Start(spec);
}

std::string CGatewayRun::GatewayOutput() const {
    return m_Gateway.Output();
}

size_t CGatewayRun::Occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

size_t CGatewayRun::CountInOutput(const std::string& text) const {
    return Occurrences(GatewayOutput(), text);
}

bool CGatewayRun::WaitForOutput(const std::string& text, size_t count) const {
    return SUPPORT::WaitUntil([&] { return CountInOutput(text) >= count; }, kDeadline, kEvery);
}

size_t CGatewayRun::CountOutputLines(const std::string& text) const {
    size_t count = 0;
    for (const auto& line : Lines(GatewayOutput()))
        count += line == text;
    return count;
}

bool CGatewayRun::WaitForOutputLines(const std::string& text, size_t count) const {
    return SUPPORT::WaitUntil([&] { return CountOutputLines(text) >= count; }, kDeadline, kEvery);
}

std::string CGatewayRun::SimulatorLog() const {
    return SUPPORT::ReadText(m_Root / ("frames-" + std::to_string(m_SimulatorRuns) + ".log"));
}

std::vector<json> CGatewayRun::Calls(const std::string& command) const {
    std::vector<json> calls;
    for (const auto& line : Lines(SimulatorLog())) {
        if (line.rfind("recv ", 0) != 0)
            continue;
        const json frame = json::parse(line.substr(5), nullptr, false);
        if (frame.is_object() && frame.value("_CMD", "") == command)
            calls.push_back(frame);
    }
    return calls;
}

bool CGatewayRun::WaitForCalls(const std::string& command, size_t count) const {
    return SUPPORT::WaitUntil([&] { return Calls(command).size() >= count; }, kDeadline, kEvery);
}
