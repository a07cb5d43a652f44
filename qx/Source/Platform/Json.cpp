#include "Platform/Json.h"

#include <nlohmann/json.hpp>

namespace _OS {

nlohmann::json ParseJson(const std::string& text, size_t maxValues) {
    size_t values = 0;
    // depth counts the arrays and objects around the one that starts: refused before it is built.
    const nlohmann::json::parser_callback_t bound =
        [maxValues, &values](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
            using EVENT = nlohmann::json::parse_event_t;
            const bool opens = event == EVENT::object_start || event == EVENT::array_start;
            if (opens && depth >= MAX_JSON_DEPTH) {
                throw nlohmann::json::parse_error::create(
                    101, 0, "nesting deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels",
                    nullptr);
            }
            // The ends of arrays and objects close what their starts counted.
            if (event != EVENT::object_end && event != EVENT::array_end && ++values > maxValues) {
                throw nlohmann::json::parse_error::create(
                    101, 0, "more than " + std::to_string(maxValues) + " values", nullptr);
            }
            return true;
        };
    return nlohmann::json::parse(text, bound, true, false);
}

}  // namespace _OS
