#include "Engine/Code_EngineApplication.h"

#include "Engine/Code_EngineFormats.h"

namespace _ENGINE {

_OBJ<_QX::IAutomationObject> Code_EngineApplication::Create() {
    return _OBJ<_QX::IAutomationObject>(new Code_EngineApplication());
}

QVariant Code_EngineApplication::Invoke(const QByteArray& member, const QVariantList& args) {
    if (!m_Engine->m_Running)
        return {};
    if (member == "Quit(int)" && args.size() == 1) {
        m_Engine->m_Running = false;
        return true;
    }
    return {};
}

_OBJ<_QX::IAutomationObject> Code_EngineApplication::SubObject(const QByteArray& member,
                                                               const QVariantList& args) {
    if (!m_Engine->m_Running || member != "Formats" || !args.isEmpty())
        return {};
    return _OBJ<_QX::IAutomationObject>(new Code_EngineFormats(m_Engine));
}

}  // namespace _ENGINE
