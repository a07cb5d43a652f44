#include "Engine/Code_EnginePageSetup.h"

namespace _ENGINE {

namespace {

constexpr int UNIT_MILLIMETRES = 3;

bool IsMillimetres(const QVariantList& args) {
    bool ok = false;
    return args.size() == 1 && args[0].toInt(&ok) == UNIT_MILLIMETRES && ok;
}

}  // namespace

Code_EnginePageSetup::Code_EnginePageSetup(_OBJ<Code_EngineFormat> format)
    : m_Format(std::move(format)) {}

QVariant Code_EnginePageSetup::Invoke(const QByteArray& member, const QVariantList& args) {
    if (!m_Format->IsOpen())
        return {};
    const CLabelFormat& format = m_Format->Format();
    if (member == "PaperWidth(QVariant) " && IsMillimetres(args))
        return format.m_WidthMm;
    if (member == "PaperHeight(QVariant) " && IsMillimetres(args))
        return format.m_HeightMm;
    if (member == "Orientation" && args.isEmpty())
        return format.m_Orientation;
    return {};
}

_OBJ<_QX::IAutomationObject> Code_EnginePageSetup::SubObject(const QByteArray&,
                                                             const QVariantList&) {
    return {};
}

}  // namespace _ENGINE
