#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "Platform/Gcd.h"

// _GCD::Post against boost::asio::thread_pool with the same tasks (one std::function each).
// The dispatcher runs once per process, so the benchmarks run on a thread of their own while
// the main thread serves queue 0.
namespace {

constexpr uint32_t kPoolThreads = 4;  // workers of queue 2 and of the asio pool
constexpr int kBatch = 10000;         // tasks each posting thread posts per iteration

using Clock = std::chrono::steady_clock;

void WaitUntil(const std::atomic<int64_t>& counter, int64_t target) {
    while (counter.load(std::memory_order_acquire) < target)
        std::this_thread::yield();
}

// Each posting thread posts its batch and waits until all of it has run.
template <typename PostFn>
void Throughput(benchmark::State& state, PostFn post) {
    std::atomic<int64_t> done{0};
    const _GCD::Task task = [&done] { done.fetch_add(1, std::memory_order_release); };
    int64_t posted = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            post(task);
        posted += kBatch;
        WaitUntil(done, posted);
    }
    state.SetItemsProcessed(posted);
}

// One task at a time: the time from the post to the start of the task.
template <typename PostFn>
void Latency(benchmark::State& state, PostFn post) {
    std::vector<double> samples;
    samples.reserve(1 << 20);
    std::atomic<int64_t> started{0};
    Clock::time_point postedAt;
    Clock::time_point runAt;
    const _GCD::Task task = [&] {
        runAt = Clock::now();
        started.fetch_add(1, std::memory_order_release);
    };
    int64_t posted = 0;
    for (auto _ : state) {
        postedAt = Clock::now();
        post(task);
        WaitUntil(started, ++posted);
        samples.push_back(std::chrono::duration<double, std::micro>(runAt - postedAt).count());
    }
    std::sort(samples.begin(), samples.end());
    if (!samples.empty()) {
        state.counters["p50_us"] = samples[samples.size() / 2];
        state.counters["p99_us"] = samples[samples.size() * 99 / 100];
    }
}

boost::asio::thread_pool& AsioPool(uint32_t threads) {
    static boost::asio::thread_pool one(1);
    static boost::asio::thread_pool many(kPoolThreads);
    return threads == 1 ? one : many;
}

void GcdThroughput(benchmark::State& state) {
    const auto queue = static_cast<int32_t>(state.range(0));
    Throughput(state, [queue](const _GCD::Task& t) { _GCD::Post(t, queue); });
}

// The asio peer of queue 1 has one thread, that of queue 2 as many as queue 2.
void AsioThroughput(benchmark::State& state) {
    boost::asio::thread_pool& pool = AsioPool(state.range(0) == 1 ? 1 : kPoolThreads);
    Throughput(state, [&pool](const _GCD::Task& t) { boost::asio::post(pool, t); });
}

void GcdLatency(benchmark::State& state) {
    const auto queue = static_cast<int32_t>(state.range(0));
    Latency(state, [queue](const _GCD::Task& t) { _GCD::Post(t, queue); });
}

void AsioLatency(benchmark::State& state) {
    boost::asio::thread_pool& pool = AsioPool(state.range(0) == 1 ? 1 : kPoolThreads);
    Latency(state, [&pool](const _GCD::Task& t) { boost::asio::post(pool, t); });
}

void Queues(benchmark::internal::Benchmark* b) {
    b->ArgName("queue")->Arg(1)->Arg(2)->Threads(1)->Threads(4)->Threads(8)->UseRealTime();
}

BENCHMARK(GcdThroughput)->Apply(Queues);
BENCHMARK(AsioThroughput)->Apply(Queues);
BENCHMARK(GcdLatency)->Apply(Queues);
BENCHMARK(AsioLatency)->Apply(Queues);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::thread runner;
    _GCD::Run(
        [&runner] {
            runner = std::thread([] {
                benchmark::RunSpecifiedBenchmarks();
                benchmark::Shutdown();
                _GCD::Quit();
            });
        },
        kPoolThreads);
    runner.join();
    return 0;
}
