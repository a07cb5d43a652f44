#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "Platform/ILogger.h"
#include "Platform/Obj.h"
#include "Platform/Reg.h"

class QTextEdit;

namespace _QX::PANEL {

struct LOGGER_DEF {
    // The logger's name in spdlog's registry.
    std::string Name;
    // Registry key of the level setting; empty means "Qt/Panel/Logger/DebugLevel".
    std::string LevelKey;
    // Line limit of the view; below 1 means 512.
    int MaxLines = 0;
};

// The log view: "Blank", the five level choices and "Clear" above a read-only text widget
// that shows every _LOG line, newest first. The chosen level is kept for the next start.
struct Code_Panel_Logger : QWidget {
    Code_Panel_Logger(const LOGGER_DEF& def, QWidget* parent);
    ~Code_Panel_Logger() override;

    QTextEdit* m_TextEdit = nullptr;
    _OBJ<_LOG::ILogger> m_Logger;
    std::unique_ptr<_OS::ENV::REG<int>> m_Level;
};

Code_Panel_Logger* CreatePanelLogger(const LOGGER_DEF& def, QWidget* parent);

}  // namespace _QX::PANEL
