#include "Platform/Log.h"

#include <spdlog/cfg/env.h>
#include <spdlog/spdlog.h>

#include <mutex>

#include "Platform/Gcd.h"

namespace _LOG {

namespace {

const char kHex[] = "0123456789abcdef";

// Characters that a text widget takes as line or block breaks, as UTF-8, and their escapes;
// U+FDD0 and U+FDD1 are a text document's frame marks.
struct BREAK {
    const char* m_Utf8;
    const char* m_Escape;
};
const BREAK kBreaks[] = {{"\xe2\x80\xa8", "\\u2028"},
                         {"\xe2\x80\xa9", "\\u2029"},
                         {"\xef\xb7\x90", "\\ufdd0"},
                         {"\xef\xb7\x91", "\\ufdd1"}};

// The break that starts at i, or null.
const BREAK* Break(const std::string& text, size_t i) {
    if (text[i] != '\xe2' && text[i] != '\xef')
        return nullptr;
    for (const BREAK& b : kBreaks) {
        if (text.compare(i, 3, b.m_Utf8) == 0)
            return &b;
    }
    return nullptr;
}

void AppendHex(std::string& line, const char* prefix, unsigned char c) {
    line += prefix;
    line += kHex[c >> 4];
    line += kHex[c & 0xf];
}

spdlog::level::level_enum SpdlogLevel(LEVEL level) {
    return static_cast<spdlog::level::level_enum>(ToSpdlogLevel(level));
}

void LogAll(spdlog::level::level_enum level, const std::string& text) {
    _Initialize();
    // Braces in the text are not format fields.
    const std::string line = OneLine(text);
    spdlog::apply_all([level, &line](const std::shared_ptr<spdlog::logger>& logger) {
        logger->log(level, spdlog::string_view_t(line));
    });
}

}  // namespace

std::string OneLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = [&text, i] {
            return i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        };
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\t') {
            line += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            AppendHex(line, "\\x", c);
        } else if (c == 0xc2 && next() >= 0x80 && next() <= 0x9f) {
            AppendHex(line, "\\u00", next());  // C1: U+0080..U+009F
            ++i;
        } else if (const auto* found = Break(text, i)) {
            line += found->m_Escape;
            i += 2;
        } else {
            line += static_cast<char>(c);
        }
    }
    return line;
}

int ToSpdlogLevel(LEVEL level) {
    const int value = static_cast<int>(level);
    return value >= LEVEL_TRACE && value <= LEVEL_CRITICAL ? value : spdlog::level::off;
}

void _Initialize() {
    static std::once_flag once;
    std::call_once(once, [] {
        spdlog::cfg::load_env_levels();
        _GCD::AtExit([] { spdlog::shutdown(); });
    });
}

void Debug(const std::string& text) {
    LogAll(spdlog::level::debug, text);
}
void Info(const std::string& text) {
    LogAll(spdlog::level::info, text);
}
void Error(const std::string& text) {
    LogAll(spdlog::level::err, text);
}
void Critical(const std::string& text) {
    LogAll(spdlog::level::critical, text);
}

void Level(LEVEL level) {
    const spdlog::level::level_enum mapped = SpdlogLevel(level);
    spdlog::apply_all(
        [mapped](const std::shared_ptr<spdlog::logger>& logger) { logger->set_level(mapped); });
}

void Pattern(const std::string& pattern) {
    const std::string copy = pattern;
    spdlog::apply_all([&copy](const std::shared_ptr<spdlog::logger>& logger) {
        logger->set_pattern(copy, spdlog::pattern_time_type::local);
    });
}

}  // namespace _LOG
