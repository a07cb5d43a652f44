#include <benchmark/benchmark.h>

#include <atomic>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "Net/Code_JsonRpcClient.h"
#include "Net/Envelope.h"

// Cost of one incoming frame on the socket's queue: parse, envelope checks and the hand-over
// of a "Print" notification to queue 2 (its handler only counts).
namespace {

namespace ENVELOPE = _NET::ENVELOPE;

std::string PrintFrame() {
    nlohmann::json data = {{"Type", "Label"},
                           {"PrinterName", "ZDesigner ZT410"},
                           {"FormatName", "Label 100x50"},
                           {"FormatFilename", "Label_100x50.btw"},
                           {"WidthInMm", 100},
                           {"HeightInMm", 50},
                           {"isLandscape", false},
                           {"Dpi", 203}};
    data["Data"] = {{"PartNo", "A-1234"},
                    {"Description", "Sample part"},
                    {"Lot", "L42"},
                    {"Quantity", "10"},
                    {"Date", "2024-05-01"}};
    return nlohmann::json({{ENVELOPE::KEY_MAGIC, ENVELOPE::NOTIFICATION_MAGIC},
                           {ENVELOPE::KEY_TYPE, "Print"},
                           {ENVELOPE::KEY_DATA, data}})
        .dump();
}

void FrameParseAndDispatch(benchmark::State& state) {
    std::atomic<int64_t> handled{0};
    _OBJ<_NET::IJsonRpcClient> client = _NET::Code_JsonRpcClient::Create("ws://127.0.0.1:9/");
    client->RegisterHandler("Print",
                            [&handled](_OBJ<_NET::IJsonRpcClient>, nlohmann::json, uint64_t) {
                                handled.fetch_add(1, std::memory_order_release);
                            });
    auto* code = static_cast<_NET::Code_JsonRpcClient*>(client.get());
    const std::string frame = PrintFrame();
    int64_t sent = 0;
    for (auto _ : state) {
        code->EventProc_Network_Msg(_OBJ<_NET::IWebSocket>(), frame, _NET::IWebSocket::OPCODE_TEXT);
        ++sent;
    }
    while (handled.load(std::memory_order_acquire) < sent)
        std::this_thread::yield();
    state.SetItemsProcessed(sent);
    state.SetBytesProcessed(sent * static_cast<int64_t>(frame.size()));
}

void FrameParseOnly(benchmark::State& state) {
    const std::string frame = PrintFrame();
    for (auto _ : state)
        benchmark::DoNotOptimize(nlohmann::json::parse(frame));
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(FrameParseAndDispatch)->UseRealTime();
BENCHMARK(FrameParseOnly);

}  // namespace
