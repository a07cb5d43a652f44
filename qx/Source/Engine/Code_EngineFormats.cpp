#include "Engine/Code_EngineFormats.h"

#include "Engine/Code_EngineFormat.h"

namespace _ENGINE {

Code_EngineFormats::Code_EngineFormats(std::shared_ptr<CEngine> engine)
    : m_Engine(std::move(engine)) {}

QVariant Code_EngineFormats::Invoke(const QByteArray&, const QVariantList&) {
    return {};
}

_OBJ<_QX::IAutomationObject> Code_EngineFormats::SubObject(const QByteArray& member,
                                                           const QVariantList& args) {
    if (!m_Engine->m_Running || member != "Open(QString,bool,char *)" || args.isEmpty() ||
        args[0].typeId() != QMetaType::QString)
        return {};
    return Code_EngineFormat::Create(m_Engine, args[0].toString());
}

}  // namespace _ENGINE
