#pragma once

#include <QString>
#include <functional>

#include "Automation/IAutomationObject.h"

namespace _QX {

// Resolves a ProgID (letter case ignored) to an automation server at run time: first the
// servers registered in-process, then the plug-ins of the server folder. Thread-safe.
struct CAxRegistry {
    using Factory = std::function<_OBJ<IAutomationObject>()>;

    // Registering a ProgID again replaces its factory.
    static void Register(const QString& progId, Factory factory);
    static void Unregister(const QString& progId);

    // An empty handle when no server serves the ProgID or the server refuses.
    static _OBJ<IAutomationObject> CreateInstance(const QString& progId);

    // The folder named by QX_AUTOMATION_PATH when set, else "automation" beside the executable.
    static QString ServerFolder();
};

}  // namespace _QX
