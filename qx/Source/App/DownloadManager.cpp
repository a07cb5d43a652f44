#include "App/DownloadManager.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace _QX {

DownloadManager::DownloadManager(QObject* parent)
    : QObject(parent),
      downloadFolder(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)) {
    QDir folder(downloadFolder);
    if (!folder.exists())
        folder.mkpath(".");
    qDebug() << "Download folder:" << downloadFolder;
}

QString DownloadManager::uniqueFilePath(const QString& path) {
    const auto taken = [this](const QString& candidate) {
        return m_Reserved.contains(candidate) || QFile::exists(candidate);
    };
    QString chosen = path;
    if (taken(path)) {
        const QFileInfo info(path);
        const QString base = info.completeBaseName();
        const QString suffix = info.suffix();
        const QDir folder = info.dir();
        for (qint64 counter = 1; taken(chosen); ++counter) {
            // One pass over the pattern: a "%" in the name is kept, never substituted again.
            chosen = folder.filePath(
                QStringLiteral("%1 (%2).%3").arg(base, QString::number(counter), suffix));
        }
    }
    m_Reserved.insert(chosen);
    return chosen;
}

void DownloadManager::handleDownload(QWebEngineDownloadRequest* download) {
    if (!download)
        return;
    const QString name = download->suggestedFileName();
    const QString path = uniqueFilePath(QDir(downloadFolder).filePath(name));
    download->setDownloadFileName(path);
    download->setDownloadDirectory(downloadFolder);
    download->accept();
    qDebug() << "Download started:" << name;
    qDebug() << "Save to:" << path;
    // The request is deleted once it has ended, whichever way.
    connect(download, &QObject::destroyed, this, [this, path] { m_Reserved.remove(path); });
    connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this,
            &DownloadManager::onDownloadFinished);
    connect(download, &QWebEngineDownloadRequest::receivedBytesChanged, this,
            &DownloadManager::onReceivedBytesChanged);
    connect(download, &QWebEngineDownloadRequest::stateChanged, this,
            &DownloadManager::onDownloadStateChanged);
}

void DownloadManager::onDownloadFinished() {
    auto* download = qobject_cast<QWebEngineDownloadRequest*>(sender());
    if (!download)
        return;
    switch (download->state()) {
        case QWebEngineDownloadRequest::DownloadCompleted:
            qDebug() << "Download completed:" << download->downloadFileName();
            break;
        case QWebEngineDownloadRequest::DownloadCancelled:
            qDebug() << "Download cancelled:" << download->suggestedFileName();
            break;
        case QWebEngineDownloadRequest::DownloadInterrupted:
            qDebug() << "Download interrupted:" << download->suggestedFileName();
            break;
        default:
            break;
    }
    download->deleteLater();
}

void DownloadManager::onReceivedBytesChanged() {
    qDebug() << "onReceivedBytesChanged";
}

void DownloadManager::onDownloadStateChanged(QWebEngineDownloadRequest::DownloadState state) {
    auto* download = qobject_cast<QWebEngineDownloadRequest*>(sender());
    if (!download)
        return;
    static const char* const names[] = {"Requested", "In Progress", "Completed", "Cancelled",
                                        "Interrupted"};
    const int index = static_cast<int>(state);
    const QString name = index >= 0 && index < 5 ? QString(names[index]) : QString();
    qDebug() << "Download state changed:" << download->suggestedFileName() << "->" << name;
}

}  // namespace _QX
