#include "Automation/CAxRegistry.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibrary>
#include <QPluginLoader>
#include <QtDebug>
#include <map>
#include <mutex>

#include "Automation/IAutomationServer.h"

namespace _QX {

namespace {

std::mutex g_Mutex;
std::map<QString, CAxRegistry::Factory> g_Factories;  // by lower-case ProgID

bool Declares(const QJsonObject& metaData, const QString& progId) {
    if (metaData.value(QStringLiteral("IID")).toString() != QLatin1String(QX_AUTOMATION_SERVER_IID))
        return false;
    const QJsonArray ids = metaData.value(QStringLiteral("MetaData"))
                               .toObject()
                               .value(QStringLiteral("ProgIDs"))
                               .toArray();
    for (const QJsonValue& id : ids) {
        if (id.toString().compare(progId, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

_OBJ<IAutomationObject> CreateFromPlugins(const QString& progId) {
    const QString folder = CAxRegistry::ServerFolder();
    if (folder.isEmpty())
        return {};
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        if (!QLibrary::isLibrary(name))
            continue;
        QPluginLoader loader(dir.absoluteFilePath(name));
        if (!Declares(loader.metaData(), progId))
            continue;
        auto* server = qobject_cast<IAutomationServer*>(loader.instance());
        if (!server) {
            qWarning("Automation server %s cannot be loaded: %s", qUtf8Printable(name),
                     qUtf8Printable(loader.errorString()));
            continue;
        }
        return server->CreateInstance(progId);
    }
    return {};
}

}  // namespace

void CAxRegistry::Register(const QString& progId, Factory factory) {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_Factories[progId.toLower()] = std::move(factory);
}

void CAxRegistry::Unregister(const QString& progId) {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_Factories.erase(progId.toLower());
}

_OBJ<IAutomationObject> CAxRegistry::CreateInstance(const QString& progId) {
    if (progId.isEmpty())
        return {};
    Factory factory;
    {
        std::lock_guard<std::mutex> lock(g_Mutex);
        auto it = g_Factories.find(progId.toLower());
        if (it != g_Factories.end())
            factory = it->second;
    }
    if (factory)
        return factory();
    return CreateFromPlugins(progId);
}

QString CAxRegistry::ServerFolder() {
    const QString folder = qEnvironmentVariable("QX_AUTOMATION_PATH");
    if (!folder.isEmpty())
        return folder;
    if (!QCoreApplication::instance())
        return {};
    return QCoreApplication::applicationDirPath() + QStringLiteral("/automation");
}

}  // namespace _QX
