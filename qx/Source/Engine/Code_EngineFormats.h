#pragma once

#include <memory>

#include "Automation/IAutomationObject.h"
#include "Engine/CEngine.h"
#include "Platform/RefCounted.h"

namespace _ENGINE {

// The engine's collection of formats: sub-object "Open(QString,bool,char *)" opens a file.
struct Code_EngineFormats : _QX::IAutomationObject {
    QX_REFCOUNTED
public:
    explicit Code_EngineFormats(std::shared_ptr<CEngine> engine);

    QVariant Invoke(const QByteArray& member, const QVariantList& args) override;
    _OBJ<_QX::IAutomationObject> SubObject(const QByteArray& member,
                                           const QVariantList& args) override;

private:
    std::shared_ptr<CEngine> m_Engine;
};

}  // namespace _ENGINE
