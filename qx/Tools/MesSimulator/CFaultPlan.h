#pragma once

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

namespace MES_SIM {

// A reproducible series of faults for a soak run: the same seed gives the same faults at the
// same intervals on every platform.
struct CFaultPlan {
    enum KIND {
        // Close the TCP connection without a closing handshake.
        KIND_DROP,
        // Stop reading, so pings go unanswered, until the gateway connects anew.
        KIND_MUTE,
        // A burst of frames that are no valid message, between live jobs.
        KIND_MALFORMED,
        // Drop the connection, then accept each of the next few and drop it at once.
        KIND_BURST,
        // Stop reading altogether while jobs are in flight and a flood of them follows, so that
        // results pile up in the gateway until it gives the connection up.
        KIND_DEAF,
        // Empty text frames as fast as the connection takes them, bounded in count and time,
        // between live jobs.
        KIND_EMPTY,
        // A few print jobs, each with a great many empty strings under an extra key.
        KIND_DENSE,
        // A job sent just before a drop, and sent again on the next connection, as a MES does
        // for a job without an answer: its copies must be answered once in all.
        KIND_RESEND,
    };
    static constexpr int kKinds = KIND_RESEND + 1;
    struct FAULT {
        KIND m_Kind = KIND_DROP;
        std::chrono::milliseconds m_Delay{0};
        // Of a burst: the connections dropped at once after the first drop.
        int m_Count = 0;
    };

    CFaultPlan(uint64_t seed, std::chrono::milliseconds meanDelay);

    // The next fault and the wait before it (exponentially distributed around the mean).
    FAULT Next();
    static const char* Name(KIND kind);
    // False for a name that is no kind's.
    static bool KindOf(const std::string& name, KIND& kind);
    // The frames of a malformed burst; none of them is a message the gateway may act on.
    static std::vector<std::string> MalformedFrames();
    // The print notification of job with emptyStrings empty strings under the extra key "Extra"
    // (3 bytes each), written without building them as values.
    static std::string DenseNotification(nlohmann::json job, size_t emptyStrings);

private:
    double Uniform();

    std::mt19937_64 m_Random;
    std::chrono::milliseconds m_MeanDelay;
};

}  // namespace MES_SIM
