// The simulator's job accounting, fault plan and feed options.
#include <gtest/gtest.h>

#include <set>

#include "MesSimulator/CFaultPlan.h"
#include "MesSimulator/CLoadStats.h"
#include "MesSimulator/SimOptions.h"

using MES_SIM::CFaultPlan;
using MES_SIM::CLoadStats;
using std::chrono::milliseconds;

namespace {

bool Parse(std::vector<std::string> args, MES_SIM::OPTIONS& options) {
    args.insert(args.begin(), "MesSimulator");
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    std::string error;
    return MES_SIM::ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error);
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
        EXPECT_GE(fa.m_Delay, milliseconds(500));
        kinds.insert(fa.m_Kind);
        total += static_cast<double>(fa.m_Delay.count());
    }
    EXPECT_TRUE(differs);
    EXPECT_EQ(kinds.size(), 3u);
    // Exponential around the mean, raised at the floor: about 5.2 s on average.
    EXPECT_NEAR(total / n, 5200.0, 400.0);
}

TEST(SimOptions, FeedAndSoakNeedWhatTheyCopy) {
    MES_SIM::OPTIONS options;
    EXPECT_TRUE(Parse({"--job", "j.json", "--load", "10000", "--window", "4", "--rate", "100",
                       "--soak", "120", "--seed", "7", "--fault-every", "3000"},
                      options));
    EXPECT_EQ(options.m_Load, 10000);
    EXPECT_EQ(options.m_Window, 4);
    EXPECT_DOUBLE_EQ(options.m_Rate, 100.0);
    EXPECT_EQ(options.m_SoakSeconds, 120);
    EXPECT_EQ(options.m_Seed, 7u);
    EXPECT_EQ(options.m_FaultEveryMs, 3000);

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
