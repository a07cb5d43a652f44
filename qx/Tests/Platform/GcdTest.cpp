#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Gcd.h"
#include "Platform/Halt.h"
#include "Support/ChildScenario.h"
#include "Support/Wait.h"

namespace {

using SUPPORT::WaitUntil;

void QuitInStartTaskSkipsMainLoopAndRunsExitTasksLast() {
    static std::vector<std::string> order;
    static std::atomic<bool> release{false};
    static std::atomic<bool> queuedDone{false};
    static std::atomic<bool> mainRan{false};
    _GCD::AtExit([] {
        CHILD_CHECK(queuedDone);  // workers were joined before the exit tasks
        order.push_back("before-run");
    });
    _GCD::Run(
        [] {
            _GCD::AtExit([] {
                order.push_back("from-start");
                _GCD::AtExit([] { order.push_back("from-exit-task"); });
            });
            _GCD::AtExit({});
            _GCD::Post([] { mainRan = true; }, _GCD::QUEUE_MAIN);
            _GCD::Post(
                [] {
                    CHILD_CHECK(WaitUntil([] { return release.load(); }));
                    queuedDone = true;
                },
                _GCD::QUEUE_SERIAL);
            _GCD::Quit();
            _GCD::Quit();
            release = true;
        },
        2);
    CHILD_CHECK(!mainRan);
    CHILD_CHECK((order == std::vector<std::string>{"before-run", "from-start", "from-exit-task"}));
}

TEST(GcdTest, QuitInStartTaskSkipsMainLoopAndRunsExitTasksLast) {
    EXPECT_CHILD_PASSES(QuitInStartTaskSkipsMainLoopAndRunsExitTasksLast);
}

void PostsAfterQuitAreRefusedButQueuedTasksStillRun() {
    static std::atomic<bool> go{false};
    static std::atomic<int> ran{0};
    static std::atomic<int> refusedRan{0};
    static std::atomic<uint32_t> idFromExitPhase{1};
    static std::weak_ptr<int> refusedCapture;
    _GCD::Run(
        [] {
            _GCD::Post([] { CHILD_CHECK(WaitUntil([] { return go.load(); })); },
                       _GCD::QUEUE_SERIAL);
            for (int i = 0; i < 100; ++i)
                _GCD::Post([] { ++ran; }, _GCD::QUEUE_SERIAL + i % 3);
            _GCD::Post([] { idFromExitPhase = _GCD::Post([] { ++refusedRan; }, _GCD::QUEUE_POOL); },
                       _GCD::QUEUE_SERIAL);
            _GCD::Quit();
            auto capture = std::make_shared<int>(7);
            refusedCapture = capture;
            for (int queue = _GCD::QUEUE_MAIN; queue <= _GCD::QUEUE_SPARE; ++queue) {
                CHILD_CHECK(_GCD::Post([capture] { ++refusedRan; }, queue) == 0);
            }
            CHILD_CHECK(capture.use_count() == 1);  // no copy kept
            go = true;
        },
        3);
    CHILD_CHECK(ran == 100);
    CHILD_CHECK(idFromExitPhase == 0);
    CHILD_CHECK(refusedRan == 0);
    CHILD_CHECK(refusedCapture.expired());
}

TEST(GcdTest, PostsAfterQuitAreRefusedButQueuedTasksStillRun) {
    EXPECT_CHILD_PASSES(PostsAfterQuitAreRefusedButQueuedTasksStillRun);
}

// Queue 0 is served only after the start task has returned, on the calling thread, in
// posting order, including tasks posted while the pass is running.
void MainQueueRunsAfterStartTaskInOrder() {
    static std::thread::id mainThread;
    static std::atomic<bool> startReturning{false};
    static std::vector<int> order;
    mainThread = std::this_thread::get_id();
    _GCD::Run(
        [] {
            _GCD::Post(
                [] {
                    CHILD_CHECK(startReturning);
                    CHILD_CHECK(std::this_thread::get_id() == mainThread);
                    order.push_back(1);
                    _GCD::Post([] { order.push_back(3); }, _GCD::QUEUE_MAIN);
                },
                _GCD::QUEUE_MAIN);
            _GCD::Post([] { order.push_back(2); }, _GCD::QUEUE_MAIN);
            // From a worker: the main loop is woken by a post from another thread.
            _GCD::Post(
                [] {
                    CHILD_CHECK(WaitUntil([] { return startReturning.load(); }));
                    _GCD::Post(
                        [] {
                            order.push_back(4);
                            _GCD::Quit();
                        },
                        _GCD::QUEUE_MAIN);
                },
                _GCD::QUEUE_POOL);
            startReturning = true;
        },
        2);
    CHILD_CHECK(order.size() >= 3);
    CHILD_CHECK(order[0] == 1 && order[1] == 2);
    CHILD_CHECK(order.back() == 4);
}

TEST(GcdTest, MainQueueRunsAfterStartTaskInOrder) {
    EXPECT_CHILD_PASSES(MainQueueRunsAfterStartTaskInOrder);
}

void QuitFromMainLoopLeavesLaterTasksUnrun() {
    static std::atomic<int> mainRuns{0};
    _GCD::Run(
        [] {
            _GCD::Post(
                [] {
                    ++mainRuns;
                    _GCD::Quit();
                    _GCD::Post([] { ++mainRuns; }, _GCD::QUEUE_MAIN);
                },
                _GCD::QUEUE_MAIN);
            _GCD::Post([] { ++mainRuns; }, _GCD::QUEUE_MAIN);
        },
        1);
    CHILD_CHECK(mainRuns == 1);
}

TEST(GcdTest, QuitFromMainLoopLeavesLaterTasksUnrun) {
    EXPECT_CHILD_PASSES(QuitFromMainLoopLeavesLaterTasksUnrun);
}

void SerialQueueKeepsPostingOrderUnderLoad() {
    constexpr int kPosters = 4;
    constexpr int kPerPoster = 5000;
    static std::vector<std::pair<int, int>> seen;
    static std::atomic<int> inFlight{0};
    static std::atomic<bool> overlapped{false};
    static std::mutex idsLock;
    static std::set<uint32_t> ids;
    _GCD::Run(
        [] {
            // The main queue takes no id: the ids below still start at 1.
            CHILD_CHECK(_GCD::Post([] {}, _GCD::QUEUE_MAIN) == 0);
            std::vector<std::thread> posters;
            for (int p = 0; p < kPosters; ++p) {
                posters.emplace_back([p] {
                    std::vector<uint32_t> mine;
                    for (int i = 0; i < kPerPoster; ++i) {
                        mine.push_back(_GCD::Post(
                            [p, i] {
                                if (++inFlight != 1)
                                    overlapped = true;
                                seen.emplace_back(p, i);
                                --inFlight;
                            },
                            _GCD::QUEUE_SERIAL));
                        // Traffic on the pools shares the id counter.
                        if (i % 10 == 0)
                            mine.push_back(_GCD::Post([] {}, _GCD::QUEUE_POOL + i % 2));
                    }
                    std::lock_guard<std::mutex> lock(idsLock);
                    ids.insert(mine.begin(), mine.end());
                });
            }
            for (auto& t : posters)
                t.join();
            _GCD::Quit();
        },
        4);
    CHILD_CHECK(!overlapped);
    CHILD_CHECK(seen.size() == size_t(kPosters) * kPerPoster);
    std::vector<int> next(kPosters, 0);
    for (const auto& [p, i] : seen) {
        CHILD_CHECK(i == next[p]);
        ++next[p];
    }
    const size_t posts = size_t(kPosters) * (kPerPoster + kPerPoster / 10);
    CHILD_CHECK(ids.size() == posts);
    CHILD_CHECK(*ids.begin() == 1 && *ids.rbegin() == posts);
}

TEST(GcdTest, SerialQueueKeepsPostingOrderUnderLoad) {
    EXPECT_CHILD_PASSES(SerialQueueKeepsPostingOrderUnderLoad);
}

// Every task waits until all have started: only concurrent workers can finish.
void PoolsRunTasksConcurrently() {
    constexpr int kWorkers = 4;
    static std::atomic<int> arrived[2];
    static std::atomic<int> finished{0};
    _GCD::Run(
        [] {
            for (int queue = _GCD::QUEUE_POOL; queue <= _GCD::QUEUE_SPARE; ++queue) {
                for (int i = 0; i < kWorkers; ++i) {
                    _GCD::Post(
                        [queue] {
                            ++arrived[queue - _GCD::QUEUE_POOL];
                            if (WaitUntil([queue] {
                                    return arrived[queue - _GCD::QUEUE_POOL] == kWorkers;
                                })) {
                                ++finished;
                            }
                        },
                        queue);
                }
            }
            CHILD_CHECK(WaitUntil([] { return finished == 2 * kWorkers; }));
            _GCD::Quit();
        },
        kWorkers);
}

TEST(GcdTest, PoolsRunTasksConcurrently) {
    EXPECT_CHILD_PASSES(PoolsRunTasksConcurrently);
}

// Ended by HALT: exit code 0 and "HALT" as the whole output, never by the body's own end.
void ExpectHalts(const std::function<void()>& misuse) {
    const SUPPORT::CHILD_RESULT result = SUPPORT::RunChild([&misuse] {
        misuse();
        return 3;
    });
    EXPECT_FALSE(result.m_Returned);
    EXPECT_EQ(result.m_ExitCode, 0);
    EXPECT_EQ(result.m_Out, "HALT\n") << result.m_Err;
}

TEST(GcdTest, PostToMissingQueueHalts) {
    ExpectHalts([] {
        _GCD::Run(
            [] {
                _GCD::Post([] {}, 4);
                std::_Exit(3);
            },
            1);
    });
    ExpectHalts([] { _GCD::Post([] {}, _GCD::QUEUE_SERIAL); });
}

// A HALT on a worker must not run into the dispatcher's own state at process exit (a
// queue joining the very thread that exits would abort instead of ending with 0).
TEST(GcdTest, HaltOnWorkerEndsWithZero) {
    ExpectHalts([] {
        _GCD::Run(
            [] {
                _GCD::Post([] { HALT(); }, _GCD::QUEUE_SERIAL);
                WaitUntil([] { return false; }, std::chrono::seconds(30));
                std::_Exit(3);
            },
            2);
    });
}

#ifdef _WIN32
// Queues 1 and 2 ask for round-robin at 50, which is refused: their workers stay at normal
// priority. Queue 3's ordinary policy at 1 is granted as above normal.
void WorkersRunAtTheirQueuesPriorities() {
    static std::atomic<int> priorities[4] = {99, 99, 99, 99};
    _GCD::Run(
        [] {
            for (int32_t queue = 1; queue <= 3; ++queue) {
                _GCD::Post([queue] { priorities[queue] = GetThreadPriority(GetCurrentThread()); },
                           queue);
            }
            _GCD::Quit();
        },
        2);
    CHILD_CHECK(priorities[_GCD::QUEUE_SERIAL] == THREAD_PRIORITY_NORMAL);
    CHILD_CHECK(priorities[_GCD::QUEUE_POOL] == THREAD_PRIORITY_NORMAL);
    CHILD_CHECK(priorities[_GCD::QUEUE_SPARE] == THREAD_PRIORITY_ABOVE_NORMAL);
}

TEST(GcdTest, WorkersRunAtTheirQueuesPriorities) {
    EXPECT_CHILD_PASSES(WorkersRunAtTheirQueuesPriorities);
}
#endif

}  // namespace
