#include "Platform/CBaseLogger.h"

#include <spdlog/spdlog.h>

namespace _LOG {

namespace {

void LogTo(const std::shared_ptr<spdlog::logger>& logger, spdlog::level::level_enum level,
           const std::string& text) {
    // A level outside trace..critical maps to "off": such a message is not logged.
    if (logger && level != spdlog::level::off)
        logger->log(level, spdlog::string_view_t(OneLine(text)));
}

}  // namespace

void CBaseLogger::Trace(const std::string& text) {
    LogTo(m_Logger, spdlog::level::trace, text);
}
void CBaseLogger::Debug(const std::string& text) {
    LogTo(m_Logger, spdlog::level::debug, text);
}
void CBaseLogger::Info(const std::string& text) {
    LogTo(m_Logger, spdlog::level::info, text);
}
void CBaseLogger::Warn(const std::string& text) {
    LogTo(m_Logger, spdlog::level::warn, text);
}
void CBaseLogger::Error(const std::string& text) {
    LogTo(m_Logger, spdlog::level::err, text);
}
void CBaseLogger::Critical(const std::string& text) {
    LogTo(m_Logger, spdlog::level::critical, text);
}

void CBaseLogger::Log(LEVEL level, const std::string& text) {
    LogTo(m_Logger, static_cast<spdlog::level::level_enum>(ToSpdlogLevel(level)), text);
}

void CBaseLogger::SetLevel(LEVEL level) {
    if (m_Logger)
        m_Logger->set_level(static_cast<spdlog::level::level_enum>(ToSpdlogLevel(level)));
}

void CBaseLogger::SetPattern(const std::string& pattern) {
    if (m_Logger)
        m_Logger->set_pattern(pattern, spdlog::pattern_time_type::local);
}

void CBaseLogger::Flush() {
    if (m_Logger)
        m_Logger->flush();
}

}  // namespace _LOG
