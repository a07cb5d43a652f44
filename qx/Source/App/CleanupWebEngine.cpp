#include "App/CleanupWebEngine.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <QWebEngineProfile>

namespace _QX::APP {

void CleanupWebEngine() {
    qDebug() << "Performing QtWebEngine cleanup...";
    QWebEngineProfile::defaultProfile()->clearAllVisitedLinks();

    const QDir temp(QStandardPaths::writableLocation(QStandardPaths::TempLocation));
    QStringList entries =
        temp.entryList({"QtWebEngine*", "qutebrowser-*"},
                       QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    // The lock file there guards nothing; it goes like the leftovers, whatever it is.
    const QFileInfo lock(temp.filePath(QStringLiteral("brolla.lock")));
    if (lock.exists() || lock.isSymLink())
        entries << lock.fileName();

    for (const QString& entry : entries) {
        const QString path = temp.absoluteFilePath(entry);
        const QFileInfo info(path);
        // A link is removed itself, never the folder it points to.
        if (info.isDir() && !info.isSymLink()) {
            QDir(path).removeRecursively();
        } else {
            QFile::remove(path);
        }
        qDebug() << "Removed:" << path;
    }
    QThread::msleep(100);
}

}  // namespace _QX::APP
