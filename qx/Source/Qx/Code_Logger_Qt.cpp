#include "Qx/Code_Logger_Qt.h"

#include <spdlog/details/synchronous_factory.h>
#include <spdlog/spdlog.h>
#include <mutex>
#include <sstream>

#include "Platform/Log.h"
#include "Qx/drav_qt_color_sink.h"

namespace _QX::WIDGET {

_OBJ<_LOG::ILogger> Code_Logger_Qt::Create(const std::string& name, int lineLimit,
                                           QTextEdit* widget) {
    _LOG::_Initialize();
    if (!widget)
        return {};
    auto* logger = new Code_Logger_Qt;
    if (!logger->Open(name, lineLimit, widget)) {
        delete logger;
        return {};
    }
    return _OBJ<_LOG::ILogger>(logger);
}

bool Code_Logger_Qt::Open(const std::string& name, int lineLimit, QTextEdit* widget) {
    m_Name = name;
    try {
        m_Logger =
            spdlog::synchronous_factory::create<spdlog::sinks::drav_qt_color_sink<std::mutex>>(
                name, widget, lineLimit, false, true);
    } catch (const spdlog::spdlog_ex&) {
        return false;
    }
    return true;
}

Code_Logger_Qt::~Code_Logger_Qt() {
    if (m_Logger)
        spdlog::drop(m_Name);
    m_Logger.reset();
}

void Code_Logger_Qt::Trace(const std::string& text) {
    CBaseLogger::Trace(text);
}
void Code_Logger_Qt::Debug(const std::string& text) {
    CBaseLogger::Debug(text);
}
void Code_Logger_Qt::Info(const std::string& text) {
    CBaseLogger::Info(text);
}
void Code_Logger_Qt::Warn(const std::string& text) {
    CBaseLogger::Warn(text);
}
void Code_Logger_Qt::Error(const std::string& text) {
    CBaseLogger::Error(text);
}
void Code_Logger_Qt::Critical(const std::string& text) {
    CBaseLogger::Critical(text);
}

void Code_Logger_Qt::Log(_LOG::LEVEL level, const std::function<void(std::ostringstream&)>& write) {
    std::ostringstream stream;
    write(stream);
    CBaseLogger::Log(level, stream.str());
}

void Code_Logger_Qt::Log(_LOG::LEVEL level, const std::string& text) {
    CBaseLogger::Log(level, text);
}

void Code_Logger_Qt::SetLevel(_LOG::LEVEL level) {
    CBaseLogger::SetLevel(level);
}

// The colour markers go first so the widget's lines get their level colour.
void Code_Logger_Qt::SetPattern(const std::string& pattern) {
    CBaseLogger::SetPattern("%^" + pattern);
}

void Code_Logger_Qt::Flush() {
    CBaseLogger::Flush();
}

}  // namespace _QX::WIDGET
