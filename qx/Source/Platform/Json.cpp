#include "Platform/Json.h"

#include <nlohmann/json.hpp>

namespace _OS {

nlohmann::json ParseJson(const std::string& text) {
    // depth counts the arrays and objects around the one that starts: refused before it is built.
    const nlohmann::json::parser_callback_t bound =
        [](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
            const bool opens = event == nlohmann::json::parse_event_t::object_start ||
                               event == nlohmann::json::parse_event_t::array_start;
            if (opens && depth >= MAX_JSON_DEPTH) {
                throw nlohmann::json::parse_error::create(
                    101, 0, "nesting deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels",
                    nullptr);
            }
            return true;
        };
    return nlohmann::json::parse(text, bound, true, false);
}

}  // namespace _OS
