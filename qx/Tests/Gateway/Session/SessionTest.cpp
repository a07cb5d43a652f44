#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "Gateway/Code_Session.h"
#include "Gateway/Messages.h"
#include "Net/Code_ClientWebSocket.h"
#include "Platform/Gcd.h"
#include "Support/ChildScenario.h"
#include "Support/Collector.h"
#include "Support/Threads.h"
#include "Support/Wait.h"
#include "Support/WsTestPeer.h"

namespace {

using nlohmann::json;
using SUPPORT::CWsTestPeer;
using SUPPORT::WaitUntil;
using namespace std::chrono_literals;

// What the session reported to its two callbacks.
struct Reports {
    std::mutex mutex;
    std::vector<bool> connection;
    std::vector<PRINT_JOB::DEF> jobs;
    std::set<ISession*> handles;
    // Runs inside the connection callback, after the event is recorded.
    std::function<void(_OBJ<ISession>, bool)> onConnection;
    // Runs inside the connection callback, before the event is recorded.
    std::function<void(bool)> beforeRecord;

    std::vector<bool> Connection() {
        std::lock_guard<std::mutex> lock(mutex);
        return connection;
    }
    std::vector<PRINT_JOB::DEF> Jobs() {
        std::lock_guard<std::mutex> lock(mutex);
        return jobs;
    }
    std::set<ISession*> Handles() {
        std::lock_guard<std::mutex> lock(mutex);
        return handles;
    }
};
Reports g_Reports;

void OnConnection(_OBJ<ISession> session, bool up) {
    if (g_Reports.beforeRecord)
        g_Reports.beforeRecord(up);
    {
        std::lock_guard<std::mutex> lock(g_Reports.mutex);
        g_Reports.connection.push_back(up);
        g_Reports.handles.insert(session.get());
    }
    if (g_Reports.onConnection)
        g_Reports.onConnection(session, up);
}

void RecordJob(_OBJ<ISession> session, PRINT_JOB::DEF job, uint64_t) {
    std::lock_guard<std::mutex> lock(g_Reports.mutex);
    g_Reports.jobs.push_back(std::move(job));
    g_Reports.handles.insert(session.get());
}

struct Options {
    uint32_t threads = 0;
    bool refuseFirst = false;
    // The session's threads must be gone once its last handle is.
    bool threadsEnd = false;
    ISession::PrintCallback onPrint;
    // Set: the session is created on the main thread instead, and this runs inside the creation
    // once its socket has started.
    std::function<void(CWsTestPeer&)> whileCreating;
};

// Creates the session on the serial queue as the gateway does (print callback in the same task),
// runs the scenario on the main thread, and releases the session once the queues have drained.
// With whileCreating, creates it on the main thread and leaves out the print callback.
void RunWithSession(const Options& options,
                    const std::function<void(CWsTestPeer&, const _OBJ<ISession>&)>& scenario) {
    CWsTestPeer peer;
    if (options.refuseFirst)
        peer.Refuse();
    // Counted with the peer's thread running: a sanitizer may start a thread of its own then.
    const size_t threads = SUPPORT::ThreadCount();
    _OBJ<ISession> session;
    _GCD::Run(
        [&] {
            if (options.whileCreating) {
                _NET::Code_ClientWebSocket::SetStartedHook(
                    [&](_NET::Code_ClientWebSocket&) { options.whileCreating(peer); });
                session = Code_Session::Create(peer.Url(), OnConnection);
                _NET::Code_ClientWebSocket::SetStartedHook(nullptr);
            } else {
                std::promise<_OBJ<ISession>> made;
                _GCD::Post(
                    [&] {
                        _OBJ<ISession> s = Code_Session::Create(peer.Url(), OnConnection);
                        if (s && options.onPrint)
                            s->SetOnPrint(options.onPrint);
                        made.set_value(s);
                    },
                    _GCD::QUEUE_SERIAL);
                std::future<_OBJ<ISession>> future = made.get_future();
                CHILD_CHECK(future.wait_for(20s) == std::future_status::ready);
                session = future.get();
            }
            CHILD_CHECK(session);
            scenario(peer, session);
            _GCD::Quit();
        },
        options.threads);
    session.reset();
    if (options.threadsEnd)
        CHILD_CHECK(SUPPORT::WaitThreadCount(threads));
}

std::vector<std::string> Texts(const CWsTestPeer& peer) {
    std::vector<std::string> texts;
    for (const CWsTestPeer::Frame& frame : peer.DataFrames()) {
        if (frame.opcode == CWsTestPeer::OPCODE_TEXT)
            texts.push_back(frame.payload);
    }
    return texts;
}

std::string WaitText(const CWsTestPeer& peer, size_t index) {
    CHILD_CHECK(peer.WaitFor([&] { return Texts(peer).size() > index; }));
    return Texts(peer)[index];
}

// The call's fresh identifier, after checking the frame against expected, in which "<ID>"
// stands for it.
std::string CheckCall(const std::string& text, const std::string& expected) {
    const std::string id = json::parse(text).at("_ID").get<std::string>();
    CHILD_CHECK(std::regex_match(id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-"
                                                "[0-9a-f]{12}")));
    std::string filled = expected;
    filled.replace(filled.find("<ID>"), 4, id);
    if (text != filled)
        std::fprintf(stderr, "sent     %s\nexpected %s\n", text.c_str(), filled.c_str());
    CHILD_CHECK(text == filled);
    return id;
}

std::string CheckInitialize(const std::string& text) {
    return CheckCall(text,
                     R"({"_CMD":"_INITIALIZE","_ID":"<ID>","_PATH":"/","_TYPE":"Bartender"})");
}

std::string Reply(const std::string& id, bool ok) {
    return json{{"_ID", id}, {"_OK", ok}}.dump();
}

std::string PrintNotification(const json& job) {
    return json{{"_MAGIC", "ORACLE"}, {"_TYPE", "Print"}, {"_DATA", job}}.dump();
}

bool ClosedNormally(const CWsTestPeer& peer) {
    for (const CWsTestPeer::Frame& frame : peer.Frames()) {
        if (frame.opcode == CWsTestPeer::OPCODE_CLOSE && CWsTestPeer::CloseCode(frame) == 1000)
            return true;
    }
    return false;
}

void AcceptConnection(CWsTestPeer& peer, size_t initIndex, size_t reportsBefore) {
    peer.SendText(Reply(CheckInitialize(WaitText(peer, initIndex)), true));
    CHILD_CHECK(WaitUntil([&] { return g_Reports.Connection().size() == reportsBefore + 1; }));
    CHILD_CHECK(g_Reports.Connection().back());
}

void EveryReconnectionIsAnnouncedAndEachChangeReported() {
    RunWithSession({}, [](CWsTestPeer& peer, const _OBJ<ISession>& session) {
        const std::string first = CheckInitialize(WaitText(peer, 0));
        // Up before the MES answers, but nothing reported yet.
        CHILD_CHECK(session->IsConnected());
        CHILD_CHECK(g_Reports.Connection().empty());
        peer.SendText(Reply(first, true));
        CHILD_CHECK(WaitUntil([] { return g_Reports.Connection() == std::vector<bool>{true}; }));

        CHILD_CHECK(peer.Drop());
        CHILD_CHECK(WaitUntil([] { return g_Reports.Connection().size() == 2; }));
        const std::string second = WaitText(peer, 1);
        CHILD_CHECK(CheckInitialize(second) != first);
        CHILD_CHECK(peer.DataFrames()[1].connection == 2);
        AcceptConnection(peer, 1, 2);

        CHILD_CHECK(peer.Close(1001, "going away"));
        CHILD_CHECK(WaitUntil([] { return g_Reports.Connection().size() == 4; }));
        AcceptConnection(peer, 2, 4);

        CHILD_CHECK(peer.Connections() == 3);
        CHILD_CHECK((g_Reports.Connection() == std::vector<bool>{true, false, true, false, true}));
        CHILD_CHECK(g_Reports.Handles() == std::set<ISession*>{session.get()});
        CHILD_CHECK(Texts(peer).size() == 3);
    });
}

TEST(SessionTest, EveryReconnectionIsAnnouncedAndEachChangeReported) {
    EXPECT_CHILD_PASSES(EveryReconnectionIsAnnouncedAndEachChangeReported);
}

void RefusedInitializeClosesForGoodWithoutReport() {
    RunWithSession({}, [](CWsTestPeer& peer, const _OBJ<ISession>& session) {
        const std::string id = CheckInitialize(WaitText(peer, 0));
        CHILD_CHECK(session->IsConnected());
        peer.SendText(Reply(id, false));
        CHILD_CHECK(peer.WaitFor([&] { return peer.Disconnections() == 1; }));
        CHILD_CHECK(ClosedNormally(peer));
        CHILD_CHECK(WaitUntil([&] { return !session->IsConnected(); }));
        CHILD_CHECK(!peer.WaitFor([&] { return peer.Connections() > 1; }, 3s));
        session->Disconnect();
        session->Call(MESSAGES::PATH, MESSAGES::CHECK_CONFIG, MESSAGES::CheckConfigParams({}),
                      [](bool, json) { CHILD_CHECK(!"reply callback of a dropped call"); });
        CHILD_CHECK(g_Reports.Connection().empty());
        CHILD_CHECK(Texts(peer).size() == 1);
    });
}

TEST(SessionTest, RefusedInitializeClosesForGoodWithoutReport) {
    EXPECT_CHILD_PASSES(RefusedInitializeClosesForGoodWithoutReport);
}

// Runs on the queue after everything queued there before it.
void Drain(int32_t queue) {
    std::promise<void> done;
    _GCD::Post([&done] { done.set_value(); }, queue);
    CHILD_CHECK(done.get_future().wait_for(20s) == std::future_status::ready);
}

// The MES refuses and closes at once; the refusal is handled after the socket has seen the close
// but before queue 1 has: the socket must stop for good all the same.
void RefusalCrossingTheCloseStopsForGood() {
    Options options;
    options.threads = 1;  // one worker on queue 2, held by the gate
    RunWithSession(options, [](CWsTestPeer& peer, const _OBJ<ISession>& session) {
        const std::string id = CheckInitialize(WaitText(peer, 0));
        SUPPORT::CGate replies;
        _GCD::Post([&replies] { replies.Wait(); }, _GCD::QUEUE_POOL);
        CHILD_CHECK(replies.WaitEntered());
        peer.SendText(Reply(id, false));
        // Our pong comes after the reply was read: queue 1 then hands the refusal to queue 2.
        peer.SendFrame(CWsTestPeer::OPCODE_PING, true, "");
        CHILD_CHECK(peer.WaitFor([&] {
            for (const CWsTestPeer::Frame& frame : peer.Frames()) {
                if (frame.opcode == CWsTestPeer::OPCODE_PONG)
                    return true;
            }
            return false;
        }));
        Drain(_GCD::QUEUE_SERIAL);
        SUPPORT::CGate events;
        _GCD::Post([&events] { events.Wait(); }, _GCD::QUEUE_SERIAL);
        CHILD_CHECK(events.WaitEntered());
        // The socket sees the close and tries again after its wait; that attempt hangs in its
        // handshake.
        peer.SetHoldHandshakes(true);
        CHILD_CHECK(peer.Close(1000, "refused"));
        CHILD_CHECK(peer.WaitFor([&] { return peer.Attempts() == 2; }));
        replies.Open();
        Drain(_GCD::QUEUE_POOL);
        events.Open();
        Drain(_GCD::QUEUE_SERIAL);
        // A retry would now connect.
        peer.SetHoldHandshakes(false);
        CHILD_CHECK(!peer.WaitFor([&] { return peer.Connections() > 1; }, 3s));
        CHILD_CHECK(!session->IsConnected());
        CHILD_CHECK(g_Reports.Connection().empty());
        CHILD_CHECK(Texts(peer).size() == 1);
    });
}

TEST(SessionTest, RefusalCrossingTheCloseStopsForGood) {
    EXPECT_CHILD_PASSES(RefusalCrossingTheCloseStopsForGood);
}

void DisconnectAndCallsWhileDownChangeNothing() {
    Options options;
    options.refuseFirst = true;
    RunWithSession(options, [](CWsTestPeer& peer, const _OBJ<ISession>& session) {
        session->Disconnect();
        session->Call(MESSAGES::PATH, MESSAGES::CHECK_CONFIG, MESSAGES::CheckConfigParams({}),
                      [](bool, json) { CHILD_CHECK(!"reply callback of a dropped call"); });
        CHILD_CHECK(!session->IsConnected());
        peer.Resume();
        // Still retrying: the next connection is announced and reported as usual.
        AcceptConnection(peer, 0, 0);

        std::promise<bool> upAfterDisconnect;
        _GCD::Post(
            [&] {
                session->Disconnect();
                upAfterDisconnect.set_value(session->IsConnected());
            },
            _GCD::QUEUE_SERIAL);
        std::future<bool> up = upAfterDisconnect.get_future();
        CHILD_CHECK(up.wait_for(20s) == std::future_status::ready);
        CHILD_CHECK(up.get());  // the loss has not arrived yet
        CHILD_CHECK(peer.WaitFor([&] { return peer.Disconnections() == 1; }));
        CHILD_CHECK(ClosedNormally(peer));
        CHILD_CHECK(WaitUntil([&] { return !session->IsConnected(); }));
        CHILD_CHECK(!peer.WaitFor([&] { return peer.Connections() > 1; }, 3s));
        CHILD_CHECK(g_Reports.Connection() == std::vector<bool>{true});
        CHILD_CHECK(Texts(peer).size() == 1);
    });
}

TEST(SessionTest, DisconnectAndCallsWhileDownChangeNothing) {
    EXPECT_CHILD_PASSES(DisconnectAndCallsWhileDownChangeNothing);
}

json Job(const std::string& type) {
    return {{"Type", type},          {"PrinterName", "P1"},
            {"FormatName", "F"},     {"FormatFilename", "/f/a.btw"},
            {"WidthInMm", 50},       {"HeightInMm", 30.5},
            {"isLandscape", false},  {"Dpi", 300},
            {"Data", {{"SN", type}}}};
}

void PrintBeforeSetOnPrintIsDropped() {
    Options options;
    options.threads = 1;  // one pool worker: handlers run in the order of their frames
    g_Reports.onConnection = [](_OBJ<ISession> session, bool up) {
        if (up)
            session->SetOnPrint(RecordJob);
    };
    RunWithSession(options, [](CWsTestPeer& peer, const _OBJ<ISession>&) {
        const std::string id = CheckInitialize(WaitText(peer, 0));
        peer.SendText(PrintNotification(Job("early")));
        peer.SendText(Reply(id, true));
        CHILD_CHECK(WaitUntil([] { return g_Reports.Connection() == std::vector<bool>{true}; }));
        peer.SendText(PrintNotification(Job("late")));
        CHILD_CHECK(WaitUntil([] { return !g_Reports.Jobs().empty(); }));
        CHILD_CHECK(g_Reports.Jobs().front().Type == "late");
        CHILD_CHECK(g_Reports.Jobs().size() == 1);
        CHILD_CHECK(Texts(peer).size() == 1);
    });
}

TEST(SessionTest, PrintBeforeSetOnPrintIsDropped) {
    EXPECT_CHILD_PASSES(PrintBeforeSetOnPrintIsDropped);
}

void ThrowingPrintCallbackDoesNotStopTheNextJob() {
    Options options;
    options.onPrint = [](_OBJ<ISession> session, PRINT_JOB::DEF job, uint64_t connection) {
        const std::string type = job.Type;
        RecordJob(session, std::move(job), connection);
        if (type == "throws")
            throw std::runtime_error("print failed");
        if (type == "throws-other")
            throw 7;
    };
    RunWithSession(options, [](CWsTestPeer& peer, const _OBJ<ISession>& session) {
        AcceptConnection(peer, 0, 0);
        json partial = Job("partial");
        partial.erase("FormatName");
        for (const json& job : {Job("throws"), Job("throws-other"), partial, Job("last")})
            peer.SendText(PrintNotification(job));
        CHILD_CHECK(WaitUntil([] { return g_Reports.Jobs().size() == 4; }));

        // How each field is read is PrintJobRead's concern.
        std::set<std::string> types;
        for (const PRINT_JOB::DEF& job : g_Reports.Jobs())
            types.insert(job.Type);
        CHILD_CHECK((types == std::set<std::string>{"throws", "throws-other", "partial", "last"}));
        CHILD_CHECK(g_Reports.Handles() == std::set<ISession*>{session.get()});

        // Still working, and no notification was answered.
        session->Call(MESSAGES::PATH, MESSAGES::REGISTER, json{{"k", 1}}, {});
        CHILD_CHECK(json::parse(WaitText(peer, 1)).at("_CMD") == "Register");
        CHILD_CHECK(Texts(peer).size() == 2);
    });
}

TEST(SessionTest, ThrowingPrintCallbackDoesNotStopTheNextJob) {
    EXPECT_CHILD_PASSES(ThrowingPrintCallbackDoesNotStopTheNextJob);
}

void CatalogueFramesAreByteExact() {
    RunWithSession({}, [](CWsTestPeer& peer, const _OBJ<ISession>& session) {
        AcceptConnection(peer, 0, 0);

        std::promise<json> checkConfigReply;
        session->Call(MESSAGES::PATH, MESSAGES::CHECK_CONFIG,
                      MESSAGES::CheckConfigParams({{"物料/a.btw", "C:/fmt/物料/a.btw"}}),
                      [&](bool ok, json reply) {
                          CHILD_CHECK(ok);
                          checkConfigReply.set_value(reply);
                      });
        const json item = {{"DisplayName", "A"},
                           {"Type", "T"},
                           {"absPath", "C:/fmt/a.btw"},
                           {"Extra", 1},
                           {"isLandscape", "no"}};
        session->Call(MESSAGES::PATH, MESSAGES::REGISTER,
                      MESSAGES::RegisterParams(item, 100, 62.5, true), {});
        PRINT_JOB::DEF job = Job("T").get<PRINT_JOB::DEF>();
        session->Call(MESSAGES::PATH, MESSAGES::PRINT,
                      MESSAGES::PrintParams(job.PrinterName, "iVBORw0KGgo=", job), {});

        const std::string checkConfigId =
            CheckCall(WaitText(peer, 1),
                      R"({"Items":[{"absPath":"C:/fmt/物料/a.btw","relPath":"物料/a.btw"}],)"
                      R"("_CMD":"CheckConfig","_ID":"<ID>","_PATH":"/"})");
        CheckCall(WaitText(peer, 2),
                  R"({"DisplayName":"A","Extra":1,"HeightInMm":62.5,"Type":"T",)"
                  R"("WidthInMm":100.0,"_CMD":"Register","_ID":"<ID>","_PATH":"/",)"
                  R"("absPath":"C:/fmt/a.btw","isLandscape":true})");
        CheckCall(WaitText(peer, 3),
                  R"({"Job":{"Data":{"SN":"T"},"Dpi":300,"FormatFilename":"/f/a.btw",)"
                  R"("FormatName":"F","HeightInMm":30.5,"PrinterName":"P1","Type":"T",)"
                  R"("WidthInMm":50.0,"isLandscape":false},"PrinterName":"P1","_CMD":"Print",)"
                  R"("_ID":"<ID>","_PATH":"/","base64PngData":"iVBORw0KGgo="})");

        const json reply = {{"_ID", checkConfigId}, {"_OK", true}, {"Items", json::array()}};
        peer.SendText(reply.dump());
        std::future<json> replied = checkConfigReply.get_future();
        CHILD_CHECK(replied.wait_for(20s) == std::future_status::ready);
        CHILD_CHECK(replied.get() == reply);
    });
}

TEST(SessionTest, CatalogueFramesAreByteExact) {
    EXPECT_CHILD_PASSES(CatalogueFramesAreByteExact);
}

// A reply handled after its connection was lost must not report that connection as up.
void InitializeReplyOfALostConnectionChangesNothing() {
    Options options;
    options.threads = 1;  // one worker on queue 2, held by the gate
    options.onPrint = RecordJob;
    RunWithSession(options, [](CWsTestPeer& peer, const _OBJ<ISession>&) {
        const std::string first = CheckInitialize(WaitText(peer, 0));
        SUPPORT::CGate gate;
        _GCD::Post([&gate] { gate.Wait(); }, _GCD::QUEUE_POOL);
        CHILD_CHECK(gate.WaitEntered());
        // The close frame follows the reply on the wire: the reply is read, its handling waits.
        peer.SendText(Reply(first, true));
        CHILD_CHECK(peer.Close(1001, "going away"));
        CHILD_CHECK(WaitUntil([] { return g_Reports.Connection() == std::vector<bool>{false}; }));
        const std::string second = CheckInitialize(WaitText(peer, 1));
        peer.SendText(Reply(second, true));
        peer.SendText(PrintNotification(Job("after")));
        gate.Open();
        // The job is handled after both replies on the one worker of queue 2.
        CHILD_CHECK(WaitUntil([] { return g_Reports.Jobs().size() == 1; }));
        CHILD_CHECK((g_Reports.Connection() == std::vector<bool>{false, true}));
        CHILD_CHECK(Texts(peer).size() == 2);
    });
}

TEST(SessionTest, InitializeReplyOfALostConnectionChangesNothing) {
    EXPECT_CHILD_PASSES(InitializeReplyOfALostConnectionChangesNothing);
}

// Created off queue 1, the session may have its connection accepted before Create returns: the
// up event must reach it, and the handle its connection callback gets must not be its last.
void AcceptedBeforeCreateReturnsKeepsTheSession() {
    Options options;
    options.threads = 1;  // draining queue 2 waits for the task of the reply
    options.whileCreating = [](CWsTestPeer& peer) {
        AcceptConnection(peer, 0, 0);
        Drain(_GCD::QUEUE_POOL);
    };
    RunWithSession(options, [](CWsTestPeer& peer, const _OBJ<ISession>& session) {
        CHILD_CHECK(!ClosedNormally(peer));
        CHILD_CHECK(session->IsConnected());
        session->Call(MESSAGES::PATH, MESSAGES::REGISTER, json{{"k", 1}}, {});
        CHILD_CHECK(json::parse(WaitText(peer, 1)).at("_CMD") == "Register");
    });
}

TEST(SessionTest, AcceptedBeforeCreateReturnsKeepsTheSession) {
    EXPECT_CHILD_PASSES(AcceptedBeforeCreateReturnsKeepsTheSession);
}

// The reply callback runs with no lock held: a loss handled while it reports "up" must still be
// the last word.
void LossOvertakingTheAcceptedUpIsReportedLast() {
    SUPPORT::CGate gate;
    g_Reports.beforeRecord = [&gate](bool up) {
        if (up)
            gate.Wait();
    };
    RunWithSession({}, [&gate](CWsTestPeer& peer, const _OBJ<ISession>&) {
        peer.SendText(Reply(CheckInitialize(WaitText(peer, 0)), true));
        CHILD_CHECK(gate.WaitEntered());
        peer.SetHoldHandshakes(true);  // no next connection comes up meanwhile
        CHILD_CHECK(peer.Close(1001, "going away"));
        CHILD_CHECK(WaitUntil([] { return g_Reports.Connection() == std::vector<bool>{false}; }));
        gate.Open();
        CHILD_CHECK(WaitUntil([] {
            return g_Reports.Connection() == std::vector<bool>{false, true, false};
        }));
        peer.SetHoldHandshakes(false);
    });
}

TEST(SessionTest, LossOvertakingTheAcceptedUpIsReportedLast) {
    EXPECT_CHILD_PASSES(LossOvertakingTheAcceptedUpIsReportedLast);
}

// A call outstanding when the link goes holds the session in its reply callback: the loss must
// release it, or the session and its retrying socket outlive the program.
void SessionWithALostCallEndsWithTheProgram() {
    Options options;
    options.threadsEnd = true;
    RunWithSession(options, [](CWsTestPeer& peer, const _OBJ<ISession>& session) {
        AcceptConnection(peer, 0, 0);
        session->Call(MESSAGES::PATH, MESSAGES::CHECK_CONFIG, MESSAGES::CheckConfigParams({}),
                      [session](bool, json) { CHILD_CHECK(!"reply callback of a lost call"); });
        WaitText(peer, 1);
        peer.Refuse();
        CHILD_CHECK(WaitUntil([] { return g_Reports.Connection().size() == 2; }));
    });
}

TEST(SessionTest, SessionWithALostCallEndsWithTheProgram) {
    EXPECT_CHILD_PASSES(SessionWithALostCallEndsWithTheProgram);
}

}  // namespace
