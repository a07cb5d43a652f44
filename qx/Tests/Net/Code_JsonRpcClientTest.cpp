#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>
#include <vector>

#include "Net/Code_ClientWebSocket.h"
#include "Net/Code_JsonRpcClient.h"
#include "Platform/Gcd.h"
#include "Support/ChildScenario.h"
#include "Support/Collector.h"
#include "Support/WsTestPeer.h"

using namespace std::chrono_literals;
using _NET::Code_ClientWebSocket;
using _NET::Code_JsonRpcClient;
using _NET::IJsonRpcClient;
using nlohmann::json;
using SUPPORT::CCollector;
using SUPPORT::CWsTestPeer;
using Clock = std::chrono::steady_clock;

namespace {

// Bytes allocated by a thread while it counts.
thread_local bool t_Counting = false;
thread_local size_t t_Allocated = 0;

}  // namespace

void* operator new(size_t size) {
    if (t_Counting)
        t_Allocated += size;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

// Not inlined: the compiler would take the free of a pointer from operator new for a mismatch.
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}

[[gnu::noinline]] void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace {

struct Reply {
    bool ok = false;
    json reply;
    std::thread::id thread;
};

struct Notification {
    IJsonRpcClient* client = nullptr;
    json data;
    std::thread::id thread;
};

struct ConnectionEvent {
    IJsonRpcClient* client = nullptr;
    bool connected = false;
    std::thread::id thread;
};

// Connect belongs on queue 1, where the socket's events are handled: they then find the new
// socket stored.
void ConnectOnQueue1(const _OBJ<IJsonRpcClient>& client) {
    CCollector<int> done;
    _GCD::Post(
        [&] {
            client->Connect();
            done.Add(1);
        },
        _GCD::QUEUE_SERIAL);
    ASSERT_TRUE(done.WaitSize(1));
}

// A client on the peer with its connection handler and one notification type installed.
struct Link {
    explicit Link(const std::string& type = "Print") {
        client = Code_JsonRpcClient::Create(peer.Url());
        client->SetConnectionHandler([this](_OBJ<IJsonRpcClient> c, bool connected) {
            connections.Add({c.get(), connected, std::this_thread::get_id()});
        });
        client->RegisterHandler(type, [this](_OBJ<IJsonRpcClient> c, json data, uint64_t) {
            notifications.Add({c.get(), std::move(data), std::this_thread::get_id()});
        });
    }

    void Connect() {
        ConnectOnQueue1(client);
        ASSERT_TRUE(connections.WaitSize(1));
        ASSERT_TRUE(peer.WaitFor([&] { return peer.IsConnected(); }));
    }

    IJsonRpcClient::ReplyCallback Collect() {
        return [this](bool ok, json reply) {
            replies.Add({ok, std::move(reply), std::this_thread::get_id()});
        };
    }

    // The text of the n-th data frame the peer received.
    std::string Sent(size_t n) {
        EXPECT_TRUE(peer.WaitFor([&] { return peer.DataFrames().size() > n; }));
        const auto frames = peer.DataFrames();
        return frames.size() > n ? frames[n].payload : std::string();
    }

    std::string SentId(size_t n) { return json::parse(Sent(n)).at("_ID").get<std::string>(); }

    std::string CallAndTakeId() {
        const size_t n = peer.DataFrames().size();
        client->Call("/p", "Cmd", json::object(), Collect());
        return SentId(n);
    }

    // Frames are handled in order on queue 1, and queue 2 starts its tasks in posting order:
    // once the handler of a notification sent after them has run, every earlier frame has been
    // handled and what it posted has started.
    void Sync() {
        const size_t n = ++syncs;
        ASSERT_TRUE(peer.SendText(R"({"_DATA":"sync","_MAGIC":"ORACLE","_TYPE":"Print"})"));
        ASSERT_TRUE(peer.WaitFor([&] { return Syncs() >= n; }));
    }

    size_t Syncs() {
        size_t n = 0;
        for (const Notification& e : notifications.Values())
            n += e.data == "sync";
        return n;
    }

    std::vector<Notification> NotificationsBesidesSync() {
        std::vector<Notification> result;
        for (Notification& e : notifications.Values()) {
            if (e.data != "sync")
                result.push_back(std::move(e));
        }
        return result;
    }

    CWsTestPeer peer;
    CCollector<Reply> replies;
    CCollector<Notification> notifications;
    CCollector<ConnectionEvent> connections;
    size_t syncs = 0;
    _OBJ<IJsonRpcClient> client;  // released before the collectors it fills
};

QX_DISPATCHER_TEST(JsonRpcClient, CallsAndNotificationsAreCompactSortedRawUtf8) {
    Link link;
    link.Connect();
    const json params = {{"Zeta", 1}, {"alpha", "中文"}, {"Beta", {true, nullptr}}};
    link.client->Call("/smt/rest", "CheckConfig", params, nullptr);
    const std::string id = link.SentId(0);
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-"
                                                "[0-9a-f]{12}")));
    EXPECT_EQ(link.Sent(0), R"({"Beta":[true,null],"Zeta":1,"_CMD":"CheckConfig","_ID":")" + id +
                                R"(","_PATH":"/smt/rest","alpha":"中文"})");
    link.client->Call("/smt/rest", "CheckConfig", params, nullptr);
    EXPECT_NE(link.SentId(1), id);

    link.client->Notify("Print", {{"b", "ü"}, {"a", {1, 2}}});
    EXPECT_EQ(link.Sent(2), R"({"_DATA":{"a":[1,2],"b":"ü"},"_MAGIC":"ORACLE","_TYPE":"Print"})");
    link.client->Notify("Ping", nullptr);
    EXPECT_EQ(link.Sent(3), R"({"_DATA":null,"_MAGIC":"ORACLE","_TYPE":"Ping"})");
}

QX_DISPATCHER_TEST(JsonRpcClient, ParametersAreOverwrittenOrRefused) {
    Link link;
    link.Connect();
    link.client->Call("/p", "Cmd", {{"_ID", "mine"}, {"_CMD", "x"}, {"_PATH", "y"}, {"a", 1}},
                      nullptr);
    const json overwritten = json::parse(link.Sent(0));
    EXPECT_NE(overwritten.at("_ID"), "mine");
    EXPECT_EQ(overwritten.at("_CMD"), "Cmd");
    EXPECT_EQ(overwritten.at("_PATH"), "/p");
    EXPECT_EQ(overwritten.at("a"), 1);

    link.client->Call("/p", "Cmd", nullptr, nullptr);
    const json fromNull = json::parse(link.Sent(1));
    EXPECT_EQ(fromNull.size(), 3u);

    EXPECT_THROW(link.client->Call("/p", "Cmd", json::array({1}), link.Collect()),
                 json::type_error);
    EXPECT_THROW(link.client->Call("/p", "Cmd", "text", link.Collect()), json::type_error);
    try {
        link.client->Call("/p", "Cmd", {{"bad", "\xff\xfe"}}, link.Collect());
        ADD_FAILURE() << "invalid UTF-8 was sent";
    } catch (const json::type_error& e) {
        EXPECT_EQ(e.id, 316);
    }
    try {
        link.client->Notify("Print", "\xc3");
        ADD_FAILURE() << "invalid UTF-8 was sent";
    } catch (const json::type_error& e) {
        EXPECT_EQ(e.id, 316);
    }
    link.client->Notify("Last", nullptr);
    EXPECT_EQ(json::parse(link.Sent(2)).at("_TYPE"), "Last");
    EXPECT_EQ(link.peer.DataFrames().size(), 3u);
}

QX_DISPATCHER_TEST(JsonRpcClient, ReplyIsDeliveredOnceOnQueue2AfterAValidOk) {
    Link link;
    link.Connect();
    const std::string id = link.CallAndTakeId();
    const std::string idMember = R"("_ID":")" + id + R"(")";
    ASSERT_TRUE(link.peer.SendText("{" + idMember + R"(,"_OK":"yes"})"));
    ASSERT_TRUE(link.peer.SendText("{" + idMember + "}"));
    ASSERT_TRUE(link.peer.SendText(R"({"_ID":"unknown","_OK":true})"));
    link.Sync();
    EXPECT_FALSE(link.replies.WaitSize(1, 300ms));

    ASSERT_TRUE(link.peer.SendText("{" + idMember + R"(,"_OK":false,"Items":[1]})"));
    ASSERT_TRUE(link.replies.WaitSize(1));
    ASSERT_TRUE(link.peer.SendText("{" + idMember + R"(,"_OK":true})"));
    link.Sync();
    EXPECT_FALSE(link.replies.WaitSize(2, 300ms));

    const Reply reply = link.replies.Values()[0];
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.reply, json::parse("{" + idMember + R"(,"_OK":false,"Items":[1]})"));
    EXPECT_NE(reply.thread, std::this_thread::get_id());
    EXPECT_NE(reply.thread, link.connections.Values()[0].thread);
}

QX_DISPATCHER_TEST(JsonRpcClient, NotificationsAreDispatchedByTypeOnQueue2) {
    Link link;
    link.Connect();
    const std::string id = link.CallAndTakeId();
    const std::string idMember = R"("_ID":")" + id + R"(")";
    ASSERT_TRUE(link.peer.SendText(R"({"_MAGIC":"ORACLE","_TYPE":"Print","_DATA":{"Job":7}})"));
    ASSERT_TRUE(link.peer.SendText(R"({"_MAGIC":"ORACLE","_TYPE":"Other","_DATA":1})"));
    ASSERT_TRUE(link.peer.SendText(R"({"_MAGIC":"ORACLE","_TYPE":"Print"})"));
    ASSERT_TRUE(link.peer.SendText(R"({"_MAGIC":"ORACLE","_TYPE":5,"_DATA":1})"));
    ASSERT_TRUE(link.peer.SendText("{" + idMember + R"(,"_MAGIC":5,"_OK":true})"));
    link.Sync();
    EXPECT_FALSE(link.notifications.WaitSize(3, 300ms));
    const auto received = link.NotificationsBesidesSync();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].data, json::parse(R"({"Job":7})"));
    EXPECT_EQ(received[0].client, link.client.get());
    EXPECT_NE(received[0].thread, link.connections.Values()[0].thread);
    EXPECT_NE(received[0].thread, std::this_thread::get_id());
    EXPECT_EQ(link.replies.Size(), 0u);

    // Any other "_MAGIC", even one differing only in case, makes a reply.
    ASSERT_TRUE(link.peer.SendText("{" + idMember + R"(,"_MAGIC":"oracle","_OK":true})"));
    ASSERT_TRUE(link.replies.WaitSize(1));
    EXPECT_TRUE(link.replies.Values()[0].ok);
}

QX_DISPATCHER_TEST(JsonRpcClient, MalformedFramesAreDroppedWithoutEffect) {
    Link link;
    link.Connect();
    const std::string id = link.CallAndTakeId();
    const std::string reply = R"({"_ID":")" + id + R"(","_OK":true})";
    ASSERT_TRUE(link.peer.SendText("not json"));
    ASSERT_TRUE(link.peer.SendText(reply + " trailing"));
    ASSERT_TRUE(link.peer.SendText("[" + reply + "]"));
    ASSERT_TRUE(link.peer.SendText("42"));
    ASSERT_TRUE(link.peer.SendText(R"({"_ID":")" + id + R"(","_OK":true)"));
    ASSERT_TRUE(link.peer.SendText("/* c */" + reply));
    ASSERT_TRUE(link.peer.SendText(R"([{"_MAGIC":"ORACLE","_TYPE":"Print","_DATA":1}])"));
    ASSERT_TRUE(link.peer.SendText(""));
    link.Sync();
    EXPECT_FALSE(link.replies.WaitSize(1, 300ms));
    EXPECT_TRUE(link.NotificationsBesidesSync().empty());
    EXPECT_TRUE(link.peer.IsConnected());

    // A binary frame is read like a text one; blanks around the value are fine.
    ASSERT_TRUE(link.peer.SendBinary(" \n" + reply + " \t"));
    ASSERT_TRUE(link.replies.WaitSize(1));
}

QX_DISPATCHER_TEST(JsonRpcClient, WhileDownNothingIsSentAndCallbacksNeverRun) {
    Link link;
    link.peer.Refuse();
    ConnectOnQueue1(link.client);
    link.client->Call("/p", "Cmd", json::object(), link.Collect());
    link.client->Notify("Print", 1);
    link.peer.Resume();
    ASSERT_TRUE(link.connections.WaitSize(1));
    link.client->Notify("After", nullptr);
    EXPECT_EQ(json::parse(link.Sent(0)).at("_TYPE"), "After");
    EXPECT_EQ(link.peer.DataFrames().size(), 1u);
    EXPECT_EQ(link.replies.Size(), 0u);
}

QX_DISPATCHER_TEST(JsonRpcClient, LossReleasesPendingCallsUncalled) {
    Link link;
    link.Connect();
    // The callback's captures stand for what a real one holds, e.g. its session.
    auto held = std::make_shared<int>(0);
    const std::weak_ptr<int> watch = held;
    auto collect = link.Collect();
    link.client->Call("/p", "Cmd", json::object(),
                      [held, collect](bool ok, json reply) { collect(ok, std::move(reply)); });
    held.reset();
    const std::string id = link.SentId(0);
    ASSERT_TRUE(link.peer.Drop());
    ASSERT_TRUE(link.connections.WaitSize(3));
    EXPECT_TRUE(watch.expired());
    const auto events = link.connections.Values();
    EXPECT_TRUE(events[0].connected);
    EXPECT_FALSE(events[1].connected);
    EXPECT_TRUE(events[2].connected);
    EXPECT_EQ(events[1].client, link.client.get());
    EXPECT_EQ(events[1].thread, events[0].thread);
    ASSERT_TRUE(link.peer.WaitFor([&] { return link.peer.IsConnected(); }));
    ASSERT_TRUE(link.peer.SendText(R"({"_ID":")" + id + R"(","_OK":true})"));
    link.Sync();
    EXPECT_FALSE(link.replies.WaitSize(1, 300ms));
}

QX_DISPATCHER_TEST(JsonRpcClient, EventsOfAnotherSocketAreIgnored) {
    Link link;
    link.Connect();
    _OBJ<_NET::IWebSocket> other = Code_ClientWebSocket::Create(link.peer.Url(), nullptr, nullptr);
    static_cast<Code_JsonRpcClient*>(link.client.get())->EventProc_Network_Connection(other, false);
    EXPECT_EQ(link.connections.Size(), 1u);
}

QX_DISPATCHER_TEST(JsonRpcClient, EmptyHandlersAreIgnored) {
    Link link;
    link.client->SetConnectionHandler(nullptr);
    link.client->RegisterHandler("Print", nullptr);
    EXPECT_EQ(link.client->SetConnectionHandler(nullptr), link.client);
    link.Connect();
    link.Sync();
}

QX_DISPATCHER_TEST(JsonRpcClient, ReleaseWhileUpClosesAndReportsNothing) {
    Link link;
    link.Connect();
    const auto before = Clock::now();
    link.client.reset();
    EXPECT_LT(Clock::now() - before, 2s);
    EXPECT_EQ(link.connections.Size(), 1u);
    // The close frame is sent before the thread ends but read by the peer on its own thread.
    ASSERT_TRUE(link.peer.WaitFor([&] { return !link.peer.Frames().empty(); }));
    const auto frames = link.peer.Frames();
    EXPECT_EQ(CWsTestPeer::CloseCode(frames.back()), 1000);
}

// Far deeper than anything the MES sends, as notification data and as a member of the replies
// that the session waits for: each frame is dropped and the link goes on with the next.
QX_DISPATCHER_TEST(JsonRpcClient, DeeplyNestedFramesAreDroppedAndTheNextIsHandled) {
    Link link;
    link.Connect();
    const std::string deep = std::string(1000000, '[') + std::string(1000000, ']');
    ASSERT_TRUE(
        link.peer.SendText(R"({"_DATA":)" + deep + R"(,"_MAGIC":"ORACLE","_TYPE":"Print"})"));
    link.Sync();
    EXPECT_TRUE(link.NotificationsBesidesSync().empty());

    std::vector<std::string> ids;
    for (const char* command : {"CheckConfig", "_INITIALIZE"}) {
        const size_t n = link.peer.DataFrames().size();
        link.client->Call("/", command, json::object(), link.Collect());
        ids.push_back(link.SentId(n));
        const std::string head = R"({"_ID":")" + ids.back() + R"(","_OK":true)";
        ASSERT_TRUE(link.peer.SendText(head + R"(,"Items":)" + deep + "}"));
        ASSERT_TRUE(link.peer.SendText(head + "}"));
        ASSERT_TRUE(link.replies.WaitSize(ids.size()));
    }
    const auto replies = link.replies.Values();
    ASSERT_EQ(replies.size(), 2u);
    for (size_t i = 0; i < ids.size(); ++i)
        EXPECT_EQ(replies[i].reply, json({{"_ID", ids[i]}, {"_OK", true}}));
}

// A frame is refused while it is read, as soon as it passes its bound of values: what lies
// beyond is never built. A frame at the bound is handed on.
QX_DISPATCHER_TEST(JsonRpcClient, FramePastTheValueBoundIsRefusedAsItIsRead) {
    Link link;
    link.Connect();
    // The envelope counts 7: the object, its three keys, "ORACLE", "Print" and the array.
    const auto frame = [](size_t strings) {
        std::string text = R"({"_MAGIC":"ORACLE","_TYPE":"Print","_DATA":[)";
        text.reserve(text.size() + strings * 3 + 2);
        for (size_t i = 0; i < strings; ++i)
            text += i == 0 ? "\"\"" : ",\"\"";
        return text + "]}";
    };
    const size_t atBound = Code_JsonRpcClient::MAX_MESSAGE_VALUES - 7;
    auto* code = static_cast<Code_JsonRpcClient*>(link.client.get());

    // Built whole, its two million strings past the bound would take more than 32 MB.
    const std::string heavy = frame(atBound + 2000000);
    t_Allocated = 0;
    t_Counting = true;
    code->EventProc_Network_Msg(nullptr, heavy, _NET::IWebSocket::OPCODE_TEXT);
    t_Counting = false;
    EXPECT_LT(t_Allocated, 4u * 1024 * 1024);

    code->EventProc_Network_Msg(nullptr, frame(atBound + 1), _NET::IWebSocket::OPCODE_TEXT);
    code->EventProc_Network_Msg(nullptr, frame(atBound), _NET::IWebSocket::OPCODE_TEXT);
    // The frames are handled here, on this thread: the refused ones posted nothing.
    ASSERT_TRUE(link.notifications.WaitSize(1));
    const auto handed = link.NotificationsBesidesSync();
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_EQ(handed[0].data.size(), atBound);
}

// A reply callback may take seconds (a message box); a loss meanwhile is handled on queue 1
// without waiting for it.
QX_DISPATCHER_TEST(JsonRpcClient, LossIsHandledWhileAReplyCallbackRuns) {
    SUPPORT::CGate gate;
    CCollector<int> returned;
    Link link;
    link.Connect();
    link.client->Call("/p", "Cmd", json::object(), [&](bool, json) {
        gate.Wait();
        returned.Add(1);
    });
    const std::string id = link.SentId(0);
    ASSERT_TRUE(link.peer.SendText(R"({"_ID":")" + id + R"(","_OK":true})"));
    ASSERT_TRUE(gate.WaitEntered());
    ASSERT_TRUE(link.peer.Drop());
    const bool lossHandled = link.connections.WaitSize(2, 5s);
    gate.Open();
    ASSERT_TRUE(returned.WaitSize(1));
    EXPECT_TRUE(lossHandled);
    EXPECT_FALSE(link.connections.Values()[1].connected);
}

// Each misuse ends the process with HALT as the whole output.
TEST(JsonRpcClientDeathTest, UseBeforeConnectHalts) {
    const std::function<void(IJsonRpcClient&)> misuses[] = {
        [](IJsonRpcClient& c) { c.Notify("T", 1); },
        [](IJsonRpcClient& c) { c.Call("/p", "C", nullptr, nullptr); },
        [](IJsonRpcClient& c) { c.Close(); }};
    for (const auto& misuse : misuses) {
        const SUPPORT::CHILD_RESULT result = SUPPORT::RunChild([&misuse] {
            misuse(*Code_JsonRpcClient::Create("ws://127.0.0.1:1/"));
            return 1;
        });
        EXPECT_EQ(result.m_ExitCode, 0);
        EXPECT_EQ(result.m_Out, "HALT\n") << result.m_Err;
    }
}

}  // namespace
