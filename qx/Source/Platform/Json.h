#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace _OS {

// Deepest nesting of arrays and objects taken from outside the process. Nothing the system
// exchanges nests beyond a handful of levels, while copying or comparing a value recurses once
// per level: a deeper value would run a thread out of stack wherever it is copied.
constexpr int MAX_JSON_DEPTH = 256;

// Parses text as nlohmann::json::parse does with exceptions on and comments off, in one pass,
// and also raises its parse_error for nesting deeper than MAX_JSON_DEPTH, or for more than
// maxValues values (every key, array, object and other value counts one): either is refused as
// it is read, before anything past the bound is built.
nlohmann::json ParseJson(const std::string& text, size_t maxValues = SIZE_MAX);

}  // namespace _OS
