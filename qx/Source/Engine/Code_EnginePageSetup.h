#pragma once

#include "Engine/Code_EngineFormat.h"

namespace _ENGINE {

// Page setup of one format: "PaperWidth(QVariant) " and "PaperHeight(QVariant) " in the unit
// code 3 (millimetres), and "Orientation" as the format file gives it.
struct Code_EnginePageSetup : _QX::IAutomationObject {
    QX_REFCOUNTED
public:
    explicit Code_EnginePageSetup(_OBJ<Code_EngineFormat> format);

    QVariant Invoke(const QByteArray& member, const QVariantList& args) override;
    _OBJ<_QX::IAutomationObject> SubObject(const QByteArray& member,
                                           const QVariantList& args) override;

private:
    _OBJ<Code_EngineFormat> m_Format;
};

}  // namespace _ENGINE
