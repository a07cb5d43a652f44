#include "Platform/Log.h"

#include <spdlog/cfg/env.h>
#include <spdlog/spdlog.h>

#include <mutex>

#include "Platform/Gcd.h"

namespace _LOG {

namespace {

spdlog::level::level_enum SpdlogLevel(LEVEL level) {
    return static_cast<spdlog::level::level_enum>(ToSpdlogLevel(level));
}

void LogAll(spdlog::level::level_enum level, const std::string& text) {
    _Initialize();
    // Logged as it stands: braces in the text are not format fields.
    spdlog::apply_all([level, &text](const std::shared_ptr<spdlog::logger>& logger) {
        logger->log(level, spdlog::string_view_t(text));
    });
}

}  // namespace

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
