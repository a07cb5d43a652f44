#include "MesSimulator/CFaultPlan.h"

#include <algorithm>
#include <cmath>

#include "Net/Envelope.h"

namespace MES_SIM {

namespace {

// Each kind's share of the faults: the shapes that cost the gateway most come less often, so
// that the plan still covers the older kinds well.
const int kWeights[CFaultPlan::kKinds] = {2, 2, 2, 2, 2, 1, 1, 1};

int TotalWeight() {
    int total = 0;
    for (const int weight : kWeights)
        total += weight;
    return total;
}

}  // namespace

CFaultPlan::CFaultPlan(uint64_t seed, std::chrono::milliseconds meanDelay)
    : m_Random(seed), m_MeanDelay(meanDelay) {}

// The engine's raw output only: the standard distributions differ between libraries.
double CFaultPlan::Uniform() {
    return static_cast<double>(m_Random() >> 11) * 0x1.0p-53;
}

CFaultPlan::FAULT CFaultPlan::Next() {
    FAULT fault;
    int pick = static_cast<int>(m_Random() % static_cast<uint64_t>(TotalWeight()));
    int kind = 0;
    while (pick >= kWeights[kind])
        pick -= kWeights[kind++];
    fault.m_Kind = static_cast<KIND>(kind);
    if (fault.m_Kind == KIND_BURST)
        fault.m_Count = 3 + static_cast<int>(m_Random() % 3);
    const double mean = static_cast<double>(m_MeanDelay.count());
    // At least a tenth of the mean, so that faults never pile up on one instant.
    const double wait = std::max(mean / 10.0, -mean * std::log1p(-Uniform()));
    fault.m_Delay = std::chrono::milliseconds(static_cast<int64_t>(wait));
    return fault;
}

const char* CFaultPlan::Name(KIND kind) {
    switch (kind) {
        case KIND_DROP:
            return "drop";
        case KIND_MUTE:
            return "mute";
        case KIND_MALFORMED:
            return "malformed";
        case KIND_BURST:
            return "burst";
        case KIND_DEAF:
            return "deaf";
        case KIND_EMPTY:
            return "empty";
        case KIND_DENSE:
            return "dense";
        case KIND_RESEND:
            return "resend";
    }
    return "?";
}

bool CFaultPlan::KindOf(const std::string& name, KIND& kind) {
    for (int i = 0; i < kKinds; ++i) {
        if (name == Name(static_cast<KIND>(i))) {
            kind = static_cast<KIND>(i);
            return true;
        }
    }
    return false;
}

std::vector<std::string> CFaultPlan::MalformedFrames() {
    using nlohmann::json;
    namespace ENVELOPE = _NET::ENVELOPE;
    const auto head = [](json type) {
        return json{{ENVELOPE::KEY_MAGIC, ENVELOPE::NOTIFICATION_MAGIC},
                    {ENVELOPE::KEY_TYPE, std::move(type)}};
    };
    const auto notification = [&head](json type, json data) {
        json frame = head(std::move(type));
        frame[ENVELOPE::KEY_DATA] = std::move(data);
        return frame.dump();
    };
    const std::string deep = std::string(4096, '[') + std::string(4096, ']');
    // A notification cut short before its closing brace, and one whose data follows as text.
    std::string open = head("Print").dump();
    open.pop_back();
    const std::string openData = open + ",\"" + ENVELOPE::KEY_DATA + "\":";
    return {
        "",
        "not json",
        open,
        "[1,2,3]",
        "null",
        json({{ENVELOPE::KEY_MAGIC, "oracle"},
              {ENVELOPE::KEY_TYPE, "Print"},
              {ENVELOPE::KEY_DATA, json::object()}})
            .dump(),
        json({{ENVELOPE::KEY_MAGIC, ENVELOPE::NOTIFICATION_MAGIC}}).dump(),
        notification(7, json::object()),
        notification("Print", "job"),
        notification("Print", {{"Type", 1}}),
        notification("Print", {{"FormatFilename", "/no/such.btw"}}),
        notification("Unknown", json::object()),
        json({{ENVELOPE::KEY_ID, "00000000-0000-0000-0000-000000000000"}, {ENVELOPE::KEY_OK, true}})
            .dump(),
        json({{ENVELOPE::KEY_ID, 17}, {ENVELOPE::KEY_OK, true}}).dump(),
        json({{ENVELOPE::KEY_OK, true}}).dump(),
        deep,
        openData + deep + "}",
        "\"\\ud800\"",
    };
}

std::string CFaultPlan::DenseNotification(nlohmann::json job, size_t emptyStrings) {
    namespace ENVELOPE = _NET::ENVELOPE;
    const char kExtra[] = "\"Extra\":[";
    job["Extra"] = nlohmann::json::array();
    std::string text = nlohmann::json({{ENVELOPE::KEY_MAGIC, ENVELOPE::NOTIFICATION_MAGIC},
                                       {ENVELOPE::KEY_TYPE, "Print"},
                                       {ENVELOPE::KEY_DATA, std::move(job)}})
                           .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string values;
    values.reserve(3 * emptyStrings);
    for (size_t i = 0; i < emptyStrings; ++i)
        values += i == 0 ? "\"\"" : ",\"\"";
    text.insert(text.find(kExtra) + sizeof(kExtra) - 1, values);
    return text;
}

}  // namespace MES_SIM
