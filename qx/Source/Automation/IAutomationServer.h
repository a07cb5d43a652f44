#pragma once

#include <QString>
#include <QtPlugin>

#include "Automation/IAutomationObject.h"

namespace _QX {

// The root object of an automation server plug-in. The plug-in's metadata lists the ProgIDs
// it serves: {"ProgIDs": ["Vendor.Application"]}.
struct IAutomationServer {
    virtual ~IAutomationServer() = default;
    // A new application object for one of the declared ProgIDs, or an empty handle.
    virtual _OBJ<IAutomationObject> CreateInstance(const QString& progId) = 0;
};

}  // namespace _QX

#define QX_AUTOMATION_SERVER_IID "org.qx.AutomationServer/1.0"
Q_DECLARE_INTERFACE(_QX::IAutomationServer, QX_AUTOMATION_SERVER_IID)
