#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "MesSimulator/CFaultPlan.h"
#include "MesSimulator/CLoadFeed.h"
#include "MesSimulator/CLoadStats.h"
#include "MesSimulator/CMesSimulator.h"
#include "MesSimulator/CStallClock.h"
#include "MesSimulator/SimOptions.h"
#include "Support/TempDir.h"

using MES_SIM::CFaultPlan;
using MES_SIM::CLoadStats;
using nlohmann::json;
using std::chrono::milliseconds;
namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;

namespace {

// A gateway's end of one connection; each step gives up after a few seconds.
struct GATEWAY {
    bool Connect(uint16_t port) {
        const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"),
                                                      port);
        beast::get_lowest_layer(m_Ws).expires_after(std::chrono::seconds(5));
        beast::get_lowest_layer(m_Ws).async_connect(endpoint, [this](beast::error_code ec) {
            if (!ec)
                m_Ws.async_handshake("127.0.0.1", "/", [this](beast::error_code e) { m_Ec = e; });
            m_Ec = ec;
        });
        return Run();
    }
    bool Call(const json& call) {
        m_Text = call.dump();
        beast::get_lowest_layer(m_Ws).expires_after(std::chrono::seconds(5));
        m_Ws.async_write(boost::asio::buffer(m_Text),
                         [this](beast::error_code ec, size_t) { m_Ec = ec; });
        return Run();
    }
    // The next frame; null when none comes in time.
    json Next() {
        beast::flat_buffer buffer;
        beast::get_lowest_layer(m_Ws).expires_after(std::chrono::seconds(5));
        m_Ws.async_read(buffer, [this](beast::error_code ec, size_t) { m_Ec = ec; });
        if (!Run())
            return nullptr;
        return json::parse(beast::buffers_to_string(buffer.data()), nullptr, false);
    }
    // The data of the next job; null when none comes in time.
    json NextJobData() {
        for (json frame = Next(); frame.is_object(); frame = Next()) {
            if (frame.value("_TYPE", "") == "Print")
                return frame["_DATA"];
        }
        return nullptr;
    }
    // The printer name of the next job; empty when none comes in time.
    std::string NextJob() {
        const json data = NextJobData();
        return data.is_object() ? data.value("PrinterName", "") : "";
    }
    // True when the peer ends the connection in time; frames before the end are skipped.
    bool Ended() {
        while (!Next().is_null()) {
        }
        return m_Ec != beast::error::timeout;
    }
    bool Close() {
        beast::get_lowest_layer(m_Ws).expires_after(std::chrono::seconds(5));
        m_Ws.async_close(websocket::close_code::normal,
                         [this](beast::error_code ec) { m_Ec = ec; });
        return Run();
    }

private:
    bool Run() {
        m_Io.restart();
        m_Io.run();
        return !m_Ec;
    }

    boost::asio::io_context m_Io;
    websocket::stream<beast::tcp_stream> m_Ws{m_Io};
    beast::error_code m_Ec;
    std::string m_Text;
};

bool Parse(std::vector<std::string> args, MES_SIM::OPTIONS& options) {
    args.insert(args.begin(), "MesSimulator");
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    std::string error;
    return MES_SIM::ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

struct FEED_RUN {
    explicit FEED_RUN(int64_t load) {
        options.m_Port = 0;
        options.m_Load = load;
        options.m_Window = 2;
        options.m_JobFiles = {(dir.m_Path / "job.json").string()};
        std::ofstream(options.m_JobFiles[0]) << json({{"FormatFilename", "F.btw"}}).dump();
    }
    bool Start() {
        simulator = std::make_unique<MES_SIM::CMesSimulator>(io, options);
        std::string error;
        if (!simulator->Start(error))
            return false;
        thread = std::thread([this] { io.run(); });
        return true;
    }
    void Command(const std::string& line) {
        boost::asio::post(io, [this, line] { simulator->Command(line); });
    }
    ~FEED_RUN() {
        if (!thread.joinable())
            return;
        boost::asio::post(io, [this] { simulator->Stop(); });
        thread.join();
    }

    SUPPORT::TEMP_DIR dir;
    MES_SIM::OPTIONS options;
    boost::asio::io_context io;
    std::unique_ptr<MES_SIM::CMesSimulator> simulator;
    std::thread thread;
};

bool Register(GATEWAY& gateway, uint16_t port) {
    return gateway.Connect(port) &&
           gateway.Call({{"_CMD", "Register"}, {"_ID", "r"}, {"absPath", "F.btw"}});
}

bool Answer(GATEWAY& gateway, const std::string& printer) {
    return gateway.Call({{"_CMD", "Print"}, {"_ID", printer}, {"Job", {{"PrinterName", printer}}}});
}

}  // namespace

TEST(LoadStats, MatchesEachAnswerOnceAndCountsTheRest) {
    CLoadStats stats;
    const auto t0 = CLoadStats::Clock::now();
    EXPECT_EQ(stats.Send(t0), 1);
    EXPECT_EQ(stats.Send(t0), 2);
    EXPECT_EQ(stats.Send(t0), 3);
    EXPECT_EQ(stats.Answer(2, t0 + milliseconds(4)), CLoadStats::ANSWER_FIRST);
    EXPECT_EQ(stats.Answer(2, t0 + milliseconds(5)), CLoadStats::ANSWER_DUPLICATE);
    EXPECT_EQ(stats.Answer(0, t0), CLoadStats::ANSWER_UNKNOWN);
    EXPECT_EQ(stats.Answer(4, t0), CLoadStats::ANSWER_UNKNOWN);
    EXPECT_EQ(stats.Outstanding(), 2);
    EXPECT_EQ(stats.Answer(1, t0 + milliseconds(10)), CLoadStats::ANSWER_FIRST);

    const CLoadStats::SUMMARY summary = stats.Summary();
    EXPECT_EQ(summary.m_Sent, 3);
    EXPECT_EQ(summary.m_Answered, 2);
    EXPECT_EQ(summary.m_Duplicates, 1);
    EXPECT_EQ(summary.m_Unknown, 2);
    EXPECT_DOUBLE_EQ(summary.m_P50, 4.0);
    EXPECT_DOUBLE_EQ(summary.m_Max, 10.0);
    EXPECT_DOUBLE_EQ(summary.m_Seconds, 0.010);
    EXPECT_DOUBLE_EQ(summary.m_JobsPerSecond, 200.0);
}

TEST(LoadStats, PercentilesAreNearestRank) {
    CLoadStats stats;
    const auto t0 = CLoadStats::Clock::now();
    for (int i = 1; i <= 200; ++i)
        stats.Send(t0);
    // Latencies 1..200 ms, answered out of order.
    for (int i = 200; i >= 1; --i)
        stats.Answer(i, t0 + milliseconds(i));
    const auto summary = stats.Summary();
    EXPECT_DOUBLE_EQ(summary.m_P50, 100.0);
    EXPECT_DOUBLE_EQ(summary.m_P99, 198.0);
    EXPECT_DOUBLE_EQ(summary.m_Max, 200.0);
    EXPECT_EQ(CLoadStats().Summary().m_P99, 0.0);
}

TEST(LoadStats, ReadsTheNumberBackFromThePrinterName) {
    EXPECT_EQ(CLoadStats::NumberOf(CLoadStats::PrinterName("Load", 4711)), 4711);
    EXPECT_EQ(CLoadStats::NumberOf("Zebra #2 #17"), 17);
    EXPECT_EQ(CLoadStats::NumberOf("Zebra-01"), 0);
    EXPECT_EQ(CLoadStats::NumberOf("Load #"), 0);
    EXPECT_EQ(CLoadStats::NumberOf("Load #12a"), 0);
    EXPECT_EQ(CLoadStats::NumberOf("Load #-3"), 0);
    EXPECT_EQ(CLoadStats::NumberOf("Load #99999999999999999999999"), 0);
}

TEST(FaultPlan, SameSeedSameFaults) {
    CFaultPlan a(42, milliseconds(5000));
    CFaultPlan b(42, milliseconds(5000));
    CFaultPlan c(43, milliseconds(5000));
    bool differs = false;
    std::set<int> kinds;
    double total = 0;
    const int n = 3000;
    for (int i = 0; i < n; ++i) {
        const auto fa = a.Next();
        const auto fb = b.Next();
        const auto fc = c.Next();
        ASSERT_EQ(fa.m_Kind, fb.m_Kind);
        ASSERT_EQ(fa.m_Delay, fb.m_Delay);
        differs = differs || fa.m_Kind != fc.m_Kind || fa.m_Delay != fc.m_Delay;
        ASSERT_EQ(fa.m_Count, fb.m_Count);
        EXPECT_GE(fa.m_Delay, milliseconds(500));
        if (fa.m_Kind == CFaultPlan::KIND_BURST) {
            EXPECT_GE(fa.m_Count, 3);
            EXPECT_LE(fa.m_Count, 5);
        }
        kinds.insert(fa.m_Kind);
        total += static_cast<double>(fa.m_Delay.count());
    }
    EXPECT_TRUE(differs);
    EXPECT_EQ(kinds.size(), static_cast<size_t>(CFaultPlan::kKinds));
    // Exponential around the mean, raised at the floor: about 5.2 s on average.
    EXPECT_NEAR(total / n, 5200.0, 400.0);
}

TEST(SimOptions, FeedAndSoakNeedWhatTheyCopy) {
    MES_SIM::OPTIONS options;
    EXPECT_TRUE(Parse({"--job", "j.json", "--load", "10000", "--window", "4", "--rate", "100",
                       "--soak", "120", "--seed", "7", "--fault-every", "3000", "--flood", "20000"},
                      options));
    EXPECT_EQ(options.m_Load, 10000);
    EXPECT_EQ(options.m_Window, 4);
    EXPECT_DOUBLE_EQ(options.m_Rate, 100.0);
    EXPECT_EQ(options.m_SoakSeconds, 120);
    EXPECT_EQ(options.m_Seed, 7u);
    EXPECT_EQ(options.m_FaultEveryMs, 3000);
    EXPECT_EQ(options.m_FloodJobs, 20000);

    const auto refused = [](std::vector<std::string> args) {
        MES_SIM::OPTIONS fresh;
        return !Parse(std::move(args), fresh);
    };
    EXPECT_TRUE(refused({"--load", "10"}));
    EXPECT_TRUE(refused({"--job", "j.json", "--soak", "10"}));
    EXPECT_TRUE(refused({"--job", "j.json", "--load", "10", "--window", "0"}));
    EXPECT_TRUE(refused({"--rate", "-1"}));
    EXPECT_TRUE(refused({"--load", "1e3"}));
    EXPECT_TRUE(refused({"--window", "99999999999"}));
}

// The cases the stall clock's test does not reach: just below the limit, and a connected gateway
// that has not registered.
TEST(LoadFeed, NoProgressStopsSayingWhatTheFeedWaitsFor) {
    using MES_SIM::CLoadFeed;
    using std::chrono::seconds;
    EXPECT_EQ(CLoadFeed::Stalled(seconds(59), seconds(60), false, false, 0, "F.btw"), "");
    EXPECT_EQ(CLoadFeed::Stalled(seconds(61), seconds(60), true, false, 0, "F.btw"),
              "load: no progress for 60 s, waiting for the registration of F.btw");
}

// Time without a current connection is ours (a mute lasts until the gateway's ping timeout, a
// burst through the gateway's waits): five mutes in a row owe nothing, while a gateway that
// connects and never answers, or never connects, is stopped as before.
TEST(LoadFeed, StallClockOwesOnlyTimeWithACurrentConnection) {
    using MES_SIM::CLoadFeed;
    using MES_SIM::CStallClock;
    using std::chrono::seconds;
    const seconds limit(60);
    const auto t0 = CStallClock::Clock::now();
    CStallClock clock(t0);
    auto t = t0;
    for (int mute = 0; mute < 5; ++mute) {
        clock.SetCurrent(t, true);
        t += seconds(1);
        clock.SetCurrent(t, false);
        t += seconds(14);
    }
    EXPECT_EQ(CLoadFeed::Stalled(clock.Idle(t), limit, false, false, 0, "F.btw"), "");

    // Connected time adds up over connections until an answer: 5 s above, 55 s here.
    clock.SetCurrent(t, true);
    t += seconds(55);
    EXPECT_EQ(CLoadFeed::Stalled(clock.Idle(t), limit, true, true, 2, "F.btw"),
              "load: no progress for 60 s, waiting for the answers to 2 jobs");
    clock.Progress(t);
    EXPECT_EQ(clock.Idle(t), CStallClock::Clock::duration(0));

    // A burst against a gateway that waits 10 s between attempts: each attempt shows it alive.
    clock.SetCurrent(t, false);
    for (int attempt = 0; attempt < 6; ++attempt) {
        t += seconds(10);
        clock.Attempted(t);
    }
    EXPECT_EQ(clock.Idle(t + seconds(10)), seconds(10));

    const CStallClock never(t0);
    EXPECT_EQ(CLoadFeed::Stalled(never.Idle(t0 + limit), limit, false, false, 0, "F.btw"),
              "load: no progress for 60 s, waiting for a gateway to connect");
}

// A stale connection that closes after the gateway registered on its new one: the feed goes on
// over the new one.
TEST(LoadFeed, OlderConnectionClosingLeavesTheNewerFed) {
    FEED_RUN run(4);
    run.options.m_Window = 1;
    ASSERT_TRUE(run.Start());
    GATEWAY older;
    GATEWAY newer;
    // The older connection is open once its call is answered.
    EXPECT_TRUE(older.Connect(run.simulator->Port()));
    EXPECT_TRUE(older.Call({{"_CMD", "_INITIALIZE"}, {"_ID", "i"}}));
    EXPECT_TRUE(older.Next().is_object());
    EXPECT_TRUE(Register(newer, run.simulator->Port()));
    std::string job = newer.NextJob();
    EXPECT_EQ(job, "Load #1");
    EXPECT_TRUE(older.Close());
    for (int number = 2; number <= 4 && !job.empty(); ++number) {
        EXPECT_TRUE(Answer(newer, job));
        job = newer.NextJob();
        EXPECT_EQ(job, "Load #" + std::to_string(number));
    }
    // The last answer ends the run, and the simulator closes the connection.
    EXPECT_TRUE(Answer(newer, job));
    EXPECT_EQ(newer.NextJob(), "");
    EXPECT_FALSE(run.simulator->Failed());
}

// A deaf connection reads nothing, not even an answer already under way: the jobs in flight
// there go out again, once, on the gateway's next connection; the flood does not.
TEST(LoadFeed, DeafConnectionsJobsGoOutAgainOnTheNext) {
    FEED_RUN run(3);
    run.options.m_FloodJobs = 2;
    ASSERT_TRUE(run.Start());
    GATEWAY deaf;
    GATEWAY next;
    EXPECT_TRUE(Register(deaf, run.simulator->Port()));
    EXPECT_EQ(deaf.NextJob(), "Load #1");
    EXPECT_EQ(deaf.NextJob(), "Load #2");
    run.Command("fault deaf");
    EXPECT_EQ(deaf.NextJob(), "Flood #1");
    EXPECT_EQ(deaf.NextJob(), "Flood #2");
    EXPECT_TRUE(Answer(deaf, "Load #1"));

    EXPECT_TRUE(Register(next, run.simulator->Port()));
    EXPECT_EQ(next.NextJob(), "Load #1");
    EXPECT_EQ(next.NextJob(), "Load #2");
    EXPECT_TRUE(Answer(next, "Load #1"));
    EXPECT_EQ(next.NextJob(), "Load #3");
    EXPECT_TRUE(Answer(next, "Load #2"));
    EXPECT_TRUE(Answer(next, "Load #3"));
    // All answered: the run ends and closes the connection.
    EXPECT_EQ(next.NextJob(), "");
    EXPECT_FALSE(run.simulator->Failed());
}

// A burst waits for the job in flight, drops its connection, then completes the handshake of
// each of the next three and drops it at once; the fourth is fed.
TEST(LoadFeed, BurstDropsTheNextConnectionsRightAfterTheirHandshake) {
    FEED_RUN run(2);
    run.options.m_Window = 1;
    ASSERT_TRUE(run.Start());
    GATEWAY first;
    EXPECT_TRUE(Register(first, run.simulator->Port()));
    EXPECT_EQ(first.NextJob(), "Load #1");
    run.Command("fault burst");
    EXPECT_TRUE(Answer(first, "Load #1"));
    EXPECT_TRUE(first.Ended());
    for (int dropped = 0; dropped < 3; ++dropped) {
        GATEWAY gateway;
        EXPECT_TRUE(gateway.Connect(run.simulator->Port()));
        EXPECT_TRUE(gateway.Ended()) << dropped;
    }
    GATEWAY kept;
    EXPECT_TRUE(Register(kept, run.simulator->Port()));
    EXPECT_EQ(kept.NextJob(), "Load #2");
    EXPECT_TRUE(Answer(kept, "Load #2"));
    EXPECT_EQ(kept.NextJob(), "");
    EXPECT_FALSE(run.simulator->Failed());
}

// An empty fault sends its count of empty frames between live jobs and leaves the feed going.
TEST(LoadFeed, EmptyFaultSendsItsCountOfEmptyFramesAndTheFeedGoesOn) {
    FEED_RUN run(2);
    run.options.m_Window = 1;
    run.options.m_EmptyFrames = 5;
    ASSERT_TRUE(run.Start());
    GATEWAY gateway;
    EXPECT_TRUE(Register(gateway, run.simulator->Port()));
    EXPECT_EQ(gateway.NextJob(), "Load #1");
    run.Command("fault empty");
    for (int frame = 0; frame < 5; ++frame)
        EXPECT_TRUE(gateway.Next().is_discarded()) << frame;
    EXPECT_TRUE(Answer(gateway, "Load #1"));
    EXPECT_EQ(gateway.NextJob(), "Load #2");
}

// A dense fault sends three jobs of its own, each with its count of empty strings under an extra
// key; they do not count as the feed's.
TEST(LoadFeed, DenseFaultSendsThreeJobsFullOfEmptyStrings) {
    FEED_RUN run(1);
    run.options.m_DenseValues = 4;
    ASSERT_TRUE(run.Start());
    GATEWAY gateway;
    EXPECT_TRUE(Register(gateway, run.simulator->Port()));
    EXPECT_EQ(gateway.NextJob(), "Load #1");
    run.Command("fault dense");
    for (int n = 1; n <= 3; ++n) {
        const json job = gateway.NextJobData();
        ASSERT_TRUE(job.is_object()) << n;
        EXPECT_EQ(job.value("PrinterName", ""), "Dense #" + std::to_string(n));
        EXPECT_EQ(job["Extra"], json::array({"", "", "", ""}));
        EXPECT_TRUE(Answer(gateway, "Dense #" + std::to_string(n)));
    }
    EXPECT_TRUE(Answer(gateway, "Load #1"));
    // The feed's one job is answered: the run ends.
    EXPECT_EQ(gateway.NextJob(), "");
    EXPECT_FALSE(run.simulator->Failed());
}

// A resend fault sends a new job just before it drops the connection, and the same job again on
// the next one; an answer to each copy is caught as a duplicate.
TEST(LoadFeed, ResendFaultSendsTheJobAgainAndCatchesASecondAnswer) {
    FEED_RUN run(3);
    run.options.m_Window = 1;
    run.options.m_ResendValues = 2;
    run.options.m_FrameLog = (run.dir.m_Path / "frames.log").string();
    ASSERT_TRUE(run.Start());
    GATEWAY first;
    EXPECT_TRUE(Register(first, run.simulator->Port()));
    EXPECT_EQ(first.NextJob(), "Load #1");
    run.Command("fault resend");
    EXPECT_TRUE(Answer(first, "Load #1"));
    const json last = first.NextJobData();
    ASSERT_TRUE(last.is_object());
    EXPECT_EQ(last.value("PrinterName", ""), "Load #2");
    EXPECT_EQ(last["Extra"].size(), 2u);
    EXPECT_TRUE(first.Ended());

    GATEWAY next;
    EXPECT_TRUE(Register(next, run.simulator->Port()));
    const json again = next.NextJobData();
    ASSERT_TRUE(again.is_object());
    EXPECT_EQ(again.value("PrinterName", ""), "Load #2");
    EXPECT_FALSE(again.contains("Extra"));
    EXPECT_TRUE(Answer(next, "Load #2"));
    EXPECT_TRUE(Answer(next, "Load #2"));
    EXPECT_EQ(next.NextJob(), "Load #3");
    EXPECT_TRUE(Answer(next, "Load #3"));
    EXPECT_EQ(next.NextJob(), "");
    std::stringstream log;
    log << std::ifstream(run.options.m_FrameLog).rdbuf();
    EXPECT_NE(log.str().find("load: job 2 answered again"), std::string::npos);
    EXPECT_NE(log.str().find("sent 3 answered 3 duplicates 1 unknown 0 resent 1"),
              std::string::npos);
}
