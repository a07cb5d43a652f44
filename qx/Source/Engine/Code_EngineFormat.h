#pragma once

#include <memory>

#include "Automation/IAutomationObject.h"
#include "Engine/CEngine.h"
#include "Engine/CLabelFormat.h"
#include "Platform/RefCounted.h"

namespace _ENGINE {

// One opened format: "Activate", "SetNamedSubStringValue(char *,char *)",
// "ExportToClipboard(int,int)", "Close(int)" and the sub-object "PageSetup".
struct Code_EngineFormat : _QX::IAutomationObject {
    QX_REFCOUNTED
public:
    // Empty when the file is missing or not a valid format.
    static _OBJ<_QX::IAutomationObject> Create(std::shared_ptr<CEngine> engine,
                                               const QString& path);

    QVariant Invoke(const QByteArray& member, const QVariantList& args) override;
    _OBJ<_QX::IAutomationObject> SubObject(const QByteArray& member,
                                           const QVariantList& args) override;

    bool IsOpen() const { return m_Open && m_Engine->m_Running; }
    const CLabelFormat& Format() const { return m_Format; }

private:
    Code_EngineFormat(std::shared_ptr<CEngine> engine, CLabelFormat format);

    bool SetNamedSubStringValue(const QVariantList& args);
    bool ExportToClipboard(const QVariantList& args) const;

    std::shared_ptr<CEngine> m_Engine;
    CLabelFormat m_Format;
    std::map<QString, QString> m_Values;
    bool m_Open = true;
};

}  // namespace _ENGINE
