#include "Engine/Code_EngineFormat.h"

#include <QClipboard>
#include <QGuiApplication>

#include "Engine/Code_EnginePageSetup.h"

namespace _ENGINE {

namespace {

bool IsText(const QVariant& value) {
    return value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray;
}

bool IsInt(const QVariant& value) {
    bool ok = false;
    value.toInt(&ok);
    return ok;
}

}  // namespace

Code_EngineFormat::Code_EngineFormat(std::shared_ptr<CEngine> engine, CLabelFormat format)
    : m_Engine(std::move(engine)), m_Format(std::move(format)), m_Values(m_Format.m_SubStrings) {}

_OBJ<_QX::IAutomationObject> Code_EngineFormat::Create(std::shared_ptr<CEngine> engine,
                                                       const QString& path) {
    std::optional<CLabelFormat> format = CLabelFormat::Load(path);
    if (!format)
        return {};
    return _OBJ<_QX::IAutomationObject>(
        new Code_EngineFormat(std::move(engine), std::move(*format)));
}

QVariant Code_EngineFormat::Invoke(const QByteArray& member, const QVariantList& args) {
    if (!IsOpen())
        return {};
    if (member == "Activate" && args.isEmpty())
        return true;
    if (member == "SetNamedSubStringValue(char *,char *)")
        return SetNamedSubStringValue(args);
    if (member == "ExportToClipboard(int,int)")
        return ExportToClipboard(args);
    if (member == "Close(int)" && args.size() == 1) {
        m_Open = false;
        return true;
    }
    return {};
}

_OBJ<_QX::IAutomationObject> Code_EngineFormat::SubObject(const QByteArray& member,
                                                          const QVariantList& args) {
    if (!IsOpen() || member != "PageSetup" || !args.isEmpty())
        return {};
    return _OBJ<_QX::IAutomationObject>(new Code_EnginePageSetup(this));
}

// A name the format does not have is ignored.
bool Code_EngineFormat::SetNamedSubStringValue(const QVariantList& args) {
    if (args.size() != 2 || !IsText(args[0]) || !IsText(args[1]))
        return false;
    auto it = m_Values.find(args[0].toString());
    if (it == m_Values.end())
        return false;
    it->second = args[1].toString();
    return true;
}

// Leaves the clipboard alone when the label cannot be rendered at that resolution.
bool Code_EngineFormat::ExportToClipboard(const QVariantList& args) const {
    if (args.size() != 2 || !IsInt(args[0]) || !IsInt(args[1]))
        return false;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    const QImage image = m_Format.Render(args[1].toInt(), m_Values);
    if (image.isNull())
        return false;
    QGuiApplication::clipboard()->setImage(image);
    return true;
}

}  // namespace _ENGINE
