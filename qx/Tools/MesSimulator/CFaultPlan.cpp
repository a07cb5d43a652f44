#include "MesSimulator/CFaultPlan.h"

#include <algorithm>
#include <cmath>

namespace MES_SIM {

CFaultPlan::CFaultPlan(uint64_t seed, std::chrono::milliseconds meanDelay)
    : m_Random(seed), m_MeanDelay(meanDelay) {}

// The engine's raw output only: the standard distributions differ between libraries.
double CFaultPlan::Uniform() {
    return static_cast<double>(m_Random() >> 11) * 0x1.0p-53;
}

CFaultPlan::FAULT CFaultPlan::Next() {
    FAULT fault;
    fault.kind = static_cast<KIND>(m_Random() % 3);
    const double mean = static_cast<double>(m_MeanDelay.count());
    // At least a tenth of the mean, so that faults never pile up on one instant.
    const double wait = std::max(mean / 10.0, -mean * std::log1p(-Uniform()));
    fault.delay = std::chrono::milliseconds(static_cast<int64_t>(wait));
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
    }
    return "?";
}

std::vector<std::string> CFaultPlan::MalformedFrames() {
    return {
        "",
        "not json",
        "{\"_MAGIC\":\"ORACLE\",\"_TYPE\":\"Print\"",
        "[1,2,3]",
        "null",
        "{\"_MAGIC\":\"oracle\",\"_TYPE\":\"Print\",\"_DATA\":{}}",
        "{\"_MAGIC\":\"ORACLE\"}",
        "{\"_MAGIC\":\"ORACLE\",\"_TYPE\":7,\"_DATA\":{}}",
        "{\"_MAGIC\":\"ORACLE\",\"_TYPE\":\"Print\",\"_DATA\":\"job\"}",
        "{\"_MAGIC\":\"ORACLE\",\"_TYPE\":\"Print\",\"_DATA\":{\"Type\":1}}",
        "{\"_MAGIC\":\"ORACLE\",\"_TYPE\":\"Print\",\"_DATA\":{\"FormatFilename\":\"/no/"
        "such.btw\"}}",
        "{\"_MAGIC\":\"ORACLE\",\"_TYPE\":\"Unknown\",\"_DATA\":{}}",
        "{\"_ID\":\"00000000-0000-0000-0000-000000000000\",\"_OK\":true}",
        "{\"_ID\":17,\"_OK\":true}",
        "{\"_OK\":true}",
        std::string(4096, '[') + std::string(4096, ']'),
        "{\"_MAGIC\":\"ORACLE\",\"_TYPE\":\"Print\",\"_DATA\":" + std::string(4096, '[') +
            std::string(4096, ']') + "}",
        "\"\\ud800\"",
    };
}

}  // namespace MES_SIM
