#pragma once

#include <string>

// Logging layer: every function acts on all loggers registered with spdlog at that moment.
namespace _LOG {

enum LEVEL : int {
    LEVEL_TRACE = 0,
    LEVEL_DEBUG = 1,
    LEVEL_INFO = 2,
    LEVEL_WARN = 3,
    LEVEL_ERROR = 4,
    LEVEL_CRITICAL = 5
};

// 0..5 unchanged, anything else spdlog's "off" (6).
int ToSpdlogLevel(LEVEL level);

// The text as one line: C0 and C1 control characters, DEL and the characters that a text
// widget breaks a line at (U+2028, U+2029, U+FDD0, U+FDD1) become escapes such as "\n",
// "\x1b" or "\u2029". Every logged text passes here, so a text from outside can neither add
// lines nor reach a terminal as a control sequence. The rest, invalid UTF-8 included, is kept.
std::string OneLine(const std::string& text);

// Applies SPDLOG_LEVEL and registers the spdlog shutdown exit task; only the first call acts.
void _Initialize();

void Debug(const std::string& text);
void Info(const std::string& text);
void Error(const std::string& text);
void Critical(const std::string& text);
void Level(LEVEL level);
void Pattern(const std::string& pattern);

}  // namespace _LOG
