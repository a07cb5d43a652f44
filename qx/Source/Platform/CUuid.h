#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace _OS {

// 128-bit identifier; text form is 36 lower-case hex characters grouped 8-4-4-4-12.
struct CUuid {
    explicit CUuid(bool random);
    void Generate();
    std::string ToString() const;

    std::array<uint8_t, 16> m_Bytes{};
};

}  // namespace _OS
