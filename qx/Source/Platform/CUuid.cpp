#include "Platform/CUuid.h"

#include <cstring>
#include <mutex>
#include <random>

namespace _OS {

namespace {

// One engine per process, seeded once from the system's random device and shared under a
// lock, so identifiers differ between runs and between the threads that draw them.
struct RandomSource {
    std::mutex m_Lock;
    std::mt19937_64 m_Engine;

    RandomSource() {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(),
                           device(), device(), device(), device()};
        m_Engine.seed(seed);
    }
};

RandomSource& Source() {
    static RandomSource source;
    return source;
}

}  // namespace

CUuid::CUuid(bool random) {
    if (random)
        Generate();
}

void CUuid::Generate() {
    uint64_t halves[2];
    {
        RandomSource& source = Source();
        std::lock_guard<std::mutex> lock(source.m_Lock);
        halves[0] = source.m_Engine();
        halves[1] = source.m_Engine();
    }
    std::memcpy(m_Bytes.data(), halves, sizeof halves);
}

std::string CUuid::ToString() const {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < m_Bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text.push_back('-');
        text.push_back(kDigits[m_Bytes[i] >> 4]);
        text.push_back(kDigits[m_Bytes[i] & 0x0F]);
    }
    return text;
}

}  // namespace _OS
