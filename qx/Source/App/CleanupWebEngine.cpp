#include "App/CleanupWebEngine.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <QWebEngineProfile>

#include "Platform/RemoveTree.h"

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
        // The folder is shared with other users: only our own entries go, and no link is
        // followed, even one another user swaps in while we remove.
        _OS::RemoveOwnTree(QFileInfo(path).filesystemFilePath());
        qDebug() << "Removed:" << path;
    }
    QThread::msleep(100);
}

}  // namespace _QX::APP
