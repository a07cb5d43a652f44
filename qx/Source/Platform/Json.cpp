#include "Platform/Json.h"

#include <nlohmann/json.hpp>

namespace _OS {

namespace {

// The library's own tree builder, stopped at the first array or object beyond the bound.
struct CBoundedBuilder : nlohmann::detail::json_sax_dom_parser<nlohmann::json> {
    explicit CBoundedBuilder(nlohmann::json& root)
        : nlohmann::detail::json_sax_dom_parser<nlohmann::json>(root, true) {}

    bool start_object(std::size_t size) {
        return Enter() && json_sax_dom_parser::start_object(size);
    }
    bool end_object() {
        --m_Depth;
        return json_sax_dom_parser::end_object();
    }
    bool start_array(std::size_t size) { return Enter() && json_sax_dom_parser::start_array(size); }
    bool end_array() {
        --m_Depth;
        return json_sax_dom_parser::end_array();
    }

    bool Enter() { return ++m_Depth <= MAX_JSON_DEPTH; }

    int m_Depth = 0;
};

}  // namespace

nlohmann::json ParseJson(const std::string& text) {
    nlohmann::json value;
    CBoundedBuilder builder(value);
    // Syntax errors raise from the builder; a false return is the depth bound.
    if (!nlohmann::json::sax_parse(text, &builder, nlohmann::json::input_format_t::json, true,
                                   false)) {
        throw nlohmann::json::parse_error::create(
            101, 0, "nesting deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels", nullptr);
    }
    return value;
}

}  // namespace _OS
