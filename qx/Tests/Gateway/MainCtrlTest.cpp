// MAIN_CTRL's registration and print tasks against a recording engine and session, and the
// format folder walk on a real file system.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QImage>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <set>

#include "Gateway/Code_Session.h"
#include "Gateway/MainCtrl.h"
#include "Platform/FreeMemory.h"
#include "Platform/Gcd.h"
#include "Platform/NormalPath.h"
#include "Platform/RefCounted.h"
#include "Platform/Text.h"
#include "Qx/QxApp.h"
#include "Support/ChildScenario.h"
#include "Support/Collector.h"
#include "Support/TempDir.h"
#include "Support/Wait.h"
#include "Support/WsTestPeer.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct FakeBartender : IBartender {
    QX_REFCOUNTED
public:
    bool Open(std::u16string path) override {
        opened.push_back(_OS::WideToUtf8(path));
        if (!openable)
            return false;
        open.insert(_OS::WideToUtf8(path));
        return true;
    }
    void Close(std::u16string) override {}
    void CloseAll() override { open.clear(); }
    bool Activate(std::u16string path) override {
        activated.push_back(_OS::WideToUtf8(path));
        return open.count(activated.back()) != 0;
    }
    std::optional<PAGE_SETUP> GetPageSetup() override { return pageSetup; }
    void SetNamedSubStringValue(std::string name, std::string value) override {
        substrings.emplace_back(name, value);
    }
    bool ExportImage(QImage& image, int32_t dpi) override {
        exportedDpi = dpi;
        if (!exportable)
            return false;
        image = exportSize.isValid() ? QImage(exportSize, QImage::Format_RGB32)
                                     : QImage(dpi / 10, dpi / 20, QImage::Format_RGB32);
        image.fill(Qt::white);
        return true;
    }

    bool openable = true;
    bool exportable = true;
    QSize exportSize;
    std::optional<PAGE_SETUP> pageSetup = PAGE_SETUP{100.0, 50.0, 1};
    std::set<std::string> open;
    std::vector<std::string> opened;
    std::vector<std::string> activated;
    std::vector<std::pair<std::string, std::string>> substrings;
    int32_t exportedDpi = 0;
};

struct FakeSession : ISession {
    QX_REFCOUNTED
public:
    static constexpr uint64_t kConnection = 7;
    struct CALL {
        std::string path, method;
        json params;
        bool withReply;
    };
    void Call(const std::string& path, const std::string& method, const json& params,
              const ReplyCallback& onReply) override {
        ++callCount;
        if (keepCalls)
            calls.push_back({path, method, params, static_cast<bool>(onReply)});
    }
    void SetOnPrint(const PrintCallback&) override {}
    void Disconnect() override {}
    bool IsConnected() override { return true; }
    uint64_t Connection() override { return current ? kConnection : 0; }
    bool IsCurrent(uint64_t connection) override { return current && connection == kConnection; }

    std::vector<CALL> calls;
    size_t callCount = 0;
    bool keepCalls = true;
    bool current = true;
};

struct MainCtrlTasks : testing::Test {
    void SetUp() override {
        bartender = new FakeBartender;
        MAIN_CTRL::g_Bartender = _OBJ<IBartender>(bartender);
        session = _OBJ<FakeSession>(new FakeSession);
    }
    void TearDown() override { MAIN_CTRL::g_Bartender.reset(); }

    PRINT_JOB::DEF Job(const std::string& file, json data) {
        PRINT_JOB::DEF job;
        job.Type = "Label";
        job.PrinterName = "P1";
        job.FormatName = "Label A";
        job.FormatFilename = file;
        job.Dpi = 200;
        job.Data = std::move(data);
        return job;
    }
    // Runs the job and returns what it wrote to standard output.
    std::string Print(const PRINT_JOB::DEF& job) {
        testing::internal::CaptureStdout();
        MAIN_CTRL::ExecutePrint(session, job, FakeSession::kConnection);
        return testing::internal::GetCapturedStdout();
    }

    FakeBartender* bartender = nullptr;
    _OBJ<FakeSession> session;
    const std::string format = "/labels/a.btw";
};

using Substrings = std::vector<std::pair<std::string, std::string>>;

}  // namespace

TEST_F(MainCtrlTasks, PrintSetsSubstringsInKeyOrderAndSendsThePng) {
    bartender->open.insert(format);
    const auto job = Job(format, {{"b", "2"}, {"a", "1"}});
    const std::string out = Print(job);

    EXPECT_EQ(out.substr(0, format.size() + 1), format + "\n");
    EXPECT_NE(out.find("'Label A' Image is generated"), std::string::npos);
    EXPECT_EQ(bartender->substrings, (Substrings{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(bartender->exportedDpi, 200);
    ASSERT_EQ(session->calls.size(), 1u);
    const auto& call = session->calls[0];
    EXPECT_EQ(call.path, "/");
    EXPECT_EQ(call.method, "Print");
    EXPECT_FALSE(call.withReply);
    EXPECT_EQ(call.params.size(), 3u);
    EXPECT_EQ(call.params.at("PrinterName"), "P1");
    EXPECT_EQ(call.params.at("Job"), json(job));
    const auto base64 =
        QByteArray::fromStdString(call.params.at("base64PngData").get<std::string>());
    EXPECT_EQ(QByteArray::fromBase64(base64).toBase64(), base64)
        << "standard alphabet with padding, no line breaks";
    const QImage png = QImage::fromData(QByteArray::fromBase64(base64), "PNG");
    EXPECT_EQ(png.size(), QSize(20, 10));
}

TEST_F(MainCtrlTasks, PrintDataShapes) {
    bartender->open.insert(format);
    Print(Job(format, json::array({"x", "y"})));
    EXPECT_EQ(bartender->substrings, (Substrings{{"0", "x"}, {"1", "y"}}));
    bartender->substrings.clear();
    Print(Job(format, nullptr));
    EXPECT_TRUE(bartender->substrings.empty());
    Print(Job(format, "single"));
    EXPECT_EQ(bartender->substrings, (Substrings{{"", "single"}}));
    bartender->substrings.clear();
    Print(Job(format, json::object()));
    EXPECT_TRUE(bartender->substrings.empty());
    EXPECT_EQ(session->calls.size(), 4u);
}

TEST_F(MainCtrlTasks, NonStringValueEndsTheJobSilently) {
    bartender->open.insert(format);
    const std::string out = Print(Job(format, {{"a", "1"}, {"b", 2}, {"c", "3"}}));
    EXPECT_EQ(out, format + "\n");
    EXPECT_EQ(bartender->substrings, (Substrings{{"a", "1"}}));
    EXPECT_EQ(bartender->exportedDpi, 0);
    Print(Job(format, 7));
    Print(Job(format, json::array({"x", true})));
    EXPECT_EQ(bartender->substrings, (Substrings{{"a", "1"}, {"0", "x"}}));
    EXPECT_TRUE(session->calls.empty());
}

TEST_F(MainCtrlTasks, JobForAFormatThatIsNotOpenOrFailsToExport) {
    const std::string out = Print(Job(format, {{"a", "1"}}));
    EXPECT_EQ(out, format + "\n");
    EXPECT_TRUE(bartender->substrings.empty());
    // The name comes from the MES: it reaches the terminal as one line, without control codes.
    EXPECT_EQ(Print(Job("a\x1b[2J\n.btw", nullptr)), "a\\x1b[2J\\n.btw\n");

    bartender->open.insert(format);
    bartender->exportable = false;
    EXPECT_EQ(Print(Job(format, {{"a", "1"}})), format + "\n");
    EXPECT_TRUE(session->calls.empty());

    // The link has ended, before queue 1 has heard of it: the result could not go out, so the
    // job costs no engine call.
    bartender->exportable = true;
    session->current = false;
    const size_t activations = bartender->activated.size();
    EXPECT_EQ(Print(Job(format, {{"a", "1"}})), format + "\n");
    EXPECT_EQ(bartender->activated.size(), activations);
    EXPECT_TRUE(session->calls.empty());
}

// Outside Windows a backslash is a character of a name, in a job as in the folder walk: the job
// for "x\\y.btw" gets that format, never "x/y.btw".
TEST_F(MainCtrlTasks, ABackslashOfAJobsFormatNameStays) {
    if (_OS::kPathRule == _OS::PATH_RULE::WINDOWS)
        GTEST_SKIP() << "Windows takes a backslash as a separator";
    const std::string named = "/labels/x\\y.btw";
    bartender->open.insert("/labels/x/y.btw");
    Print(Job(named, {{"a", "1"}}));
    EXPECT_TRUE(session->calls.empty());
    bartender->open.insert(named);
    Print(Job(named, {{"a", "1"}}));
    ASSERT_FALSE(bartender->activated.empty());
    EXPECT_EQ(bartender->activated.back(), named);
    EXPECT_EQ(session->calls.size(), 1u);
}

// Each entry of a job's data costs a blocking call on the main thread: a job past the bound
// costs none, and one at the bound is rendered.
TEST_F(MainCtrlTasks, DataPastTheirBoundReachNoEngineCall) {
    bartender->open.insert(format);
    json many = json::object();
    for (size_t i = 0; i <= MAIN_CTRL::MAX_JOB_DATA_ENTRIES; ++i)
        many["k" + std::to_string(i)] = "v";
    const std::string big(MAIN_CTRL::MAX_JOB_DATA_BYTES, 'x');
    for (const json& data : {many, json::array({big, "y"}), json({{"a", big}}), json(big + "x")}) {
        const std::string out = Print(Job(format, data));
        EXPECT_NE(out.find("Print job for '" + format + "' dropped: its data exceed"),
                  std::string::npos);
    }
    EXPECT_TRUE(bartender->activated.empty());
    EXPECT_TRUE(bartender->substrings.empty());
    EXPECT_TRUE(session->calls.empty());

    many.erase("k0");
    Print(Job(format, many));
    Print(Job(format, {{"", big}}));
    EXPECT_EQ(bartender->substrings.size(), MAIN_CTRL::MAX_JOB_DATA_ENTRIES + 1);
    EXPECT_EQ(session->calls.size(), 2u);
}

// libpng refuses rows of more than 1,000,000 pixels, well under the engine's image cap.
TEST_F(MainCtrlTasks, ImageThatCannotBeEncodedIsLoggedAndSentEmpty) {
    bartender->open.insert(format);
    bartender->exportSize = QSize(1000001, 1);
    const std::string out = Print(Job(format, nullptr));
    EXPECT_NE(out.find("Image for '" + format + "' could not be made: 1000001 x 1 pixels"),
              std::string::npos);
    EXPECT_EQ(out.find("Image is generated"), std::string::npos);
    ASSERT_EQ(session->calls.size(), 1u);
    EXPECT_EQ(session->calls[0].params.at("base64PngData"), "");
}

TEST_F(MainCtrlTasks, FormatPathIsMadeAbsolute) {
    const std::string cwd = fs::current_path().u8string();
    Print(Job("/labels/sub/../a.btw", nullptr));
    Print(Job("rel/./b.btw", nullptr));
    Print(Job("", nullptr));
    EXPECT_EQ(bartender->activated,
              (std::vector<std::string>{"/labels/a.btw", cwd + "/rel/b.btw", ""}));
    EXPECT_TRUE(session->calls.empty());
}

TEST_F(MainCtrlTasks, RegisterKeepsTheMesKeysAndSetsThePageSetup) {
    MAIN_CTRL::RegisterFormat(session,
                              {{"DisplayName", "A"},
                               {"absPath", format},
                               {"Type", "Bartender"},
                               {"Own", {1, 2}},
                               {"WidthInMm", "from the MES"}},
                              FakeSession::kConnection);
    ASSERT_EQ(session->calls.size(), 1u);
    EXPECT_EQ(session->calls[0].method, "Register");
    EXPECT_FALSE(session->calls[0].withReply);
    EXPECT_EQ(session->calls[0].params, json({{"DisplayName", "A"},
                                              {"absPath", format},
                                              {"Type", "Bartender"},
                                              {"Own", {1, 2}},
                                              {"WidthInMm", 100.0},
                                              {"HeightInMm", 50.0},
                                              {"isLandscape", true}}));
    EXPECT_TRUE(session->calls[0].params.at("WidthInMm").is_number_float());

    bartender->pageSetup = IBartender::PAGE_SETUP{60.0, 40.0, 0};
    MAIN_CTRL::RegisterFormat(session, {{"DisplayName", "B"}, {"absPath", format}, {"Type", ""}},
                              FakeSession::kConnection);
    ASSERT_EQ(session->calls.size(), 2u);
    EXPECT_EQ(session->calls[1].params.at("isLandscape"), false);
}

TEST_F(MainCtrlTasks, RegisterSkipsBadItemsAndUnusableFormats) {
    MAIN_CTRL::RegisterFormat(session, {{"DisplayName", "A"}, {"absPath", format}, {"Type", 3}},
                              FakeSession::kConnection);
    MAIN_CTRL::RegisterFormat(session, {{"DisplayName", "A"}, {"absPath", format}},
                              FakeSession::kConnection);
    MAIN_CTRL::RegisterFormat(session, json::array({"A", format, "Bartender"}),
                              FakeSession::kConnection);
    EXPECT_TRUE(bartender->opened.empty());

    const json item = {{"DisplayName", "A"}, {"absPath", format}, {"Type", "Bartender"}};
    bartender->pageSetup.reset();
    MAIN_CTRL::RegisterFormat(session, item, FakeSession::kConnection);
    bartender->openable = false;
    testing::internal::CaptureStdout();
    MAIN_CTRL::RegisterFormat(session, item, FakeSession::kConnection);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Loading 'A'"), std::string::npos);
    EXPECT_EQ(out.find("Loaded"), std::string::npos);
    EXPECT_EQ(bartender->opened.size(), 2u);
    EXPECT_TRUE(session->calls.empty());
}

// A registration queued for a connection that has ended since costs nothing at its turn: the
// next connection's work must not wait behind it.
TEST_F(MainCtrlTasks, RegistrationOfAnEndedConnectionIsDroppedAtItsTurn) {
    const json item = {{"DisplayName", "A"}, {"absPath", format}, {"Type", "Bartender"}};
    testing::internal::CaptureStdout();
    MAIN_CTRL::RegisterFormat(session, item, FakeSession::kConnection - 1);
    session->current = false;
    MAIN_CTRL::RegisterFormat(session, item, FakeSession::kConnection);
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("Loading"), std::string::npos);
    EXPECT_TRUE(bartender->opened.empty());
    EXPECT_TRUE(session->calls.empty());
}

TEST_F(MainCtrlTasks, CheckConfigReplyWithoutItemsRegistersNothing) {
    for (const json& reply : {json{{"_OK", true}}, json{{"Items", "a.btw"}}, json::array()}) {
        testing::internal::CaptureStdout();
        MAIN_CTRL::EventProc_onCheckConfig(session, true, reply, FakeSession::kConnection);
        EXPECT_NE(testing::internal::GetCapturedStdout().find("All formats are checked"),
                  std::string::npos);
    }
    EXPECT_TRUE(bartender->opened.empty());
    EXPECT_TRUE(session->calls.empty());
}

// A reply naming one file in 1,500 spellings registers no more than the bound: what one reply
// makes queue 1 do and hold stays bounded, however many items it names.
QX_DISPATCHER_TEST(MainCtrlReply, RegistersAtMostTheBoundOfOneReply) {
    auto* bartender = new FakeBartender;
    MAIN_CTRL::g_Bartender = _OBJ<IBartender>(bartender);
    const _OBJ<FakeSession> session(new FakeSession);
    json items = json::array();
    for (int i = 0; i < 1500; ++i) {
        const std::string path = "/labels/" + std::string(static_cast<size_t>(i), '/') + "a.btw";
        items.push_back({{"DisplayName", "A"}, {"absPath", path}, {"Type", "Bartender"}});
    }
    MAIN_CTRL::EventProc_onCheckConfig(session, true, {{"Items", items}}, FakeSession::kConnection);
    std::atomic<bool> drained{false};
    _GCD::Post([&drained] { drained = true; }, _GCD::QUEUE_SERIAL);
    ASSERT_TRUE(SUPPORT::WaitUntil([&drained] { return drained.load(); }));
    EXPECT_EQ(bartender->opened.size(), 1024u);
    EXPECT_EQ(session->calls.size(), 1024u);
    MAIN_CTRL::g_Bartender.reset();
}

namespace {

// The lines that tell of a dropped job.
struct DROPPED_LINES : spdlog::sinks::base_sink<std::mutex> {
    SUPPORT::CCollector<std::string> m_Lines;

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        const std::string text(msg.payload.data(), msg.payload.size());
        if (text.find("dropped") != std::string::npos)
            m_Lines.Add(text);
    }
    void flush_() override {}
};

// Holds queue 1 while handIn runs, then lets it run everything that was queued.
void WithQueue1Held(const std::function<void()>& handIn) {
    SUPPORT::CGate gate;
    _GCD::Post([&gate] { gate.Wait(); }, _GCD::QUEUE_SERIAL);
    gate.WaitEntered();
    handIn();
    gate.Open();
    std::promise<void> done;
    _GCD::Post([&done] { done.set_value(); }, _GCD::QUEUE_SERIAL);
    CHILD_CHECK(done.get_future().wait_for(std::chrono::seconds(60)) == std::future_status::ready);
}

// Queue 3 takes its tasks in order: one posted now runs after every one posted before.
void WaitForQueue3() {
    std::promise<void> spare;
    _GCD::Post([&spare] { spare.set_value(); }, _GCD::QUEUE_SPARE);
    spare.get_future().wait();
}

// The controller over a fake engine with "/labels/a.btw" open, and a session that counts calls.
struct WAITING_RUN {
    WAITING_RUN() {
        MAIN_CTRL::g_Bartender = _OBJ<IBartender>(bartender);
        bartender->open.insert("/labels/a.btw");
        session->keepCalls = false;
        job.FormatFilename = "/labels/a.btw";
    }
    ~WAITING_RUN() { MAIN_CTRL::g_Bartender.reset(); }
    void Send(const PRINT_JOB::DEF& sent) {
        MAIN_CTRL::EventProc_Session_onPrint(session, sent, FakeSession::kConnection);
    }

    FakeBartender* bartender = new FakeBartender;
    const _OBJ<FakeSession> session{new FakeSession};
    PRINT_JOB::DEF job;
};

}  // namespace

// A MES that floods jobs while queue 1 is behind: what waits for queue 1 stays within its bound
// of jobs and of bytes; the jobs past it are dropped, the first of them with a line and the
// rest counted in one line when jobs are taken on again, and every other job is answered.
QX_DISPATCHER_TEST(MainCtrlWaitingJobs, JobsPastTheBoundAreDroppedAndTheRestAnswered) {
    WAITING_RUN run;
    const auto dropped = std::make_shared<DROPPED_LINES>();
    spdlog::register_logger(std::make_shared<spdlog::logger>("dropped", dropped));

    WithQueue1Held([&] {
        for (size_t i = 0; i < MAIN_CTRL::MAX_WAITING_JOBS + 3; ++i)
            run.Send(run.job);
        CHILD_CHECK(dropped->m_Lines.Size() == 1);
    });
    CHILD_CHECK(run.session->callCount == MAIN_CTRL::MAX_WAITING_JOBS);

    PRINT_JOB::DEF large = run.job;
    large.Type.assign(MAIN_CTRL::MAX_WAITING_JOB_BYTES / 4, 't');
    WithQueue1Held([&] {
        for (int i = 0; i < 4; ++i)
            run.Send(large);
        run.Send(run.job);
        CHILD_CHECK(dropped->m_Lines.Size() == 3);
    });
    CHILD_CHECK(run.session->callCount == MAIN_CTRL::MAX_WAITING_JOBS + 4);
    CHILD_CHECK(dropped->m_Lines.Values() ==
                (std::vector<std::string>{
                    "Print job for '/labels/a.btw' dropped: too many jobs are waiting",
                    "2 more print jobs were dropped while too many were waiting",
                    "Print job for '/labels/a.btw' dropped: too many jobs are waiting"}));
    spdlog::drop("dropped");
}

namespace {
std::atomic<int> g_Releases{0};
}  // namespace

// The allocator keeps a flood's peak: once the waiting jobs of a flood have all gone, the free
// memory is given back, once; jobs that never made a flood give nothing back, however many.
QX_DISPATCHER_TEST(MainCtrlWaitingJobs, DrainedFloodGivesFreeMemoryBackOnce) {
    WAITING_RUN run;
    _OS::SetReleaseFreeMemory([] { ++g_Releases; });

    for (size_t i = 0; i < 2 * MAIN_CTRL::FLOOD_WAITING_JOBS; ++i)
        WithQueue1Held([&] { run.Send(run.job); });
    WithQueue1Held([&] {
        for (size_t i = 0; i + 1 < MAIN_CTRL::FLOOD_WAITING_JOBS; ++i)
            run.Send(run.job);
    });
    WithQueue1Held([&] {
        for (size_t i = 0; i < MAIN_CTRL::FLOOD_WAITING_JOBS; ++i)
            run.Send(run.job);
    });
    // A release the jobs before the flood had asked for would have come first.
    CHILD_CHECK(SUPPORT::WaitUntil([] { return g_Releases > 0; }));
    WaitForQueue3();
    CHILD_CHECK(g_Releases == 1);
    CHILD_CHECK(run.session->callCount == 4 * MAIN_CTRL::FLOOD_WAITING_JOBS - 1);
}

// Big jobs meet the bound of waiting bytes long before the flood's count of jobs: their bytes
// make the flood, and its memory goes back once they have gone.
QX_DISPATCHER_TEST(MainCtrlWaitingJobs, DrainedFloodOfBigJobsGivesFreeMemoryBack) {
    WAITING_RUN run;
    _OS::SetReleaseFreeMemory([] { ++g_Releases; });
    PRINT_JOB::DEF big = run.job;
    big.Type.assign(MAIN_CTRL::FLOOD_WAITING_BYTES / 4, 't');

    WithQueue1Held([&] {
        for (int i = 0; i < 4; ++i)
            run.Send(big);
    });
    CHILD_CHECK(run.session->callCount == 4);
    WaitForQueue3();
    CHILD_CHECK(g_Releases == 1);
}

namespace {

json PrintNotification(const std::string& type) {
    const json job = {{"Type", type},          {"PrinterName", "P1"},
                      {"FormatName", "A"},     {"FormatFilename", "/labels/a.btw"},
                      {"WidthInMm", 50.0},     {"HeightInMm", 20.0},
                      {"isLandscape", false},  {"Dpi", 200},
                      {"Data", json::object()}};
    return {{"_MAGIC", "ORACLE"}, {"_TYPE", "Print"}, {"_DATA", job}};
}

// The calls with this command that the peer received, as their connection and message.
std::vector<std::pair<size_t, json>> Calls(const SUPPORT::CWsTestPeer& peer,
                                           const std::string& command) {
    std::vector<std::pair<size_t, json>> calls;
    for (const SUPPORT::CWsTestPeer::Frame& frame : peer.DataFrames()) {
        json message = json::parse(frame.payload, nullptr, false);
        if (message.is_object() && message.value("_CMD", std::string()) == command)
            calls.emplace_back(frame.connection, std::move(message));
    }
    return calls;
}

void AcceptConnection(SUPPORT::CWsTestPeer& peer, size_t connection) {
    CHILD_CHECK(peer.WaitFor([&] {
        const auto calls = Calls(peer, "_INITIALIZE");
        return !calls.empty() && calls.back().first == connection;
    }));
    const json id = Calls(peer, "_INITIALIZE").back().second.at("_ID");
    CHILD_CHECK(peer.SendText(json{{"_ID", id}, {"_OK", true}}.dump()));
}

}  // namespace

// A job whose hop through queue 2 ends only after its connection has been lost and the next one
// accepted is answered on neither: the next connection gets the answers of its own jobs only.
QX_DISPATCHER_TEST(MainCtrlLink, JobOfAnEndedConnectionIsNotAnsweredOnTheNext) {
    auto* bartender = new FakeBartender;
    MAIN_CTRL::g_Bartender = _OBJ<IBartender>(bartender);
    bartender->open.insert("/labels/a.btw");
    SUPPORT::CWsTestPeer peer;
    SUPPORT::CCollector<bool> reported;
    SUPPORT::CGate hop;
    std::atomic<bool> handedOn{false};
    // Released at exit, as the gateway's: the session outlives what its client still queues.
    static _OBJ<ISession> s_Session;
    std::promise<void> made;
    _GCD::Post(
        [&] {
            s_Session = Code_Session::Create(
                peer.Url(), [&reported](_OBJ<ISession>, bool up) { reported.Add(up); });
            s_Session->SetOnPrint(
                [&](_OBJ<ISession> session, PRINT_JOB::DEF job, uint64_t connection) {
                    const bool held = job.Type == "held";
                    if (held)
                        hop.Wait();
                    MAIN_CTRL::EventProc_Session_onPrint(session, std::move(job), connection);
                    if (held)
                        handedOn = true;
                });
            made.set_value();
        },
        _GCD::QUEUE_SERIAL);
    CHILD_CHECK(made.get_future().wait_for(std::chrono::seconds(20)) == std::future_status::ready);

    AcceptConnection(peer, 1);
    CHILD_CHECK(reported.WaitSize(1));
    CHILD_CHECK(peer.SendText(PrintNotification("held").dump()));
    CHILD_CHECK(hop.WaitEntered());
    CHILD_CHECK(peer.Drop());
    AcceptConnection(peer, 2);
    CHILD_CHECK(reported.WaitSize(3));
    CHILD_CHECK(reported.Values() == (std::vector<bool>{true, false, true}));
    hop.Open();
    CHILD_CHECK(SUPPORT::WaitUntil([&handedOn] { return handedOn.load(); }));

    // Queue 1 takes the jobs in turn: once the later job is answered, the held one was handled.
    CHILD_CHECK(peer.SendText(PrintNotification("fresh").dump()));
    CHILD_CHECK(peer.WaitFor([&] { return !Calls(peer, "Print").empty(); }));
    const auto answers = Calls(peer, "Print");
    CHILD_CHECK(answers.size() == 1);
    CHILD_CHECK(answers[0].first == 2);
    CHILD_CHECK(answers[0].second.at("Job").at("Type") == "fresh");
    s_Session->Disconnect();
    MAIN_CTRL::g_Bartender.reset();
}

namespace {

struct FormatWalk : testing::Test {
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quenlor-walk-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        base = fs::canonical(pattern);
    }
    void TearDown() override { fs::remove_all(base); }
    void Touch(const std::string& relPath) {
        const fs::path file = base / fs::u8path(relPath);
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "{}";
    }
    std::set<std::string> RelPaths(const std::vector<FORMAT_FILE::DEF>& files) {
        std::set<std::string> paths;
        for (const auto& f : files) {
            paths.insert(f.relPath);
            EXPECT_EQ(f.absPath, (base / fs::u8path(f.relPath)).u8string());
        }
        return paths;
    }

    fs::path base;
};

}  // namespace

TEST_F(FormatWalk, FindsFormatsAtAnyDepthAndLetterCase) {
    for (const char* name : {"top.btw", "a/UPPER.BTW", "a/b/Mixed.Btw", "a/b/c/标签.btw",
                             "x.btw.bak", "a/x.btwx", "a/b/.btw", "a/xbtw", "a/b/c/btw"}) {
        Touch(name);
    }
    fs::create_directories(base / "folder.btw");
    fs::create_directory_symlink(base / "a", base / "link-to-a");
    const auto files = MAIN_CTRL::FindFormatFiles(base);
    EXPECT_EQ(RelPaths(files),
              (std::set<std::string>{"top.btw", "a/UPPER.BTW", "a/b/Mixed.Btw", "a/b/c/标签.btw"}));
    EXPECT_EQ(files.size(), 4u) << "a link to a folder is not followed";
}

TEST_F(FormatWalk, UnreadableEntriesAreLoggedAndSkipped) {
    Touch("good.btw");
    Touch("sub/also.btw");
    fs::create_symlink(base / "loop.btw", base / "loop.btw");
    std::ofstream(base / "bad-\xff.btw") << "{}";
    testing::internal::CaptureStdout();
    const auto files = MAIN_CTRL::FindFormatFiles(base);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(RelPaths(files), (std::set<std::string>{"good.btw", "sub/also.btw"}));
    EXPECT_NE(out.find("loop.btw"), std::string::npos) << out;
    EXPECT_NE(out.find("bad-"), std::string::npos) << out;
}

// Outside Windows a backslash is a character of a name: "x\\y.btw" is a file of its own.
TEST_F(FormatWalk, ABackslashOfANameStays) {
    Touch("x\\y.btw");
    Touch("x/y.btw");
    EXPECT_EQ(RelPaths(MAIN_CTRL::FindFormatFiles(base)),
              (std::set<std::string>{"x\\y.btw", "x/y.btw"}));
}

namespace {

std::atomic<bool> g_QuitDuringStartUp{false};
std::atomic<bool> g_InitializeReturned{false};

// Quits the Qt application as the tray menu does, once the start-up has connected the engine
// and before it makes the session, and holds the start-up until the stop has run.
struct QUIT_DURING_START_UP : spdlog::sinks::base_sink<spdlog::details::null_mutex> {
protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        if (std::string(msg.payload.data(), msg.payload.size()) != "System is ready")
            return;
        g_QuitDuringStartUp = _QX::APP::InvokeBlocking([] { QCoreApplication::quit(); });
        SUPPORT::WaitUntil([] { return g_InitializeReturned.load(); });
    }
    void flush_() override {}
};

// 0 when no session was made, 1 when one was made after the stop.
int QuitDuringStartUp(const fs::path& dir) {
    fs::create_directories(dir / "work");
    fs::current_path(dir / "work");
    setenv("QX_AUTOMATION_PATH", QX_ENGINE_DIR, 1);
    spdlog::register_logger(
        std::make_shared<spdlog::logger>("quit-hook", std::make_shared<QUIT_DURING_START_UP>()));
    char arg0[] = "Gateway_MainCtrlTest";
    char* argv[] = {arg0, nullptr};
    _GCD::Run(
        [&argv] {
            MAIN_CTRL::Initialize(1, argv);
            g_InitializeReturned = true;
        },
        0);
    CHILD_CHECK(g_QuitDuringStartUp);
    return MAIN_CTRL::g_Session ? 1 : 0;
}

}  // namespace

TEST(MainCtrlStop, QuitDuringStartUpMakesNoSession) {
    const SUPPORT::TEMP_DIR dir;
    const SUPPORT::CHILD_RESULT child =
        SUPPORT::RunChild([&dir] { return QuitDuringStartUp(dir.m_Path); });
    EXPECT_EQ(child.m_ExitCode, 0) << child.m_Err << child.m_Out;
}
