#include <benchmark/benchmark.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "Net/Code_JsonRpcClient.h"
#include "Net/Envelope.h"
#include "Platform/CUuid.h"
#include "Platform/Gcd.h"
#include "Support/WsTestPeer.h"

// JSON-RPC round trips over loopback: the test peer answers every call with its "_ID" and
// "_OK": true. The client's calls, reply parsing and reply callbacks (on queue 2) against a
// plain Beast WebSocket client that does the same JSON work on one thread with no dispatcher.
namespace {

using nlohmann::json;
namespace ENVELOPE = _NET::ENVELOPE;

constexpr int64_t kRoundTrips = 2000;  // per benchmark iteration

std::string Answer(const std::string& text) {
    const json call = json::parse(text, nullptr, false);
    if (!call.is_object() || !call.contains(ENVELOPE::KEY_ID))
        return {};
    return json({{ENVELOPE::KEY_ID, call[ENVELOPE::KEY_ID]}, {ENVELOPE::KEY_OK, true}}).dump();
}

SUPPORT::CWsTestPeer& Peer() {
    static SUPPORT::CWsTestPeer* peer = [] {
        auto* p = new SUPPORT::CWsTestPeer;
        p->SetResponder(Answer);
        return p;
    }();
    return *peer;
}

json Params() {
    return {{"FormatName", "Label 100x50"}, {"Copies", 1}};
}

// Counts replies and keeps `window` calls outstanding until `target` have been answered.
struct Window {
    std::mutex mutex;
    std::condition_variable done;
    int64_t sent = 0;
    int64_t answered = 0;
    int64_t failed = 0;
    int64_t target = 0;

    // Returns whether one more call is to be sent.
    bool Answered(bool ok) {
        std::lock_guard<std::mutex> lock(mutex);
        ++answered;
        if (!ok)
            ++failed;
        if (answered == target)
            done.notify_all();
        if (sent == target)
            return false;
        ++sent;
        return true;
    }
};

struct RpcLink {
    _OBJ<_NET::IJsonRpcClient> client;
    bool connected = false;
    std::mutex mutex;
    std::condition_variable changed;

    RpcLink() {
        client = _NET::Code_JsonRpcClient::Create(Peer().Url());
        client->SetConnectionHandler([this](_OBJ<_NET::IJsonRpcClient>, bool up) {
            std::lock_guard<std::mutex> lock(mutex);
            connected = up;
            changed.notify_all();
        });
        _OBJ<_NET::IJsonRpcClient> c = client;
        _GCD::Post([c] { c->Connect(); }, 1);  // the socket's events are handled on queue 1
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(20), [this] { return connected; });
    }

    void Call(Window& window) {
        client->Call("/Formats", "Register", Params(), [this, &window](bool ok, json) {
            if (window.Answered(ok))
                Call(window);
        });
    }
};

RpcLink& Link() {
    static RpcLink* link = new RpcLink;
    return *link;
}

void RpcRoundTrip(benchmark::State& state) {
    const int64_t outstanding = state.range(0);
    RpcLink& link = Link();
    if (!link.connected) {
        state.SkipWithError("no connection to the test peer");
        return;
    }
    int64_t failed = 0;
    for (auto _ : state) {
        Window window;
        window.target = kRoundTrips;
        window.sent = outstanding;
        for (int64_t i = 0; i < outstanding; ++i)
            link.Call(window);
        std::unique_lock<std::mutex> lock(window.mutex);
        if (!window.done.wait_for(lock, std::chrono::seconds(20),
                                  [&window] { return window.answered == window.target; })) {
            state.SkipWithError("replies missing after 20 s");
            return;
        }
        failed += window.failed;
    }
    state.counters["failed"] = static_cast<double>(failed);
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
}

// The same calls with Beast alone: a synchronous client that keeps `outstanding` calls in
// flight, builds, writes, reads and parses the same JSON and matches each reply's "_ID".
void BeastRoundTrip(benchmark::State& state) {
    namespace beast = boost::beast;
    using tcp = boost::asio::ip::tcp;
    const int64_t outstanding = state.range(0);
    boost::asio::io_context ioc;
    beast::websocket::stream<tcp::socket> ws(ioc);
    tcp::resolver resolver(ioc);
    boost::asio::connect(ws.next_layer(),
                         resolver.resolve("127.0.0.1", std::to_string(Peer().Port())));
    ws.handshake("127.0.0.1", "/");
    ws.text(true);
    std::set<std::string> pending;
    const auto send = [&ws, &pending] {
        _OS::CUuid uuid(true);
        uuid.Generate();
        json message = Params();
        message[ENVELOPE::KEY_ID] = uuid.ToString();
        message[ENVELOPE::KEY_CMD] = "Register";
        message[ENVELOPE::KEY_PATH] = "/Formats";
        pending.insert(message[ENVELOPE::KEY_ID].get<std::string>());
        ws.write(boost::asio::buffer(message.dump()));
    };
    beast::flat_buffer buffer;
    int64_t failed = 0;
    for (auto _ : state) {
        int64_t sent = 0;
        for (; sent < outstanding; ++sent)
            send();
        for (int64_t answered = 0; answered < kRoundTrips; ++answered) {
            ws.read(buffer);
            const json reply = json::parse(beast::buffers_to_string(buffer.data()));
            buffer.consume(buffer.size());
            if (pending.erase(reply.at(ENVELOPE::KEY_ID).get<std::string>()) != 1 ||
                !reply.at(ENVELOPE::KEY_OK).get<bool>())
                ++failed;
            if (sent < kRoundTrips) {
                send();
                ++sent;
            }
        }
    }
    ws.close(beast::websocket::close_code::normal);
    state.counters["failed"] = static_cast<double>(failed);
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
}

BENCHMARK(RpcRoundTrip)->ArgName("outstanding")->Arg(1)->Arg(16)->UseRealTime();
BENCHMARK(BeastRoundTrip)->ArgName("outstanding")->Arg(1)->Arg(16)->UseRealTime();

}  // namespace
