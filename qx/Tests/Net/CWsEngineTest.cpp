#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include "Net/CWsEngine.h"
#include "Support/Collector.h"
#include "Support/Threads.h"
#include "Support/Wait.h"
#include "Support/WsTestPeer.h"

using namespace std::chrono_literals;
using _NET::CWsEngine;
using _NET::CWsMessage;
using SUPPORT::CWsTestPeer;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kDeadline = 20s;
constexpr auto kOpen = CWsMessage::TYPE_OPEN;
constexpr auto kClose = CWsMessage::TYPE_CLOSE;
constexpr auto kError = CWsMessage::TYPE_ERROR;

// Everything the engine delivered, with the time it arrived.
struct Recorder {
    struct Entry {
        CWsMessage message;
        Clock::time_point at;
        std::thread::id thread;
    };

    CWsEngine::Callback Callback() {
        return [this](const CWsMessage& message) {
            std::lock_guard<std::mutex> lock(mutex);
            entries.push_back({message, Clock::now(), std::this_thread::get_id()});
            changed.notify_all();
        };
    }

    std::vector<Entry> Snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return entries;
    }

    size_t Count(CWsMessage::TYPE type) { return Of(type).size(); }

    std::vector<Entry> Of(CWsMessage::TYPE type) {
        std::vector<Entry> result;
        for (const Entry& e : Snapshot()) {
            if (e.message.type == type)
                result.push_back(e);
        }
        return result;
    }

    // The opens, closes and errors, in order.
    std::vector<CWsMessage::TYPE> Connection() {
        std::vector<CWsMessage::TYPE> result;
        for (const Entry& e : Snapshot()) {
            if (e.message.type == kOpen || e.message.type == kClose || e.message.type == kError)
                result.push_back(e.message.type);
        }
        return result;
    }

    bool WaitCount(CWsMessage::TYPE type, size_t n, std::chrono::milliseconds timeout = kDeadline) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [&] {
            size_t count = 0;
            for (const Entry& e : entries)
                count += e.message.type == type;
            return count >= n;
        });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Entry> entries;
};

// Waits until the peer has received a frame that matches.
bool PeerGot(const CWsTestPeer& peer, const std::function<bool(const CWsTestPeer::Frame&)>& match) {
    return peer.WaitFor([&] {
        const auto frames = peer.Frames();
        return std::any_of(frames.begin(), frames.end(), match);
    });
}

bool IsCloseWith(const CWsTestPeer::Frame& f, uint16_t code) {
    return f.opcode == CWsTestPeer::OPCODE_CLOSE && CWsTestPeer::CloseCode(f) == code;
}

struct EngineTest : ::testing::Test {
    void StartOn(const std::string& url, std::chrono::milliseconds ping = 0ms) {
        engine.SetUrl(url);
        engine.DisablePerMessageDeflate();
        engine.SetOnMessageCallback(recorder.Callback());
        engine.SetPingInterval(ping);
        engine.Start();
    }
    void Connect(std::chrono::milliseconds ping = 0ms) {
        StartOn(peer.Url(), ping);
        ASSERT_TRUE(recorder.WaitCount(kOpen, 1));
        ASSERT_TRUE(peer.WaitFor([&] { return peer.IsConnected(); }));
    }

    // The number of the latest connection that came up, which sends are stamped with.
    uint64_t Live() {
        const auto opens = recorder.Of(kOpen);
        return opens.empty() ? 0 : opens.back().message.connection;
    }

    CWsTestPeer peer;
    Recorder recorder;
    CWsEngine engine;  // stopped before the recorder goes
};

TEST_F(EngineTest, TextAndBinaryTravelAsSingleFramesOfTheirKind) {
    Connect();
    const std::string big(100000, 'x');
    EXPECT_TRUE(engine.Send("h\xc3\xa9llo", Live()));
    EXPECT_TRUE(engine.SendBinary(std::string("\x00\xff", 2), Live()));
    EXPECT_TRUE(engine.Send(big, Live()));
    ASSERT_TRUE(peer.WaitFor([&] { return peer.DataFrames().size() >= 3; }));
    const auto frames = peer.DataFrames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].opcode, CWsTestPeer::OPCODE_TEXT);
    EXPECT_EQ(frames[0].payload, "h\xc3\xa9llo");
    EXPECT_EQ(frames[1].opcode, CWsTestPeer::OPCODE_BINARY);
    EXPECT_EQ(frames[1].payload, std::string("\x00\xff", 2));
    EXPECT_EQ(frames[2].payload, big);
    for (const auto& frame : frames) {
        EXPECT_TRUE(frame.fin);
        EXPECT_TRUE(frame.masked);
    }

    ASSERT_TRUE(peer.SendText("{\"a\":1}"));
    ASSERT_TRUE(peer.SendBinary(std::string("\x01\x00\x02", 3)));
    ASSERT_TRUE(recorder.WaitCount(CWsMessage::TYPE_MESSAGE, 2));
    const auto messages = recorder.Of(CWsMessage::TYPE_MESSAGE);
    EXPECT_EQ(messages[0].message.str, "{\"a\":1}");
    EXPECT_FALSE(messages[0].message.binary);
    EXPECT_EQ(messages[1].message.str, std::string("\x01\x00\x02", 3));
    EXPECT_TRUE(messages[1].message.binary);
    EXPECT_NE(messages[0].thread, std::this_thread::get_id());
}

TEST_F(EngineTest, FragmentedMessageArrivesWhole) {
    Connect();
    ASSERT_TRUE(peer.SendFrame(CWsTestPeer::OPCODE_TEXT, false, "{\"part\":"));
    ASSERT_TRUE(peer.SendFrame(CWsTestPeer::OPCODE_PING, true, "p"));
    ASSERT_TRUE(peer.SendFrame(CWsTestPeer::OPCODE_CONTINUATION, true, "\"two\"}"));
    ASSERT_TRUE(recorder.WaitCount(CWsMessage::TYPE_MESSAGE, 1));
    EXPECT_GE(recorder.Count(CWsMessage::TYPE_FRAGMENT), 1u);
    EXPECT_EQ(recorder.Of(CWsMessage::TYPE_MESSAGE)[0].message.str, "{\"part\":\"two\"}");
    EXPECT_EQ(recorder.Count(CWsMessage::TYPE_PING), 1u);
    ASSERT_TRUE(PeerGot(peer, [](const CWsTestPeer::Frame& f) {
        return f.opcode == CWsTestPeer::OPCODE_PONG && f.payload == "p";
    }));
}

// Each pong must come back within one interval: a short one lets a loaded Wine run miss it.
TEST_F(EngineTest, PingsAtTheIntervalAndHearsPongs) {
    Connect(500ms);
    ASSERT_TRUE(recorder.WaitCount(CWsMessage::TYPE_PONG, 3));
    size_t pings = 0;
    for (const auto& f : peer.Frames())
        pings += f.opcode == CWsTestPeer::OPCODE_PING;
    EXPECT_GE(pings, 3u);
    EXPECT_EQ(recorder.Count(kClose), 0u);
}

TEST_F(EngineTest, PeerCloseIsOneCloseMessageWithItsCodeThenReconnects) {
    Connect();
    ASSERT_TRUE(peer.Close(4001, "bye"));
    ASSERT_TRUE(recorder.WaitCount(kOpen, 2));
    ASSERT_EQ(recorder.Connection(), (std::vector<CWsMessage::TYPE>{kOpen, kClose, kOpen}));
    const auto close = recorder.Of(kClose)[0].message;
    EXPECT_EQ(close.closeCode, 4001);
    EXPECT_EQ(close.str, "bye");
    EXPECT_TRUE(peer.WaitFor([&] { return peer.Connections() == 2; }));
}

TEST_F(EngineTest, StopWhileConnectedClosesDeliversCloseAndNeverReconnects) {
    const size_t threads = SUPPORT::ThreadCount();
    Connect();
    engine.Stop(1000, "Normal closure");
    // Delivered before Stop returned.
    ASSERT_EQ(recorder.Connection(), (std::vector<CWsMessage::TYPE>{kOpen, kClose}));
    const auto close = recorder.Of(kClose)[0].message;
    EXPECT_EQ(close.closeCode, 1000);
    EXPECT_EQ(close.str, "Normal closure");
    EXPECT_TRUE(SUPPORT::WaitThreadCount(threads));

    const auto frames = peer.Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().opcode, CWsTestPeer::OPCODE_CLOSE);
    EXPECT_EQ(CWsTestPeer::CloseCode(frames.back()), 1000);
    EXPECT_EQ(CWsTestPeer::CloseReason(frames.back()), "Normal closure");
    EXPECT_FALSE(engine.Send("late", Live()));
    // Nothing comes back: a reconnection would have been at once.
    EXPECT_FALSE(peer.WaitFor([&] { return peer.Connections() > 1; }, 1500ms));
    EXPECT_EQ(recorder.Snapshot().size(), 2u);
}

TEST_F(EngineTest, RefusedConnectionIsSilentBeyondErrorsAndStopReturnsPromptly) {
    peer.Refuse();
    const size_t threads = SUPPORT::ThreadCount();
    StartOn(peer.Url());
    ASSERT_TRUE(recorder.WaitCount(kError, 2));
    const auto before = Clock::now();
    engine.Stop(1000, "Normal closure");
    EXPECT_LT(Clock::now() - before, 500ms);
    EXPECT_TRUE(SUPPORT::WaitThreadCount(threads));
    EXPECT_EQ(recorder.Count(kOpen), 0u);
    EXPECT_EQ(recorder.Count(kClose), 0u);
}

// Each attempt fails at once, on every system: the gaps are the waits alone.
TEST_F(EngineTest, WaitsBetweenFailedAttemptsDoubleWithinTheLimits) {
    peer.SetDropAtOnce(CWsTestPeer::DROP_ON_ACCEPT);
    engine.SetMinWaitBetweenReconnectionRetries(10ms);
    engine.SetMaxWaitBetweenReconnectionRetries(500ms);
    StartOn(peer.Url());
    ASSERT_TRUE(recorder.WaitCount(kError, 7));
    const auto errors = recorder.Of(kError);
    const std::vector<int> expected = {100, 200, 400, 500, 500, 500};
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto gap =
            std::chrono::duration_cast<std::chrono::milliseconds>(errors[i + 1].at - errors[i].at);
        EXPECT_GE(gap.count(), expected[i] - 5) << "gap " << i;
        EXPECT_LE(gap.count(), expected[i] + 400) << "gap " << i;
    }
}

// The wait before each retry of a round with the gateway's limits of 1 and 10 s.
TEST(WsEngineRetryWait, DefaultLimitsGiveTheDocumentedWaits) {
    const std::vector<int> expected = {1000, 1000, 1000, 1000, 1600, 3200, 6400, 10000, 10000};
    for (uint32_t failed = 0; failed < expected.size(); ++failed) {
        EXPECT_EQ(CWsEngine::RetryWait(failed, 1000ms, 10000ms).count(), expected[failed])
            << failed;
    }
    EXPECT_EQ(CWsEngine::RetryWait(40, 1000ms, 10000ms), 10000ms);
}

TEST_F(EngineTest, LossIsOneErrorAndStartsANewRoundAtOnce) {
    Connect();
    // Past the minimum wait of 1 s: the loss is not taken for a failed attempt.
    std::this_thread::sleep_for(1s);
    peer.SetDropAtOnce(CWsTestPeer::DROP_ON_ACCEPT);
    ASSERT_TRUE(peer.Drop());
    // The loss, then the first failed attempt of the new round at once, then a minimum wait.
    ASSERT_TRUE(recorder.WaitCount(kError, 3));
    peer.SetDropAtOnce(CWsTestPeer::DROP_NONE);
    ASSERT_TRUE(recorder.WaitCount(kOpen, 2));
    const auto connection = recorder.Connection();
    EXPECT_EQ(connection.front(), kOpen);
    EXPECT_EQ(connection.back(), kOpen);
    EXPECT_EQ(recorder.Count(kClose), 0u);
    const auto errors = recorder.Of(kError);
    EXPECT_LT(errors[1].at - errors[0].at, 500ms);
    EXPECT_GE(errors[2].at - errors[1].at, 995ms);
    EXPECT_LT(errors[2].at - errors[1].at, 1750ms);
}

// A peer that accepts and drops at once makes no storm: each connection that ends within the
// minimum wait of its handshake counts as a failed attempt, and the next follows the round's wait.
TEST_F(EngineTest, ConnectionsDroppedAtOnceWaitLikeFailedAttempts) {
    peer.SetDropAtOnce(CWsTestPeer::DROP_ON_OPEN);
    engine.SetMinWaitBetweenReconnectionRetries(100ms);
    engine.SetMaxWaitBetweenReconnectionRetries(400ms);
    StartOn(peer.Url());
    ASSERT_TRUE(recorder.WaitCount(kOpen, 5));
    const auto opens = recorder.Of(kOpen);
    const std::vector<int> expected = {100, 200, 400, 400};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_GE(opens[i + 1].at - opens[i].at, std::chrono::milliseconds(expected[i] - 5))
            << "gap " << i;
    }
    // Each one reported, its end before the next.
    const auto connection = recorder.Connection();
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(connection[i] == kOpen, i % 2 == 0) << i;
}

TEST_F(EngineTest, OversizedMessageEndsTheConnectionAsAProtocolError) {
    Connect();
    const std::string largest(CWsEngine::kMaxMessageSize, 'a');
    ASSERT_TRUE(peer.SendText(largest));
    ASSERT_TRUE(recorder.WaitCount(CWsMessage::TYPE_MESSAGE, 1));
    EXPECT_EQ(recorder.Of(CWsMessage::TYPE_MESSAGE)[0].message.str.size(), largest.size());

    ASSERT_TRUE(peer.SendText(largest + "a"));
    ASSERT_TRUE(recorder.WaitCount(kOpen, 2));
    EXPECT_EQ(recorder.Count(CWsMessage::TYPE_MESSAGE), 1u);
    ASSERT_EQ(recorder.Connection(), (std::vector<CWsMessage::TYPE>{kOpen, kError, kOpen}));
    EXPECT_NE(recorder.Of(kError)[0].message.str.find("limit"), std::string::npos);
}

TEST_F(EngineTest, HeaderClaimingAHugeMessageIsRefusedBeforeItsData) {
    Connect();
    // A text frame header that announces 2^40 bytes, and no data.
    ASSERT_TRUE(peer.SendRaw(std::string("\x81\x7f\x00\x00\x01\x00\x00\x00\x00\x00", 10)));
    ASSERT_TRUE(recorder.WaitCount(kOpen, 2));
    EXPECT_EQ(recorder.Connection()[1], kError);
    // With no data in flight the peer also sees the close frame (a flooding peer may get a
    // reset before it reads it).
    EXPECT_TRUE(PeerGot(peer, [](const CWsTestPeer::Frame& f) { return IsCloseWith(f, 1009); }));
}

TEST_F(EngineTest, SendsFromManyThreadsKeepEachThreadsOrder) {
    Connect();
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                engine.Send(std::to_string(t) + ":" + std::to_string(i), Live());
            }
        });
    }
    for (auto& s : senders)
        s.join();
    ASSERT_TRUE(peer.WaitFor([&] { return peer.DataFrames().size() >= kThreads * kEach; }));
    std::vector<int> next(kThreads, 0);
    for (const auto& f : peer.DataFrames()) {
        const size_t colon = f.payload.find(':');
        const int t = std::stoi(f.payload.substr(0, colon));
        EXPECT_EQ(std::stoi(f.payload.substr(colon + 1)), next[t]++);
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(next[t], kEach);
}

// What the engine logs while it lives, through a logger of its own.
struct LogCapture {
    LogCapture() { spdlog::register_logger(logger); }
    ~LogCapture() { spdlog::drop(logger->name()); }
    size_t Count(const std::string& text) {
        const auto lines = sink->last_formatted();
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    }

    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> sink =
        std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(64);
    std::shared_ptr<spdlog::logger> logger = std::make_shared<spdlog::logger>("capture", sink);
};

// As the program works: each job is handled at once and its far larger result sent later, from
// another thread, while the peer reads nothing. What waits to be sent stays within the bound and
// the one message that passed it; the rest is refused, said once in the log.
TEST_F(EngineTest, PeerThatReadsNothingGetsNoMoreQueuedThanTheBound) {
    constexpr size_t kJobs = 40;
    constexpr size_t kResult = 4 * 1024 * 1024;  // 160 MiB in all
    peer.SetReadPause(1h);
    SUPPORT::CCollector<uint64_t> jobs;  // the connection of each
    uint64_t live = 0;                   // the engine's thread only
    engine.SetUrl(peer.Url());
    engine.DisablePerMessageDeflate();
    engine.SetOnMessageCallback([&](const CWsMessage& message) {
        if (message.type == CWsMessage::TYPE_OPEN)
            live = message.connection;
        if (message.type != CWsMessage::TYPE_MESSAGE)
            return;
        engine.Handled(message.str.size());
        jobs.Add(live);
    });
    LogCapture log;
    engine.Start();
    ASSERT_TRUE(peer.WaitFor([&] { return peer.IsConnected(); }));
    for (size_t i = 0; i < kJobs; ++i)
        ASSERT_TRUE(peer.SendText("job"));
    ASSERT_TRUE(jobs.WaitSize(kJobs));
    size_t queued = 0;
    for (const uint64_t connection : jobs.Values())
        queued += engine.Send(std::string(kResult, 'R'), connection);
    EXPECT_LT(queued, kJobs);
    EXPECT_LE(engine.Backlog(), CWsEngine::kMaxBacklog + kResult);
    EXPECT_EQ(log.Count("messages dropped"), 1u);
    peer.SetReadPause(0ms);  // the next connection closes at once
    ASSERT_TRUE(peer.Drop());
}

// A peer that misses a pong is presumed dead: the close frame goes out, but its answer is not
// awaited for the close handshake's limit. Stop does await it, up to that limit.
TEST_F(EngineTest, DeadPeerIsDroppedAtOnceAndStopWaitsOutTheCloseTimeout) {
    peer.SetAnswerPings(false);
    peer.SetAnswerCloses(false);
    engine.SetMinWaitBetweenReconnectionRetries(100ms);  // it lives longer: reconnects at once
    Connect(200ms);
    const Clock::time_point opened = recorder.Of(kOpen)[0].at;
    ASSERT_TRUE(recorder.WaitCount(kOpen, 2));
    const auto close = recorder.Of(kClose).at(0);
    EXPECT_EQ(close.message.closeCode, 1011);
    EXPECT_EQ(close.message.str, "Ping timeout");
    // Two ping intervals and the short wait, well below the close handshake's 3 s.
    EXPECT_GE(close.at - opened, 400ms);
    EXPECT_LT(close.at - opened, 400ms + CWsEngine::kDeadPeerCloseTimeout + 1s);
    EXPECT_LT(recorder.Of(kOpen)[1].at - close.at, 900ms);
    EXPECT_TRUE(PeerGot(peer, [](const CWsTestPeer::Frame& f) { return IsCloseWith(f, 1011); }));

    const auto before = Clock::now();
    engine.Stop(1000, "Normal closure");
    const auto stopped = Clock::now() - before;
    EXPECT_GE(stopped, CWsEngine::kCloseTimeout - 50ms);
    EXPECT_LT(stopped, CWsEngine::kCloseTimeout + 2s);
    ASSERT_EQ(recorder.Count(kClose), 2u);
    EXPECT_EQ(recorder.Of(kClose)[1].message.closeCode, 1000);
}

// Reading held for the backlog (here never handed back), a pong cannot be heard: with nothing
// queued the wait is ours and the link stays; once what we queue makes no progress for as long
// as a pong may take, the peer is given up as dead.
TEST_F(EngineTest, HeldReadingAndQueuedMessagesThatDoNotMoveArePingTimeout) {
    constexpr auto kPing = 1s;
    Connect(kPing);
    // Past the bound in small messages, each after a pong: a slow run still hears one per tick.
    const std::string message(1024 * 1024, 'M');
    for (size_t i = 0; i <= CWsEngine::kMaxBacklog / message.size(); ++i) {
        ASSERT_TRUE(peer.SendFrame(CWsTestPeer::OPCODE_PONG, true, "beat"));
        ASSERT_TRUE(peer.SendBinary(message));
    }
    ASSERT_TRUE(SUPPORT::WaitUntil([&] { return engine.Backlog() > CWsEngine::kMaxBacklog; }));
    EXPECT_FALSE(recorder.WaitCount(kClose, 1, 2 * kPing + 500ms));

    peer.SetReadPause(1h);  // after its next read
    // Until refused for the bound: far more than the system's buffers take.
    const std::string result(CWsEngine::kMaxMessageSize, 'R');
    for (size_t sent = 0; sent <= 2 * CWsEngine::kMaxBacklog && engine.Send(result, Live());)
        sent += result.size();
    ASSERT_TRUE(recorder.WaitCount(kClose, 1));
    const auto close = recorder.Of(kClose)[0].message;
    EXPECT_EQ(close.closeCode, 1011);
    EXPECT_EQ(close.str, "Ping timeout");
}

// Stops the engine when a test that gave it a callback of its own ends, however it ends.
struct StopAtEnd {
    ~StopAtEnd() { engine.Stop(1000, "Normal closure"); }
    CWsEngine& engine;
};

// The wire bytes of this many empty, unmasked text frames, as a server sends them.
std::string EmptyFrames(size_t count) {
    std::string frames;
    frames.reserve(2 * count);
    for (size_t i = 0; i < count; ++i)
        frames.append("\x81\x00", 2);
    return frames;
}

// Empty messages cost the receiver a task each: a flood of them that is not handed back stops
// at the bound's count, and the rest meets TCP's push-back until some are handed back.
TEST_F(EngineTest, FloodOfEmptyMessagesHoldsReadingAtTheMessageBound) {
    constexpr size_t kBound = CWsEngine::kMaxUnhandledMessages;
    constexpr size_t kFrames = 8 * 1024 * 1024;  // 16 MiB: more than the system's buffers take
    std::atomic<size_t> delivered{0};
    const StopAtEnd stop{engine};  // before what the callback uses goes
    engine.SetUrl(peer.Url());
    engine.DisablePerMessageDeflate();
    engine.SetOnMessageCallback([&delivered](const CWsMessage& message) {
        delivered += message.type == CWsMessage::TYPE_MESSAGE;
    });
    engine.Start();
    ASSERT_TRUE(peer.WaitFor([&] { return peer.IsConnected(); }));
    ASSERT_TRUE(peer.SendRaw(EmptyFrames(kFrames)));
    ASSERT_TRUE(SUPPORT::WaitUntil([&] { return delivered >= kBound; }));
    ASSERT_FALSE(SUPPORT::WaitUntil([&] { return delivered > kBound; }, 500ms));
    EXPECT_GT(peer.Unwritten(), 0u);

    for (size_t i = 0; i < kBound / 2; ++i)
        engine.Handled(0);
    ASSERT_TRUE(SUPPORT::WaitUntil([&] { return delivered >= kBound + kBound / 2; }));
    EXPECT_FALSE(SUPPORT::WaitUntil([&] { return delivered > kBound + kBound / 2; }, 500ms));
    EXPECT_GT(peer.Unwritten(), 0u);
    ASSERT_TRUE(peer.Drop());
}

// A flood taken in batches holds reading again and again, and the pong to our ping waits behind
// it: the pace is ours, and the peer is not given up for a missed pong.
TEST_F(EngineTest, PongBehindAFloodReadAtTheReceiversPaceIsNoPingTimeout) {
    constexpr size_t kBound = CWsEngine::kMaxUnhandledMessages;
    constexpr size_t kFrames = 256 * 1024;  // seconds at the receiver's pace
    std::mutex mutex;
    std::condition_variable changed;
    size_t unhandled = 0;
    bool ended = false;  // the last message, or the connection
    bool last = false;
    bool closed = false;
    const StopAtEnd stop{engine};
    engine.SetUrl(peer.Url());
    engine.DisablePerMessageDeflate();
    engine.SetPingInterval(200ms);
    engine.SetOnMessageCallback([&](const CWsMessage& message) {
        std::lock_guard<std::mutex> lock(mutex);
        if (message.type == CWsMessage::TYPE_MESSAGE)
            ++unhandled;
        if (message.type == kClose || message.type == kError)
            closed = true;
        last = last || (message.type == CWsMessage::TYPE_MESSAGE && message.str == "end");
        ended = ended || last || closed;
        changed.notify_all();
    });
    engine.Start();
    ASSERT_TRUE(peer.WaitFor([&] { return peer.IsConnected(); }));
    ASSERT_TRUE(peer.SendRaw(EmptyFrames(kFrames)));
    ASSERT_TRUE(peer.SendText("end"));
    // Half the bound at a time, once the engine has stopped reading for it.
    std::thread receiver([&] {
        std::unique_lock<std::mutex> lock(mutex);
        while (!ended) {
            changed.wait(lock, [&] { return ended || unhandled >= kBound; });
            for (; unhandled > kBound / 2 && !ended; --unhandled)
                engine.Handled(0);
        }
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!changed.wait_for(lock, 120s, [&] { return ended; }))
            ended = true;
        changed.notify_all();
    }
    receiver.join();
    EXPECT_TRUE(last);
    EXPECT_FALSE(closed);
}

TEST_F(EngineTest, PerMessageDeflateIsOfferedUnlessSwitchedOff) {
    engine.SetUrl(peer.Url());
    engine.SetOnMessageCallback(recorder.Callback());
    engine.Start();
    ASSERT_TRUE(peer.WaitFor([&] { return peer.Connections() == 1; }));
    EXPECT_NE(peer.LastExtensions().find("permessage-deflate"), std::string::npos);
    ASSERT_TRUE(recorder.WaitCount(kOpen, 1));
    engine.Stop(1000, "Normal closure");

    engine.DisablePerMessageDeflate();
    engine.Start();
    ASSERT_TRUE(peer.WaitFor([&] { return peer.Connections() == 2; }));
    EXPECT_EQ(peer.LastExtensions(), "");
    ASSERT_TRUE(recorder.WaitCount(kOpen, 2));
    EXPECT_TRUE(engine.Send("plain", Live()));
    ASSERT_TRUE(peer.WaitFor([&] { return peer.DataFrames().size() == 1; }));
    EXPECT_EQ(peer.DataFrames()[0].payload, "plain");
}

TEST_F(EngineTest, InvalidUrlFailsEveryAttempt) {
    engine.SetMinWaitBetweenReconnectionRetries(10ms);
    engine.SetMaxWaitBetweenReconnectionRetries(20ms);
    StartOn("wss://127.0.0.1:" + std::to_string(peer.Port()) + "/");
    ASSERT_TRUE(recorder.WaitCount(kError, 3));
    EXPECT_EQ(recorder.Count(kOpen), 0u);
    EXPECT_EQ(peer.Connections(), 0u);
}

TEST(WsEngineStop, BeforeStartAndTwiceDoNothing) {
    CWsEngine engine;
    engine.Stop(1000, "Normal closure");
    EXPECT_FALSE(engine.Send("x", 1));
    engine.Stop(1000, "Normal closure");
}

// Labels queued on a slow link take longer than a ping interval to go out: the ping goes out
// between two of them instead of behind the queue, and its pong comes back in time (behind the
// few MiB that the sockets buffer on the loopback).
TEST_F(EngineTest, PingGoesOutBetweenQueuedMessagesOnASlowLink) {
    peer.SetReadPause(5ms);  // 64 KiB per read: at most 13 MB/s
    peer.SetResponder([](const std::string&) { return std::string("ok"); });
    Connect(2s);
    constexpr size_t kLabels = 80;  // 40 MiB
    const std::string label(512 * 1024, 'L');
    for (size_t i = 0; i < kLabels; ++i)
        ASSERT_TRUE(engine.Send(label, Live()));
    // Every answer, or a false ping timeout.
    ASSERT_TRUE(peer.WaitFor(
        [&] {
            return recorder.Count(CWsMessage::TYPE_MESSAGE) == kLabels ||
                   recorder.Count(kClose) > 0;
        },
        60s));
    EXPECT_EQ(recorder.Count(kClose), 0u);
    // The peer answers the labels and the ping in the order in which they reached it.
    size_t labelsBeforePong = 0;
    for (const auto& e : recorder.Snapshot()) {
        if (e.message.type == CWsMessage::TYPE_PONG)
            break;
        labelsBeforePong += e.message.type == CWsMessage::TYPE_MESSAGE;
    }
    EXPECT_LT(labelsBeforePong, kLabels);
}

// A pong that answers no ping of ours, arriving while our ping waits behind a long write, must
// not let a second ping start beside it (the stream takes one at a time).
TEST_F(EngineTest, UnsolicitedPongsDuringALongWriteLeaveOnePingInFlight) {
    peer.SetReadPause(20ms);  // 64 KiB per read: the label takes seconds
    Connect(1s);
    ASSERT_TRUE(engine.Send(std::string(16 * 1024 * 1024, 'L'), Live()));
    // Pongs throughout the write; the wait for an end that should not come paces them.
    while (peer.DataFrames().empty()) {
        ASSERT_TRUE(peer.SendFrame(CWsTestPeer::OPCODE_PONG, true, "beat"));
        if (recorder.WaitCount(kClose, 1, 10ms) || recorder.Count(kError) > 0)
            break;
    }
    // A machine too loaded to pace the pongs may let a tick pass without one: the ping timeout
    // then ends the connection, as it should. Nothing else may end it.
    EXPECT_EQ(recorder.Count(kError), 0u);
    const auto closes = recorder.Of(kClose);
    for (const auto& close : closes)
        EXPECT_EQ(close.message.str, "Ping timeout");
    if (closes.empty()) {
        EXPECT_EQ(peer.DataFrames().size(), 1u);
    }
}

// The system's name lookup cannot be interrupted: Stop must not wait for it, and the lookup, when
// it returns at last, must not touch the engine.
TEST(WsEngineLookup, StopReturnsWhileANameLookupHangs) {
    SUPPORT::CCollector<std::string> lookedUp;
    SUPPORT::CCollector<bool> released;
    // Goes with the last copy of the function: the lookup's thread holds one until it ends.
    SUPPORT::CCollector<bool> functionGone;
    auto tracker = std::shared_ptr<void>(nullptr, [&](void*) { functionGone.Add(true); });
    {
        CWsEngine engine;
        engine.SetResolveFunction([&, tracker](const std::string& host, std::string& error) {
            lookedUp.Add(host);
            released.WaitSize(1);
            error = "released";
            return std::vector<std::string>();
        });
        tracker.reset();
        engine.SetUrl("ws://mes.example:5212/");
        engine.Start();
        EXPECT_TRUE(lookedUp.WaitSize(1));
        const auto before = Clock::now();
        engine.Stop(1000, "Normal closure");
        EXPECT_LT(Clock::now() - before, 1s);
    }
    EXPECT_EQ(functionGone.Size(), 0u);
    released.Add(true);
    EXPECT_TRUE(functionGone.WaitSize(1));
    EXPECT_EQ(lookedUp.Values(), std::vector<std::string>{"mes.example"});
}

TEST_F(EngineTest, HostNameIsLookedUpByTheSystemAndTheTargetComesFromTheUrl) {
    StartOn("ws://localhost:" + std::to_string(peer.Port()) + "/mes/link?x=1#frag");
    ASSERT_TRUE(recorder.WaitCount(kOpen, 1));
    EXPECT_EQ(peer.LastTarget(), "/mes/link?x=1");
}

// A message crossing our close frame must not hold the close handshake until its time limit.
TEST(WsEngineStop, MessageArrivingAsStopClosesDoesNotHoldStop) {
    CWsTestPeer peer;
    for (int round = 0; round < 300; ++round) {
        Recorder recorder;
        CWsEngine engine;
        engine.SetUrl(peer.Url());
        engine.SetOnMessageCallback(recorder.Callback());
        engine.Start();
        ASSERT_TRUE(recorder.WaitCount(kOpen, 1));
        ASSERT_TRUE(peer.WaitFor([&] { return peer.Connections() == size_t(round) + 1; }));
        ASSERT_TRUE(peer.SendText("late"));
        const auto started = Clock::now();
        engine.Stop(1000, "Normal closure");
        ASSERT_LT(Clock::now() - started, CWsEngine::kCloseTimeout / 2) << "round " << round;
        ASSERT_EQ(recorder.Count(kClose), 1u);
    }
}

}  // namespace
