#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <thread>
#include <vector>

#include "Net/Code_ClientWebSocket.h"
#include "Platform/FreeMemory.h"
#include "Platform/Gcd.h"
#include "Support/ChildScenario.h"
#include "Support/Collector.h"
#include "Support/Wait.h"
#include "Support/WsTestPeer.h"

using namespace std::chrono_literals;
using _NET::Code_ClientWebSocket;
using _NET::CWsMessage;
using _NET::IWebSocket;
using SUPPORT::CCollector;
using SUPPORT::CWsTestPeer;
using Clock = std::chrono::steady_clock;

namespace {

struct Event {
    bool connection = false;  // else a message
    bool connected = false;
    std::string payload;
    IWebSocket::OPCODE opcode = IWebSocket::OPCODE_TEXT;
    IWebSocket* socket = nullptr;
    std::thread::id thread;
    Clock::time_point at;
};

Code_ClientWebSocket::ConnectionCallback OnConnection(CCollector<Event>& events) {
    return [&events](_OBJ<IWebSocket> socket, bool connected) {
        Event e;
        e.connection = true;
        e.connected = connected;
        e.socket = socket.get();
        e.thread = std::this_thread::get_id();
        e.at = Clock::now();
        events.Add(e);
    };
}

Code_ClientWebSocket::MessageCallback OnMessage(CCollector<Event>& events) {
    return
        [&events](_OBJ<IWebSocket> socket, const std::string& payload, IWebSocket::OPCODE opcode) {
            Event e;
            e.payload = payload;
            e.opcode = opcode;
            e.socket = socket.get();
            e.thread = std::this_thread::get_id();
            e.at = Clock::now();
            events.Add(e);
        };
}

std::vector<bool> ConnectionFlags(CCollector<Event>& events) {
    std::vector<bool> flags;
    for (const Event& e : events.Values()) {
        if (e.connection)
            flags.push_back(e.connected);
    }
    return flags;
}

// Runs on queue 1 after everything queued there before it.
void DrainQueue1() {
    CCollector<int> done;
    _GCD::Post([&done] { done.Add(1); }, _GCD::QUEUE_SERIAL);
    ASSERT_TRUE(done.WaitSize(1));
}

// A TCP listener that never accepts: connection attempts hang in the opening handshake.
struct SilentListener {
    boost::asio::io_context ioc;
    boost::asio::ip::tcp::acceptor acceptor{ioc, {boost::asio::ip::make_address("127.0.0.1"), 0}};
    std::string url = "ws://127.0.0.1:" + std::to_string(acceptor.local_endpoint().port()) + "/";
};

QX_DISPATCHER_TEST(ClientWebSocket, FramesAndConnectionChangesReachQueue1InOrder) {
    CWsTestPeer peer;
    CCollector<Event> events;
    _OBJ<IWebSocket> socket =
        Code_ClientWebSocket::Create(peer.Url(), OnConnection(events), OnMessage(events));
    ASSERT_TRUE(events.WaitSize(1));
    ASSERT_TRUE(peer.WaitFor([&] { return peer.IsConnected(); }));
    EXPECT_TRUE(socket->IsConnected());

    socket->Send("t", IWebSocket::OPCODE_TEXT);
    socket->Send("b", IWebSocket::OPCODE_BINARY);
    socket->Send("7", static_cast<IWebSocket::OPCODE>(7));
    ASSERT_TRUE(peer.WaitFor([&] { return peer.DataFrames().size() == 3; }));
    const auto frames = peer.DataFrames();
    EXPECT_EQ(frames[0].opcode, CWsTestPeer::OPCODE_TEXT);
    EXPECT_EQ(frames[1].opcode, CWsTestPeer::OPCODE_BINARY);
    EXPECT_EQ(frames[2].opcode, CWsTestPeer::OPCODE_TEXT);
    EXPECT_EQ(frames[2].payload, "7");

    ASSERT_TRUE(peer.SendText("x"));
    ASSERT_TRUE(peer.SendBinary("y"));
    ASSERT_TRUE(peer.Drop());
    ASSERT_TRUE(events.WaitSize(5));
    const auto e = events.Values();
    EXPECT_TRUE(e[0].connection && e[0].connected);
    EXPECT_TRUE(!e[1].connection && e[1].payload == "x" && e[1].opcode == IWebSocket::OPCODE_TEXT);
    EXPECT_TRUE(!e[2].connection && e[2].payload == "y" &&
                e[2].opcode == IWebSocket::OPCODE_BINARY);
    EXPECT_TRUE(e[3].connection && !e[3].connected);
    EXPECT_TRUE(e[4].connection && e[4].connected);
    for (const Event& event : e) {
        EXPECT_EQ(event.thread, e[0].thread);
        EXPECT_NE(event.thread, std::this_thread::get_id());
        EXPECT_EQ(event.socket, socket.get());
    }
}

// Created off queue 1 (here on the main thread), the socket may have its first events handled on
// queue 1 before Create returns: they must reach the callbacks, and later sends go out.
QX_DISPATCHER_TEST(ClientWebSocket, EventsHandledBeforeCreateReturnsReachTheCallbacks) {
    CWsTestPeer peer;
    CCollector<Event> events;
    SUPPORT::CGate gate;  // holds the events until they are surely posted
    _GCD::Post([&gate] { gate.Wait(); }, _GCD::QUEUE_SERIAL);
    ASSERT_TRUE(gate.WaitEntered());
    Code_ClientWebSocket::SetStartedHook([&](Code_ClientWebSocket& created) {
        ASSERT_TRUE(peer.WaitFor([&] { return peer.IsConnected(); }));
        ASSERT_TRUE(peer.SendText("first"));
        // Read, so the connection event was posted before it; neither can be handled yet.
        ASSERT_TRUE(SUPPORT::WaitUntil([&] { return created.Backlog() > 0; }));
        gate.Open();
        // The message's task may be posted only after its bytes are counted: wait for both.
        ASSERT_TRUE(events.WaitSize(2));
    });
    _OBJ<IWebSocket> socket =
        Code_ClientWebSocket::Create(peer.Url(), OnConnection(events), OnMessage(events));
    Code_ClientWebSocket::SetStartedHook(nullptr);
    const auto e = events.Values();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_TRUE(e[0].connection && e[0].connected);
    EXPECT_EQ(e[1].payload, "first");
    socket->Send("reply", IWebSocket::OPCODE_TEXT);
    ASSERT_TRUE(peer.WaitFor([&] { return peer.DataFrames().size() == 1; }));
    EXPECT_EQ(peer.DataFrames()[0].payload, "reply");
}

// Queue 1, busy, has not seen the loss yet while the engine is already up again: what it sends
// then was meant for the lost connection and must not go out on the new one.
QX_DISPATCHER_TEST(ClientWebSocket, SendsOfALostConnectionNeverReachTheNextOne) {
    CWsTestPeer peer;
    CCollector<Event> events;
    auto onConnection = [&events](_OBJ<IWebSocket> socket, bool connected) {
        if (connected)
            socket->Send("hello", IWebSocket::OPCODE_TEXT);
        Event e;
        e.connection = true;
        e.connected = connected;
        events.Add(e);
    };
    _OBJ<IWebSocket> socket = Code_ClientWebSocket::Create(peer.Url(), onConnection, nullptr);
    ASSERT_TRUE(peer.WaitFor([&] { return peer.DataFrames().size() == 1; }));
    SUPPORT::CGate gate;
    _GCD::Post([&gate] { gate.Wait(); }, _GCD::QUEUE_SERIAL);
    ASSERT_TRUE(gate.WaitEntered());
    EXPECT_TRUE(socket->IsCurrent());
    ASSERT_TRUE(peer.Drop());
    ASSERT_TRUE(peer.WaitFor([&] { return peer.Connections() == 2 && socket->IsConnected(); }));
    // Connected again, but what queue 1 decides now is still for the lost connection.
    EXPECT_FALSE(socket->IsCurrent());
    socket->Send("stale", IWebSocket::OPCODE_TEXT);
    socket->Send("stale", IWebSocket::OPCODE_BINARY);
    gate.Open();
    ASSERT_TRUE(events.WaitSize(3));
    ASSERT_TRUE(peer.WaitFor([&] { return peer.DataFrames().size() >= 2; }));
    DrainQueue1();
    EXPECT_TRUE(socket->IsCurrent());
    const auto frames = peer.DataFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].payload, "hello");
    EXPECT_EQ(frames[1].connection, 2u);
}

// Queue 1 busy while the peer floods: reading stops at the bound, and nothing is lost.
QX_DISPATCHER_TEST(ClientWebSocket, FloodWhileQueue1IsBusyHoldsTheBacklogWithinTheBound) {
    constexpr size_t kFrames = 1500;  // 94 MiB, well past the bound
    constexpr size_t kSize = 64 * 1024;
    CWsTestPeer peer;
    CCollector<Event> events;
    // Only each frame's number is kept.
    auto onMessage = [&events](_OBJ<IWebSocket>, const std::string& payload, IWebSocket::OPCODE) {
        Event e;
        e.payload = payload.substr(0, payload.find('.'));
        events.Add(e);
    };
    _OBJ<IWebSocket> socket =
        Code_ClientWebSocket::Create(peer.Url(), OnConnection(events), onMessage);
    ASSERT_TRUE(events.WaitSize(1));
    auto* code = static_cast<Code_ClientWebSocket*>(socket.get());
    SUPPORT::CGate gate;
    _GCD::Post([&gate] { gate.Wait(); }, _GCD::QUEUE_SERIAL);
    ASSERT_TRUE(gate.WaitEntered());
    for (size_t i = 0; i < kFrames; ++i) {
        std::string frame = std::to_string(i);
        frame.resize(kSize, '.');
        ASSERT_TRUE(peer.SendText(frame));
    }
    // Nothing is handled while the gate holds: the backlog only grows, and stops at the bound.
    ASSERT_TRUE(SUPPORT::WaitUntil([&] { return code->Backlog() > _NET::CWsEngine::kMaxBacklog; }));
    EXPECT_FALSE(SUPPORT::WaitUntil(
        [&] { return code->Backlog() > _NET::CWsEngine::kMaxBacklog + kSize; }, 500ms));
    gate.Open();
    ASSERT_TRUE(events.WaitSize(kFrames + 1, 180s));  // slow under the sanitizers
    const auto e = events.Values();
    for (size_t i = 0; i < kFrames; ++i)
        ASSERT_EQ(e[i + 1].payload, std::to_string(i));
    EXPECT_TRUE(SUPPORT::WaitUntil([&] { return code->Backlog() == 0; }));
}

namespace {
std::atomic<int> g_Releases{0};
}  // namespace

// A flood held for queue 1 gives the heap's free memory back once it has all been handled, once:
// not per message, nor for the messages after it.
QX_DISPATCHER_TEST(ClientWebSocket, DrainedFloodGivesFreeMemoryBackOnce) {
    constexpr size_t kSize = 64 * 1024;
    constexpr size_t kFrames = Code_ClientWebSocket::kFloodBacklog / kSize + 16;
    _OS::SetReleaseFreeMemory([] { ++g_Releases; });
    CWsTestPeer peer;
    CCollector<int> handled;
    auto onMessage = [&handled](_OBJ<IWebSocket>, const std::string&, IWebSocket::OPCODE) {
        handled.Add(1);
    };
    _OBJ<IWebSocket> socket = Code_ClientWebSocket::Create(peer.Url(), nullptr, onMessage);
    auto* code = static_cast<Code_ClientWebSocket*>(socket.get());
    ASSERT_TRUE(SUPPORT::WaitUntil([&] { return socket->IsConnected(); }));
    SUPPORT::CGate gate;
    _GCD::Post([&gate] { gate.Wait(); }, _GCD::QUEUE_SERIAL);
    ASSERT_TRUE(gate.WaitEntered());
    for (size_t i = 0; i < kFrames; ++i)
        ASSERT_TRUE(peer.SendText(std::string(kSize, '.')));
    ASSERT_TRUE(
        SUPPORT::WaitUntil([&] { return code->Backlog() > Code_ClientWebSocket::kFloodBacklog; }));
    gate.Open();
    ASSERT_TRUE(handled.WaitSize(kFrames));
    ASSERT_TRUE(peer.SendText("after"));
    ASSERT_TRUE(handled.WaitSize(kFrames + 1));
    DrainQueue1();
    CCollector<int> spare;
    _GCD::Post([&spare] { spare.Add(1); }, _GCD::QUEUE_SPARE);
    ASSERT_TRUE(spare.WaitSize(1));
    EXPECT_EQ(g_Releases, 1);
}

// Hands the socket what its engine would report: opens carry the connection's number.
void Deliver(const _OBJ<IWebSocket>& socket, CWsMessage::TYPE type, uint64_t connection = 0,
             const std::string& payload = "") {
    CWsMessage message;
    message.type = type;
    message.connection = connection;
    message.str = payload;
    static_cast<Code_ClientWebSocket*>(socket.get())->Proc_Callback(message);
}

QX_DISPATCHER_TEST(ClientWebSocket, CloseThenErrorIsOneLoss) {
    SilentListener listener;  // the engine itself reports nothing meanwhile
    CCollector<Event> events;
    _OBJ<IWebSocket> socket =
        Code_ClientWebSocket::Create(listener.url, OnConnection(events), OnMessage(events));
    Deliver(socket, CWsMessage::TYPE_ERROR);  // a failed attempt
    EXPECT_FALSE(socket->IsConnected());
    Deliver(socket, CWsMessage::TYPE_OPEN, 1);
    EXPECT_TRUE(socket->IsConnected());
    DrainQueue1();
    Deliver(socket, CWsMessage::TYPE_PING);
    Deliver(socket, CWsMessage::TYPE_FRAGMENT);
    Deliver(socket, CWsMessage::TYPE_CLOSE);
    EXPECT_FALSE(socket->IsConnected());
    Deliver(socket, CWsMessage::TYPE_ERROR);
    DrainQueue1();
    Deliver(socket, CWsMessage::TYPE_OPEN, 2);
    DrainQueue1();
    Deliver(socket, CWsMessage::TYPE_CLOSE);
    Deliver(socket, CWsMessage::TYPE_CLOSE);
    DrainQueue1();
    EXPECT_EQ(ConnectionFlags(events), (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(events.Size(), 4u);
}

// A storm of connections while queue 1 is busy leaves one connection task, not one per change.
// Queue 1 then sees the loss of the connection it knew, the latest one come up, and only the
// messages of that one.
QX_DISPATCHER_TEST(ClientWebSocket, ConnectionStormWhileQueue1IsBusyIsOneChange) {
    SilentListener listener;
    CCollector<Event> events;
    _OBJ<IWebSocket> socket =
        Code_ClientWebSocket::Create(listener.url, OnConnection(events), OnMessage(events));
    Deliver(socket, CWsMessage::TYPE_OPEN, 1);
    DrainQueue1();
    SUPPORT::CGate gate;
    _GCD::Post([&gate] { gate.Wait(); }, _GCD::QUEUE_SERIAL);
    ASSERT_TRUE(gate.WaitEntered());
    const uint32_t before = _GCD::Post([] {}, _GCD::QUEUE_SERIAL);
    constexpr uint64_t kLast = 1000;
    for (uint64_t n = 2; n <= kLast; ++n) {
        Deliver(socket, CWsMessage::TYPE_CLOSE);
        Deliver(socket, CWsMessage::TYPE_OPEN, n);
        if (n == kLast / 2)
            Deliver(socket, CWsMessage::TYPE_MESSAGE, 0, "skipped");
    }
    Deliver(socket, CWsMessage::TYPE_MESSAGE, 0, "last");
    // The connection task and the two messages.
    EXPECT_EQ(_GCD::Post([] {}, _GCD::QUEUE_SERIAL), before + 4);
    gate.Open();
    DrainQueue1();
    const auto e = events.Values();
    ASSERT_EQ(e.size(), 4u);
    EXPECT_TRUE(e[0].connection && e[0].connected);
    EXPECT_TRUE(e[1].connection && !e[1].connected);
    EXPECT_TRUE(e[2].connection && e[2].connected);
    EXPECT_EQ(e[3].payload, "last");
}

QX_DISPATCHER_TEST(ClientWebSocket, CloseWhileConnectedSendsNormalClosureAndStaysDown) {
    CWsTestPeer peer;
    CCollector<Event> events;
    _OBJ<IWebSocket> socket =
        Code_ClientWebSocket::Create(peer.Url(), OnConnection(events), OnMessage(events));
    ASSERT_TRUE(events.WaitSize(1));
    ASSERT_TRUE(peer.WaitFor([&] { return peer.IsConnected(); }));
    socket->Close();
    EXPECT_FALSE(socket->IsConnected());
    ASSERT_TRUE(events.WaitSize(2));
    const auto frames = peer.Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().opcode, CWsTestPeer::OPCODE_CLOSE);
    EXPECT_EQ(CWsTestPeer::CloseCode(frames.back()), 1000);
    EXPECT_EQ(CWsTestPeer::CloseReason(frames.back()), "Normal closure");
    socket->Close();
    EXPECT_FALSE(peer.WaitFor([&] { return peer.Connections() > 1; }, 2s));
    DrainQueue1();
    EXPECT_EQ(ConnectionFlags(events), (std::vector<bool>{true, false}));
}

QX_DISPATCHER_TEST(ClientWebSocket, RefusedAttemptsAreSilentAndCloseWhileDownStopsForGood) {
    CWsTestPeer peer;
    peer.Refuse();
    CCollector<Event> events;
    _OBJ<IWebSocket> socket =
        Code_ClientWebSocket::Create(peer.Url(), OnConnection(events), OnMessage(events));
    // Attempts at once and after the first wait: nothing is reported.
    EXPECT_FALSE(events.WaitSize(1, 1500ms));
    socket->Close();
    peer.Resume();
    EXPECT_FALSE(peer.WaitFor([&] { return peer.Connections() > 0; }, 1500ms));
    EXPECT_EQ(events.Size(), 0u);
    EXPECT_FALSE(socket->IsConnected());
}

QX_DISPATCHER_TEST(ClientWebSocket, WithoutCallbacksTheFlagFollowsAndNothingIsPosted) {
    CWsTestPeer peer;
    const uint32_t before = _GCD::Post([] {}, _GCD::QUEUE_SERIAL);
    _OBJ<IWebSocket> socket = Code_ClientWebSocket::Create(peer.Url(), nullptr, nullptr);
    ASSERT_TRUE(peer.WaitFor([&] { return socket->IsConnected(); }));
    ASSERT_TRUE(peer.SendText("ignored"));
    peer.Refuse();
    ASSERT_TRUE(peer.WaitFor([&] { return !socket->IsConnected(); }));
    EXPECT_EQ(_GCD::Post([] {}, _GCD::QUEUE_SERIAL), before + 1);
}

QX_DISPATCHER_TEST(ClientWebSocket, ReleaseWhileConnectedClosesNormallyAndReportsNothing) {
    CWsTestPeer peer;
    CCollector<Event> events;
    _OBJ<IWebSocket> socket =
        Code_ClientWebSocket::Create(peer.Url(), OnConnection(events), OnMessage(events));
    ASSERT_TRUE(events.WaitSize(1));
    ASSERT_TRUE(peer.WaitFor([&] { return peer.IsConnected(); }));
    // The connection task holds the socket until it returns: once it has, this release is the
    // last and closes here.
    DrainQueue1();
    const auto before = Clock::now();
    socket.reset();
    EXPECT_LT(Clock::now() - before, 2s);
    const auto frames = peer.Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(CWsTestPeer::CloseCode(frames.back()), 1000);
    EXPECT_EQ(CWsTestPeer::CloseReason(frames.back()), "Normal closure");
    DrainQueue1();
    EXPECT_EQ(events.Size(), 1u);  // the loss of a released socket reaches nobody
}

QX_DISPATCHER_TEST(ClientWebSocket, QueuedEventsOfAReleasedSocketRunNothing) {
    CWsTestPeer peer;
    SUPPORT::CGate gate;
    _GCD::Post([&gate] { gate.Wait(); }, _GCD::QUEUE_SERIAL);
    ASSERT_TRUE(gate.WaitEntered());
    CCollector<Event> events;
    _OBJ<IWebSocket> socket =
        Code_ClientWebSocket::Create(peer.Url(), OnConnection(events), OnMessage(events));
    ASSERT_TRUE(peer.WaitFor([&] { return socket->IsConnected(); }));
    ASSERT_TRUE(peer.SendText("late"));
    socket.reset();
    gate.Open();
    DrainQueue1();
    EXPECT_EQ(events.Size(), 0u);
}

// How a peer that stops answering is given up is the engine's; the socket's part is the interval.
QX_DISPATCHER_TEST(ClientWebSocket, PingsEverySevenSeconds) {
    CWsTestPeer peer;
    CCollector<Event> events;
    _OBJ<IWebSocket> socket =
        Code_ClientWebSocket::Create(peer.Url(), OnConnection(events), OnMessage(events));
    ASSERT_TRUE(events.WaitSize(1));
    const auto pinged = [&] {
        for (const auto& f : peer.Frames()) {
            if (f.opcode == CWsTestPeer::OPCODE_PING)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(peer.WaitFor(pinged, 12s));
    const auto interval = Clock::now() - events.Values()[0].at;
    EXPECT_GE(interval, 6900ms);
    EXPECT_LT(interval, 9s);
}

}  // namespace
