#pragma once

#include <QObject>

#include "Automation/IAutomationServer.h"

namespace _ENGINE {

// Plug-in root of the stand-in label engine; serves the ProgID "BarTender.Application".
struct CEnginePlugin : QObject, _QX::IAutomationServer {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QX_AUTOMATION_SERVER_IID FILE "Engine.json")
    Q_INTERFACES(_QX::IAutomationServer)

public:
    _OBJ<_QX::IAutomationObject> CreateInstance(const QString& progId) override;
};

}  // namespace _ENGINE
