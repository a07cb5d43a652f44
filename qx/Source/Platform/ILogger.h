#pragma once

#include <functional>
#include <sstream>
#include <string>

#include "Platform/IRoot.h"
#include "Platform/Log.h"

namespace _LOG {

struct ILogger : IRoot {
    virtual void Trace(const std::string& text) = 0;
    virtual void Debug(const std::string& text) = 0;
    virtual void Info(const std::string& text) = 0;
    virtual void Warn(const std::string& text) = 0;
    virtual void Error(const std::string& text) = 0;
    virtual void Critical(const std::string& text) = 0;
    virtual void Log(LEVEL level, const std::function<void(std::ostringstream&)>& write) = 0;
    virtual void Log(LEVEL level, const std::string& text) = 0;
    virtual void SetLevel(LEVEL level) = 0;
    virtual void SetPattern(const std::string& pattern) = 0;
    virtual void Flush() = 0;
    virtual ~ILogger() = default;
};

}  // namespace _LOG
