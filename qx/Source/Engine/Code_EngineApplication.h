#pragma once

#include <memory>

#include "Automation/IAutomationObject.h"
#include "Engine/CEngine.h"
#include "Platform/RefCounted.h"

namespace _ENGINE {

// The engine's application object: sub-object "Formats", method "Quit(int)".
struct Code_EngineApplication : _QX::IAutomationObject {
    QX_REFCOUNTED
public:
    static _OBJ<_QX::IAutomationObject> Create();

    QVariant Invoke(const QByteArray& member, const QVariantList& args) override;
    _OBJ<_QX::IAutomationObject> SubObject(const QByteArray& member,
                                           const QVariantList& args) override;

private:
    std::shared_ptr<CEngine> m_Engine = std::make_shared<CEngine>();
};

}  // namespace _ENGINE
