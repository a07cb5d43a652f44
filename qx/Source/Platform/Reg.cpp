#include "Platform/Reg.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace _OS::ENV {

template <>
std::optional<int> RegValueFromJson<int>(const nlohmann::json& json) {
    switch (json.type()) {
        case nlohmann::json::value_t::boolean:
            return json.get<bool>() ? 1 : 0;
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned:
            return static_cast<int32_t>(static_cast<uint32_t>(json.get<uint64_t>()));
        case nlohmann::json::value_t::number_float: {
            const double value = std::trunc(json.get<double>());
            if (!(value >= std::numeric_limits<int>::min() &&
                  value <= std::numeric_limits<int>::max())) {
                return std::nullopt;
            }
            return static_cast<int>(value);
        }
        default:
            return std::nullopt;
    }
}

}  // namespace _OS::ENV
