#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Platform/CUuid.h"
#include "Support/ChildScenario.h"

namespace {

TEST(CUuidTest, BytesPrintInStoredOrderWithoutVersionBits) {
    _OS::CUuid id(false);
    EXPECT_EQ(id.ToString(), "00000000-0000-0000-0000-000000000000");
    for (int i = 0; i < 16; ++i)
        id.m_Bytes[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(id.ToString(), "00010203-0405-0607-0809-0a0b0c0d0e0f");
    for (int i = 0; i < 16; ++i)
        id.m_Bytes[i] = static_cast<uint8_t>(0xF0 + i);
    EXPECT_EQ(id.ToString(), "f0f1f2f3-f4f5-f6f7-f8f9-fafbfcfdfeff");
}

TEST(CUuidTest, DrawsDifferOnOneThreadAndAcrossThreads) {
    constexpr int kThreads = 8;
    constexpr int kEach = 500;
    std::vector<std::vector<std::string>> drawn(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&drawn, t] {
            for (int i = 0; i < kEach; ++i)
                drawn[t].push_back(_OS::CUuid(true).ToString());
        });
    }
    for (auto& th : threads)
        th.join();
    std::set<std::string> all;
    for (const auto& list : drawn)
        all.insert(list.begin(), list.end());
    EXPECT_EQ(all.size(), size_t(kThreads) * kEach);
}

// Two fresh runs of this program (not forks, which would share the seeded state) print
// different first identifiers.
TEST(CUuidTest, FirstIdentifierDiffersBetweenRuns) {
    std::set<std::string> firsts;
    for (int run = 0; run < 2; ++run) {
        const SUPPORT::CHILD_RESULT child = SUPPORT::RunChild([] {
            std::fputs(_OS::CUuid(true).ToString().c_str(), stdout);
            return 0;
        });
        EXPECT_EQ(child.m_ExitCode, 0);
        EXPECT_EQ(child.m_Out.size(), 36u);
        firsts.insert(child.m_Out);
    }
    EXPECT_EQ(firsts.size(), 2u);
}

}  // namespace
