#pragma once

#include <memory>
#include <string>

#include "Platform/Log.h"

namespace spdlog {
class logger;
}

namespace _LOG {

// Holds the spdlog logger of one of the system's own loggers; every operation does nothing
// while it is empty.
struct CBaseLogger {
    std::shared_ptr<spdlog::logger> m_Logger;

    void Trace(const std::string& text);
    void Debug(const std::string& text);
    void Info(const std::string& text);
    void Warn(const std::string& text);
    void Error(const std::string& text);
    void Critical(const std::string& text);
    void Log(LEVEL level, const std::string& text);
    void SetLevel(LEVEL level);
    void SetPattern(const std::string& pattern);
    void Flush();
};

}  // namespace _LOG
