#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "Platform/Code_TaskQueue.h"
#include "Support/Threads.h"
#include "Support/Wait.h"

namespace {

using _GCD::Code_TaskQueue;
using SUPPORT::WaitUntil;

// Queued tasks run before destruction returns, also when the workers had not yet started.
TEST(TaskQueueTest, DestructionRunsEverythingQueued) {
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> ran{0};
        auto queue = Code_TaskQueue::Create(4, 4, 1);
        for (uint32_t id = 1; id <= 200; ++id)
            queue->Post([&ran] { ++ran; }, id);
        queue.reset();
        ASSERT_EQ(ran, 200);
    }
}

TEST(TaskQueueTest, SingleWorkerRunsBackToBackPostsInOrder) {
    auto queue = Code_TaskQueue::Create(1, 0, 50);
    std::vector<int> order;
    std::atomic<int> done{0};
    // The second post often lands while the worker is about to go idle after the first.
    for (int round = 0; round < 2000; ++round) {
        queue->Post([&order, round] { order.push_back(2 * round); }, 1);
        queue->Post(
            [&order, &done, round] {
                order.push_back(2 * round + 1);
                ++done;
            },
            2);
        ASSERT_TRUE(WaitUntil([&done, round] { return done == round + 1; }));
    }
    for (int i = 0; i < int(order.size()); ++i)
        ASSERT_EQ(order[i], i);
}

TEST(TaskQueueTest, IdZeroIsNeverRun) {
    std::atomic<int> ran{0};
    auto capture = std::make_shared<int>(0);
    {
        auto queue = Code_TaskQueue::Create(2, 0, 50);
        queue->Post([&ran, capture] { ran += 100; }, 0);
        queue->Post([&ran] { ++ran; }, 7);
    }
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(capture.use_count(), 1);
}

TEST(TaskQueueTest, PostAfterDrainIsDestroyedUnrun) {
    auto queue = Code_TaskQueue::Create(2, 0, 50);
    std::atomic<int> ran{0};
    for (uint32_t id = 1; id <= 50; ++id)
        queue->Post([&ran] { ++ran; }, id);
    queue->Drain();
    auto capture = std::make_shared<int>(0);
    queue->Post([&ran, capture] { ran += 1000; }, 51);
    EXPECT_EQ(capture.use_count(), 1);
    queue.reset();
    EXPECT_EQ(ran, 50);
}

// A thousand workers asked for, 64 made: 64 tasks run at once, each waiting until all have
// started, and releasing the queue ends exactly 64 threads.
TEST(TaskQueueTest, WorkerCountIsCappedAtSixtyFour) {
    constexpr int kCap = 64;
    std::atomic<int> arrived{0};
    std::atomic<bool> release{false};
    auto queue = Code_TaskQueue::Create(1000, 4, 1);
    for (uint32_t id = 1; id <= kCap + 1; ++id) {
        queue->Post(
            [&] {
                ++arrived;
                WaitUntil([&] { return release.load(); });
            },
            id);
    }
    EXPECT_TRUE(WaitUntil([&] { return arrived == kCap; }));
    const size_t running = SUPPORT::ThreadCount();
    release = true;
    queue.reset();
    EXPECT_EQ(arrived, kCap + 1);
    EXPECT_TRUE(SUPPORT::WaitThreadCount(running - kCap));
}

TEST(TaskQueueTest, NoWorkersAcceptsTasksAndNeverRunsThem) {
    std::atomic<int> ran{0};
    auto capture = std::make_shared<int>(0);
    {
        auto queue = Code_TaskQueue::Create(0, 0, 50);
        queue->Post([&ran, capture] { ++ran; }, 1);
        EXPECT_EQ(capture.use_count(), 2);
    }
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(capture.use_count(), 1);
}

// Round-robin at 50 is refused without privilege, FIFO at 200 is out of range, the
// ordinary policy at 1 is invalid: each worker still serves its queue.
TEST(TaskQueueTest, RefusedSchedulingLeavesWorkersServing) {
    const uint32_t requests[][2] = {{0, 50}, {1, 200}, {4, 1}};
    for (const auto& request : requests) {
        std::atomic<int> ran{0};
        auto queue = Code_TaskQueue::Create(2, request[0], request[1]);
        for (uint32_t id = 1; id <= 10; ++id)
            queue->Post([&ran] { ++ran; }, id);
        EXPECT_TRUE(WaitUntil([&ran] { return ran == 10; }));
    }
}

}  // namespace
