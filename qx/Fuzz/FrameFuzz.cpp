#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "FuzzCheck.h"
#include "Net/Code_JsonRpcClient.h"
#include "Net/Envelope.h"
#include "Platform/Gcd.h"
#include "Platform/Json.h"
#include "Support/Wait.h"

namespace {

using json = nlohmann::json;
namespace ENVELOPE = _NET::ENVELOPE;

// Handlers run on queue 2, so the dispatcher serves on a thread of its own.
std::atomic<bool> g_Running{false};
std::atomic<int64_t> g_Handled{0};
int64_t g_Expected = 0;
std::mutex g_Mutex;
json g_LastData;
_NET::Code_JsonRpcClient* g_Client = nullptr;
_OBJ<_NET::IJsonRpcClient> g_Handle;

// How deep arrays and objects nest in valid JSON text.
int NestingDepth(const std::string& text) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

// Keys and values of valid JSON text as read, duplicate keys included: every key, array,
// object and other value counts one.
struct VALUE_COUNT : nlohmann::json_sax<json> {
    size_t m_Count = 0;
    bool One() {
        ++m_Count;
        return true;
    }
    bool null() override { return One(); }
    bool boolean(bool) override { return One(); }
    bool number_integer(number_integer_t) override { return One(); }
    bool number_unsigned(number_unsigned_t) override { return One(); }
    bool number_float(number_float_t, const string_t&) override { return One(); }
    bool string(string_t&) override { return One(); }
    bool binary(binary_t&) override { return One(); }
    bool start_object(std::size_t) override { return One(); }
    bool key(string_t&) override { return One(); }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return One(); }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }
};

size_t ValueCount(const std::string& text) {
    VALUE_COUNT count;
    json::sax_parse(text, &count);
    return count.m_Count;
}

// The notification the handler must see for this frame, if any.
bool Expected(const json& frame, json& data) {
    if (!frame.is_object())
        return false;
    const auto magic = frame.find(ENVELOPE::KEY_MAGIC);
    const auto type = frame.find(ENVELOPE::KEY_TYPE);
    const auto payload = frame.find(ENVELOPE::KEY_DATA);
    if (magic == frame.end() || !magic->is_string() || *magic != ENVELOPE::NOTIFICATION_MAGIC)
        return false;
    if (type == frame.end() || !type->is_string() || *type != "Print" || payload == frame.end())
        return false;
    data = *payload;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::thread([] { _GCD::Run([] { g_Running = true; }, 2); }).detach();
    while (!g_Running)
        std::this_thread::yield();
    g_Handle = _NET::Code_JsonRpcClient::Create("ws://127.0.0.1:9/");
    g_Client = static_cast<_NET::Code_JsonRpcClient*>(g_Handle.get());
    g_Handle->RegisterHandler("Print", [](_OBJ<_NET::IJsonRpcClient>, json data, uint64_t) {
        std::lock_guard<std::mutex> lock(g_Mutex);
        g_LastData = std::move(data);
        ++g_Handled;
    });
    return 0;
}

// The bytes as one text frame from the MES.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string payload(reinterpret_cast<const char*>(data), size);
    g_Client->EventProc_Network_Msg(_OBJ<_NET::IWebSocket>(), payload,
                                    _NET::IWebSocket::OPCODE_TEXT);

    // A notification reaches its handler once with its data; anything else, and a frame nested
    // or holding values beyond their bounds, reaches nothing.
    json expectedData;
    const json frame = json::parse(payload, nullptr, false);
    const bool notification = !frame.is_discarded() &&
                              NestingDepth(payload) <= _OS::MAX_JSON_DEPTH &&
                              ValueCount(payload) <= _NET::Code_JsonRpcClient::MAX_MESSAGE_VALUES &&
                              Expected(frame, expectedData);
    g_Expected += notification;
    FUZZ_CHECK(
        SUPPORT::WaitUntil([] { return g_Handled >= g_Expected; }, std::chrono::seconds(10)));
    FUZZ_CHECK(g_Handled == g_Expected);
    if (notification) {
        std::lock_guard<std::mutex> lock(g_Mutex);
        FUZZ_CHECK(g_LastData == expectedData);
    }
    return 0;
}
