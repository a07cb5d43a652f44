#include "Automation/CAxObject.h"

#include "Automation/CAxRegistry.h"

namespace _QX {

namespace {

// Absent arguments are invalid values; only those before the last given one are passed on.
QVariantList Arguments(std::initializer_list<const QVariant*> vars) {
    QVariantList args;
    for (const QVariant* var : vars)
        args.append(*var);
    while (!args.isEmpty() && !args.last().isValid())
        args.removeLast();
    return args;
}

}  // namespace

CAxObject::CAxObject(QObject* parent) : QObject(parent) {}

CAxObject::CAxObject(_OBJ<IAutomationObject> object, QObject* parent)
    : QObject(parent), m_Object(std::move(object)) {}

bool CAxObject::setControl(const QString& progId) {
    m_Object = CAxRegistry::CreateInstance(progId);
    m_Control = m_Object ? progId : QString();
    return static_cast<bool>(m_Object);
}

QString CAxObject::control() const {
    return m_Control;
}

bool CAxObject::isNull() const {
    return !m_Object;
}

CAxObject* CAxObject::querySubObject(const char* name, const QVariant& var1, const QVariant& var2,
                                     const QVariant& var3, const QVariant& var4,
                                     const QVariant& var5, const QVariant& var6,
                                     const QVariant& var7, const QVariant& var8) {
    if (!m_Object || !name)
        return nullptr;
    _OBJ<IAutomationObject> sub = m_Object->SubObject(
        name, Arguments({&var1, &var2, &var3, &var4, &var5, &var6, &var7, &var8}));
    if (!sub)
        return nullptr;
    return new CAxObject(std::move(sub), this);
}

QVariant CAxObject::dynamicCall(const char* function, const QVariant& var1, const QVariant& var2,
                                const QVariant& var3, const QVariant& var4, const QVariant& var5,
                                const QVariant& var6, const QVariant& var7, const QVariant& var8) {
    if (!m_Object || !function)
        return {};
    return m_Object->Invoke(function,
                            Arguments({&var1, &var2, &var3, &var4, &var5, &var6, &var7, &var8}));
}

}  // namespace _QX
