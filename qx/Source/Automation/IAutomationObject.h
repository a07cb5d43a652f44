#pragma once

#include <QByteArray>
#include <QVariant>
#include <QVariantList>

#include "Platform/IRoot.h"
#include "Platform/Obj.h"

namespace _QX {

// One object of an automation server. A member is matched byte for byte as the caller spells
// it (signature and blanks included); an unknown member or unfit arguments give an invalid
// answer or an empty handle. Objects are used from one thread at a time.
struct IAutomationObject : IRoot {
    virtual QVariant Invoke(const QByteArray& member, const QVariantList& args) = 0;
    virtual _OBJ<IAutomationObject> SubObject(const QByteArray& member,
                                              const QVariantList& args) = 0;
    virtual ~IAutomationObject() = default;
};

}  // namespace _QX
