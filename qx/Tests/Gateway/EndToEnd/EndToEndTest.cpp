// The real Quenlor against the MES simulator on port 5212 of its MES host, with the stand-in
// engine and its sample formats.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QImage>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "Gateway/EndToEnd/CGatewayRun.h"
#include "Gateway/EndToEnd/CVirtualDisplay.h"
#include "Support/Wait.h"

using nlohmann::json;

namespace {

// The simulator can stand in only for an MES host on this machine.
struct LocalMesHost : testing::Environment {
    void SetUp() override {
        if (CGatewayRun::SimulatorAddress().empty()) {
            GTEST_SKIP() << "Quenlor is built for the MES host " << QX_MES_HOST
                         << ", which is not this machine: the simulator cannot listen there";
        }
    }
};
[[maybe_unused]] testing::Environment* const kLocalMesHost =
    testing::AddGlobalTestEnvironment(new LocalMesHost);

const char kLabel[] = "Label_100x50.btw";
const char kShipping[] = "Shipping_150x100_Landscape.btw";
const char kMaterial[] = "物料标签_60x40.btw";

json Job(const std::string& formatFilename, int dpi, json data) {
    return {{"Type", "Label"},        {"PrinterName", "Zebra-01"},
            {"FormatName", "sample"}, {"FormatFilename", formatFilename},
            {"WidthInMm", 100},       {"HeightInMm", 50},
            {"isLandscape", false},   {"Dpi", dpi},
            {"Data", std::move(data)}};
}

QImage DecodePng(const json& print) {
    const auto base64 = QByteArray::fromStdString(print.at("base64PngData").get<std::string>());
    return QImage::fromData(QByteArray::fromBase64(base64), "PNG");
}

int Pixels(double mm, int dpi) {
    return static_cast<int>(std::lround(mm / 25.4 * dpi));
}

// Formats at several depths and letter cases, next to names that only look like formats.
void PlaceFormats(CGatewayRun& run) {
    run.PlaceSample(kLabel, "Label.btw");
    run.PlaceSample(kShipping, "sub/SHIPPING.BTW");
    run.PlaceSample(kMaterial, "sub/deep/物料.Btw");
    run.PlaceSample(kLabel, "Label.btw.bak");
    run.PlaceSample(kLabel, "sub/Label.btwx");
    run.PlaceSample(kLabel, "sub/deep/.btw");
}

// Starts both programs and waits until the three formats are registered.
void StartRegistered(CGatewayRun& run, const std::vector<std::string>& simulatorArgs = {}) {
    PlaceFormats(run);
    ASSERT_TRUE(run.StartSimulator(simulatorArgs));
    ASSERT_TRUE(run.StartGateway());
    ASSERT_TRUE(run.WaitForCalls("Register", 3)) << run.GatewayOutput();
}

// A listening socket on the simulator's address and port; -1 when it cannot be had.
int HoldMesPort(const std::string& address) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.find(':') == std::string::npos) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(5212);
        inet_pton(AF_INET, address.c_str(), &v4->sin_addr);
        length = sizeof(*v4);
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(5212);
        inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr);
        length = sizeof(*v6);
    }
    const int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // As the simulator does: an earlier case's connections in TIME_WAIT do not hold the port.
    const int reuse = 1;
    if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) == 0 &&
        bind(fd, reinterpret_cast<sockaddr*>(&storage), length) == 0 && listen(fd, 1) == 0) {
        return fd;
    }
    if (fd >= 0)
        close(fd);
    return -1;
}

}  // namespace

TEST(GatewayEndToEnd, ReportsRegistersAndPrints) {
    CGatewayRun run;
    StartRegistered(run);

    // The frames' bytes and the keys kept from the MES are proven by SessionTest and
    // MainCtrlTasks; here the real folder, engine and simulator meet.
    EXPECT_EQ(run.Calls("_INITIALIZE").size(), 1u);

    const auto check = run.Calls("CheckConfig");
    ASSERT_EQ(check.size(), 1u);
    std::set<std::string> reported;
    for (const auto& item : check[0].at("Items")) {
        const std::string relPath = item.at("relPath");
        reported.insert(relPath);
        EXPECT_EQ(item.at("absPath"), run.AbsPath(relPath));
    }
    EXPECT_EQ(reported,
              (std::set<std::string>{"Label.btw", "sub/SHIPPING.BTW", "sub/deep/物料.Btw"}));
    EXPECT_TRUE(
        std::filesystem::is_directory(run.FormatFolder() / std::filesystem::u8path("物料")));

    struct PAPER {
        double width, height;
        bool landscape;
    };
    const std::map<std::string, PAPER> papers = {{"Label.btw", {100, 50, false}},
                                                 {"sub/SHIPPING.BTW", {150, 100, true}},
                                                 {"sub/deep/物料.Btw", {60, 40, false}}};
    std::set<std::string> registered;
    for (const auto& reg : run.Calls("Register")) {
        const std::string name = reg.at("DisplayName");
        registered.insert(name);
        ASSERT_EQ(papers.count(name), 1u) << reg;
        EXPECT_EQ(reg.at("absPath"), run.AbsPath(name));
        EXPECT_DOUBLE_EQ(reg.at("WidthInMm").get<double>(), papers.at(name).width);
        EXPECT_DOUBLE_EQ(reg.at("HeightInMm").get<double>(), papers.at(name).height);
        EXPECT_EQ(reg.at("isLandscape"), papers.at(name).landscape);
    }
    EXPECT_EQ(registered.size(), 3u);
    EXPECT_TRUE(run.WaitForOutput("Loaded 'sub/deep/物料.Btw'"));

    const json label = Job(run.AbsPath("Label.btw"), 203, {{"PartNo", "P-1"}, {"Lot", "L-9"}});
    json shipping = Job(run.AbsPath("sub/SHIPPING.BTW"), 300, {{"Customer", "ACME"}});
    shipping["PrinterName"] = "";
    run.SendJob(label);
    ASSERT_TRUE(run.WaitForCalls("Print", 1)) << run.GatewayOutput();
    run.SendJob(shipping);
    ASSERT_TRUE(run.WaitForCalls("Print", 2)) << run.GatewayOutput();

    const auto prints = run.Calls("Print");
    EXPECT_EQ(prints[0].at("Job"), label);
    EXPECT_EQ(prints[0].at("PrinterName"), "Zebra-01");
    EXPECT_EQ(prints[1].at("Job"), shipping);
    EXPECT_EQ(prints[1].at("PrinterName"), "");
    const QImage first = DecodePng(prints[0]);
    EXPECT_EQ(first.width(), Pixels(100, 203));
    EXPECT_EQ(first.height(), Pixels(50, 203));
    const QImage second = DecodePng(prints[1]);
    EXPECT_EQ(second.width(), Pixels(150, 300));
    EXPECT_EQ(second.height(), Pixels(100, 300));
    EXPECT_EQ(run.CountOutputLines(label.at("FormatFilename")), 1u);
    EXPECT_EQ(run.CountOutputLines(shipping.at("FormatFilename")), 1u);
    EXPECT_EQ(run.CountInOutput("'sample' Image is generated"), 2u);
}

TEST(GatewayEndToEnd, ReconnectsAndRegistersAgain) {
    CGatewayRun run;
    StartRegistered(run);
    const std::string label = run.AbsPath("Label.btw");

    // A dropped link is noticed, the formats are closed, and the gateway comes back by itself.
    run.Simulator("drop");
    ASSERT_TRUE(run.WaitForOutput("MES is Disconnected"));
    ASSERT_TRUE(run.WaitForCalls("Register", 6)) << run.GatewayOutput();
    EXPECT_EQ(run.Calls("_INITIALIZE").size(), 2u);
    EXPECT_EQ(run.Calls("CheckConfig").size(), 2u);

    // The simulator goes away and comes back answering nothing until told: a job that arrives
    // before the formats are registered again is dropped.
    run.Simulator("quit");
    ASSERT_TRUE(run.SimulatorProcess().Wait(std::chrono::seconds(20)).has_value());
    ASSERT_TRUE(run.WaitForOutput("MES is Disconnected", 2));
    ASSERT_TRUE(run.StartSimulator({"--hold"}));
    ASSERT_TRUE(run.WaitForCalls("_INITIALIZE", 1));
    run.SendJob(Job(label, 203, {{"PartNo", "early"}}));
    ASSERT_TRUE(run.WaitForOutputLines(label, 1));

    run.Simulator("release");
    ASSERT_TRUE(run.WaitForCalls("Register", 3)) << run.GatewayOutput();
    run.SendJob(Job(label, 203, {{"PartNo", "late"}}));
    ASSERT_TRUE(run.WaitForCalls("Print", 1)) << run.GatewayOutput();
    const auto prints = run.Calls("Print");
    ASSERT_EQ(prints.size(), 1u);
    EXPECT_EQ(prints[0].at("Job").at("Data").at("PartNo"), "late");
}

TEST(GatewayEndToEnd, MissingFormatFolderSendsNoCheckConfig) {
    CGatewayRun run;
    // The format folder's place is taken by a plain file.
    std::filesystem::create_directories(run.FormatFolder().parent_path());
    std::ofstream(run.FormatFolder()) << "not a folder";
    ASSERT_TRUE(run.StartSimulator());
    ASSERT_TRUE(run.StartGateway());
    ASSERT_TRUE(run.WaitForOutput("MES is Connected")) << run.GatewayOutput();
    EXPECT_EQ(run.CountInOutput("Cannot find Bartender directory"), 1u);
    EXPECT_LT(run.GatewayOutput().find("Cannot find Bartender directory"),
              run.GatewayOutput().find("MES is Connected"));
    EXPECT_EQ(run.Calls("_INITIALIZE").size(), 1u);
    EXPECT_TRUE(run.Calls("CheckConfig").empty());
}

// Another program holds the MES port: the case fails with the cause, and a command written to
// the simulator that exited does not end the test.
TEST(GatewayEndToEnd, TakenMesPortFailsWithTheCause) {
    const std::string address = CGatewayRun::SimulatorAddress();
    const int holder = HoldMesPort(address);
    ASSERT_GE(holder, 0) << "cannot hold " << address << ":5212";
    CGatewayRun run;
    const testing::AssertionResult started = run.StartSimulator();
    close(holder);
    EXPECT_FALSE(started);
    EXPECT_NE(std::string(started.message()).find(address + ":5212 is in use"), std::string::npos)
        << started.message();
    run.Simulator("quit");
    EXPECT_FALSE(run.SimulatorProcess().Running());
}

// The MES refuses "_INITIALIZE" and closes the link at once. A connection that ends that soon
// after its handshake makes the socket wait at least a second before the next attempt, and the
// refusal is handled on a pool worker meanwhile; only on a badly loaded machine may another
// connection come first, refused and closed in turn. Then the link ends for good: no new
// connection comes, nothing is accepted, and the gateway runs on. A socket that went on
// reconnecting would exceed the bound within seconds.
// Each round is a fresh gateway.
TEST(GatewayEndToEnd, RefusedInitializeAndCloseEndTheLinkForGood) {
    constexpr size_t kRounds = 20;
    constexpr size_t kMaxConnectionsPerRound = 10;
    CGatewayRun run;
    PlaceFormats(run);
    ASSERT_TRUE(run.StartSimulator({"--refuse-initialize", "--close-on-refusal"}));
    const auto seen = [&run](const char* what) {
        return CGatewayRun::Occurrences(run.SimulatorLog(), what);
    };
    const auto settled = [&] {
        return seen("info gateway disconnected") == seen("info gateway connected");
    };
    for (size_t round = 1; round <= kRounds; ++round) {
        const size_t refused = seen("info refused _INITIALIZE");
        const size_t before = seen("info gateway connected");
        ASSERT_TRUE(run.StartGateway());
        ASSERT_TRUE(SUPPORT::WaitUntil([&] { return seen("info refused _INITIALIZE") > refused; }))
            << run.GatewayOutput();
        // Quiet means no connection open and none new for 4 s.
        for (;;) {
            ASSERT_TRUE(SUPPORT::WaitUntil(settled)) << run.GatewayOutput();
            const size_t connected = seen("info gateway connected");
            ASSERT_LE(connected - before, kMaxConnectionsPerRound)
                << "round " << round << " keeps reconnecting\n"
                << run.GatewayOutput();
            if (!SUPPORT::WaitUntil([&] { return seen("info gateway connected") > connected; },
                                    std::chrono::seconds(4), std::chrono::milliseconds(50)))
                break;
        }
        EXPECT_EQ(run.GatewayOutput().find("MES is Connected"), std::string::npos)
            << "round " << round << "\n"
            << run.GatewayOutput();
        EXPECT_FALSE(run.Gateway().Wait(std::chrono::milliseconds(0)).has_value())
            << "round " << round << " exited\n"
            << run.GatewayOutput();
        run.Gateway().Stop();
        ASSERT_TRUE(SUPPORT::WaitUntil(settled));
    }
}

// The fatal boxes need a real window for the operator's key press: the gateway runs on an
// Xvfb display of the test's own.
struct GatewayShutdownBox : testing::Test {
    void SetUp() override {
        if (!display.Start((run.Root() / "xvfb.txt").string()))
            GTEST_SKIP() << "no Xvfb";
    }
    std::vector<std::string> DisplayEnv() const {
        return {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display.Name()};
    }

    // The gateway goes before the display it runs on.
    CVirtualDisplay display;
    CGatewayRun run;
};

TEST_F(GatewayShutdownBox, RefusedCheckConfig) {
    PlaceFormats(run);
    ASSERT_TRUE(run.StartSimulator({"--refuse-checkconfig"}));
    ASSERT_TRUE(run.StartGateway(DisplayEnv()));
    ASSERT_TRUE(run.WaitForCalls("CheckConfig", 1)) << run.GatewayOutput();
    ASSERT_TRUE(display.PressReturnIn("Shutdown", run.Root().string())) << run.GatewayOutput();
    EXPECT_EQ(run.Gateway().Wait(std::chrono::seconds(20)), 0) << run.GatewayOutput();
    EXPECT_EQ(run.CountInOutput("All formats are checked"), 0u);
    EXPECT_TRUE(run.Calls("Register").empty());
}

TEST_F(GatewayShutdownBox, MissingEngine) {
    PlaceFormats(run);
    const auto empty = run.Root() / "no-engine";
    std::filesystem::create_directories(empty);
    ASSERT_TRUE(run.StartSimulator());
    auto env = DisplayEnv();
    env.push_back("QX_AUTOMATION_PATH=" + empty.string());
    ASSERT_TRUE(run.StartGateway(env));
    ASSERT_TRUE(run.WaitForOutput("Failed to connect to Bartender Engine")) << run.GatewayOutput();
    ASSERT_TRUE(display.PressReturnIn("Shutdown", run.Root().string())) << run.GatewayOutput();
    EXPECT_EQ(run.Gateway().Wait(std::chrono::seconds(20)), 0) << run.GatewayOutput();
    EXPECT_EQ(run.CountInOutput("System is ready"), 0u);
    EXPECT_EQ(run.SimulatorLog().find("gateway connected"), std::string::npos);
}

// The MES names paths the engine must not read, each followed in the same reply by real
// formats: a FIFO nobody writes to (opening it would block the engine's thread for ever), a
// device without end, and a valid format grown past the engine's 1 MiB bound.
TEST(GatewayEndToEnd, RefusesFormatPathsThatAreNotSmallRegularFiles) {
    CGatewayRun run;
    const std::string fifo = (run.Root() / "fifo.btw").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = (run.Root() / "big.btw").string();
    {
        std::ifstream sample(std::string(QX_E2E_SAMPLES) + "/" + kLabel);
        std::ofstream out(big);
        out << sample.rdbuf() << std::string(1 << 20, ' ');
    }
    const std::vector<std::string> refused = {fifo, "/dev/zero", big};
    ASSERT_NO_FATAL_FAILURE(StartRegistered(
        run, {"--extra-format", fifo, "--extra-format", "/dev/zero", "--extra-format", big}));

    std::multiset<std::string> registered;
    for (const auto& reg : run.Calls("Register"))
        registered.insert(reg.at("DisplayName").get<std::string>());
    EXPECT_EQ(registered,
              (std::multiset<std::string>{"Label.btw", "sub/SHIPPING.BTW", "sub/deep/物料.Btw"}));
    for (const auto& path : refused) {
        EXPECT_EQ(run.CountInOutput("Loading '" + path + "'"), 1u) << path;
        EXPECT_EQ(run.CountInOutput("Loaded '" + path + "'"), 0u) << path;
    }
    run.SendJob(Job(run.AbsPath("Label.btw"), 203, {{"PartNo", "P-1"}}));
    ASSERT_TRUE(run.WaitForCalls("Print", 1)) << run.GatewayOutput();
    EXPECT_EQ(DecodePng(run.Calls("Print")[0]).width(), Pixels(100, 203));
}

// A 1 MB format name reaches the log panel, and a label whose text would take gigabytes is
// refused: neither holds the engine's thread, so the next job is answered within the deadline.
TEST(GatewayEndToEnd, HugeNameAndOversizedLabelDoNotHoldTheNextJob) {
    CGatewayRun run;
    const std::string many = (run.Root() / "many.btw").string();
    {
        std::ofstream out(many);
        out << R"({"Width": 100, "Height": 50, "SubStrings": {"A": ""}, "Objects": [)"
            << R"({"Width": 100, "Height": 50, "Text": ")";
        for (int i = 0; i < 300000; ++i)
            out << "{A}";
        out << R"("}]})";
    }
    ASSERT_NO_FATAL_FAILURE(StartRegistered(run, {"--extra-format", many}));
    ASSERT_TRUE(run.WaitForCalls("Register", 4)) << run.GatewayOutput();

    json named = Job(run.AbsPath("Label.btw"), 203, nullptr);
    named["FormatName"] = std::string(1 << 20, 'N');
    run.SendJob(named);
    ASSERT_TRUE(run.WaitForCalls("Print", 1));
    EXPECT_TRUE(run.Calls("Print")[0].at("Job") == named);
    run.SendJob(Job(many, 203, {{"A", std::string(100000, 'W')}}));
    run.SendJob(Job(run.AbsPath("Label.btw"), 203, {{"PartNo", "P-3"}}));
    ASSERT_TRUE(run.WaitForCalls("Print", 2));
    ASSERT_TRUE(run.WaitForOutputLines(many, 1));

    const auto prints = run.Calls("Print");
    ASSERT_EQ(prints.size(), 2u);
    EXPECT_EQ(prints[1].at("Job").at("Data"), json({{"PartNo", "P-3"}}));
}
