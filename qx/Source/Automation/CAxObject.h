#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include "Automation/IAutomationObject.h"

namespace _QX {

// Automation container for platforms without COM: binds to a server object by ProgID (see
// CAxRegistry) and forwards member calls to it. Offers only what the gateway uses of ActiveQt's
// container, with the same names. Sub-objects are Qt children of the object they came from.
struct CAxObject : QObject {
    explicit CAxObject(QObject* parent = nullptr);

    // Binds to a new instance of the server; on failure the object is null.
    bool setControl(const QString& progId);
    QString control() const;
    bool isNull() const;

    // Null when this object is null or the member yields no object.
    CAxObject* querySubObject(const char* name, const QVariant& var1 = QVariant(),
                              const QVariant& var2 = QVariant(), const QVariant& var3 = QVariant(),
                              const QVariant& var4 = QVariant(), const QVariant& var5 = QVariant(),
                              const QVariant& var6 = QVariant(), const QVariant& var7 = QVariant(),
                              const QVariant& var8 = QVariant());
    // Invalid when this object is null or the server gives no answer.
    QVariant dynamicCall(const char* function, const QVariant& var1 = QVariant(),
                         const QVariant& var2 = QVariant(), const QVariant& var3 = QVariant(),
                         const QVariant& var4 = QVariant(), const QVariant& var5 = QVariant(),
                         const QVariant& var6 = QVariant(), const QVariant& var7 = QVariant(),
                         const QVariant& var8 = QVariant());

private:
    CAxObject(_OBJ<IAutomationObject> object, QObject* parent);

    _OBJ<IAutomationObject> m_Object;
    QString m_Control;
};

}  // namespace _QX
