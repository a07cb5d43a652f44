#pragma once

#include <string>

#include "Platform/CBaseLogger.h"
#include "Platform/ILogger.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"

class QTextEdit;

namespace _QX::WIDGET {

// A logger registered with spdlog under its name whose only sink writes into a text widget;
// every _LOG message reaches the widget while the object lives.
struct Code_Logger_Qt : _LOG::ILogger, _LOG::CBaseLogger {
    QX_REFCOUNTED

public:
    // Empty handle for a null widget or a name that spdlog's registry already holds.
    static _OBJ<_LOG::ILogger> Create(const std::string& name, int lineLimit, QTextEdit* widget);
    bool Open(const std::string& name, int lineLimit, QTextEdit* widget);

    void Trace(const std::string& text) override;
    void Debug(const std::string& text) override;
    void Info(const std::string& text) override;
    void Warn(const std::string& text) override;
    void Error(const std::string& text) override;
    void Critical(const std::string& text) override;
    void Log(_LOG::LEVEL level, const std::function<void(std::ostringstream&)>& write) override;
    void Log(_LOG::LEVEL level, const std::string& text) override;
    void SetLevel(_LOG::LEVEL level) override;
    void SetPattern(const std::string& pattern) override;
    void Flush() override;
    ~Code_Logger_Qt() override;

private:
    Code_Logger_Qt() = default;

    std::string m_Name;
};

}  // namespace _QX::WIDGET
