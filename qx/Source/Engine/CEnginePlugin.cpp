#include "Engine/CEnginePlugin.h"

#include "Engine/Code_EngineApplication.h"

namespace _ENGINE {

_OBJ<_QX::IAutomationObject> CEnginePlugin::CreateInstance(const QString& progId) {
    if (progId.compare(QLatin1String("BarTender.Application"), Qt::CaseInsensitive) != 0)
        return {};
    return Code_EngineApplication::Create();
}

}  // namespace _ENGINE
