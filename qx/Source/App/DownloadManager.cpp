#include "App/DownloadManager.h"

#include "App/CleanDownloadName.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace _QX {

DownloadManager::DownloadManager(QObject* parent, int pathLimit)
    : QObject(parent),
      m_PathLimit(pathLimit),
      m_DownloadFolder(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)) {
    QDir folder(m_DownloadFolder);
    if (!folder.exists())
        folder.mkpath(".");
    qDebug() << "Download folder:" << m_DownloadFolder;
}

QString DownloadManager::uniqueFilePath(const QString& path) {
    const QFileInfo info(QDir::cleanPath(path));
    for (qint64 counter = 0;; ++counter) {
        const QString chosen = candidate(info, counter);
        // Held on disk before the engine writes: another instance choosing at the same time
        // finds the file there, or fails to create it, and goes on to the next counter.
        if (!m_Names.IsTaken(chosen) && m_Names.ReserveOnDisk(chosen) != _OS::NEW_FILE::EXISTS)
            return chosen;
    }
}

QString DownloadManager::candidate(const QFileInfo& info, qint64 counter) const {
    QString base = info.completeBaseName();
    const QString suffix = info.suffix().isEmpty() ? QString() : "." + info.suffix();
    // One pass over the pattern: a "%" in the name is kept, never substituted again.
    const auto named = [&] {
        return counter == 0
                   ? base + suffix
                   : QStringLiteral("%1 (%2)%3").arg(base, QString::number(counter), suffix);
    };
    const QString whole = QDir(info.path()).filePath(counter == 0 ? info.fileName() : named());
    const qsizetype over =
        m_PathLimit > 0 ? DownloadNames::PartialFile(whole).size() - m_PathLimit : 0;
    if (over <= 0)
        return whole;
    // The base gives way, by whole characters, down to one; the suffix and the counter stay.
    qsizetype keep = std::max<qsizetype>(1, base.size() - over);
    if (keep < base.size() && base.at(keep).isLowSurrogate() && keep > 1)
        --keep;
    base.truncate(keep);
    while (base.size() > 1 && (base.endsWith(QLatin1Char('.')) || base.endsWith(QLatin1Char(' '))))
        base.chop(1);
    return QDir(info.path()).filePath(named());
}

void DownloadManager::handleDownload(QWebEngineDownloadRequest* download) {
    if (!download)
        return;
    const QString name = download->suggestedFileName();
    QString path;
    if (QWebEngineDownloadRequest* earlier = ongoing(download->id())) {
        // The engine announces a download again, as a new request with the same id, when it
        // resumes it by itself after an interruption: it carries on in the earlier file. The
        // earlier request hears nothing more; the profile, its parent, deletes it.
        path = m_Paths.take(earlier);
        disconnect(earlier, nullptr, this, nullptr);
    } else {
        // The name comes from the server, whose certificate is never checked.
        path = uniqueFilePath(QDir(m_DownloadFolder).filePath(CleanDownloadName(name)));
        qDebug() << "Download started:" << name;
        qDebug() << "Save to:" << path;
    }
    m_Paths.insert(download, path);
    download->setDownloadFileName(path);
    download->setDownloadDirectory(m_DownloadFolder);
    download->accept();
    // A request the profile deletes before its end lets its name go too.
    connect(download, &QObject::destroyed, this, [this, download] { releaseName(download); });
    connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this,
            &DownloadManager::onDownloadFinished);
    connect(download, &QWebEngineDownloadRequest::receivedBytesChanged, this,
            &DownloadManager::onReceivedBytesChanged);
    connect(download, &QWebEngineDownloadRequest::stateChanged, this,
            &DownloadManager::onDownloadStateChanged);
}

QWebEngineDownloadRequest* DownloadManager::ongoing(quint32 id) const {
    for (auto it = m_Paths.constBegin(); it != m_Paths.constEnd(); ++it) {
        if (it.key()->id() == id)
            return it.key();
    }
    return nullptr;
}

void DownloadManager::onDownloadFinished() {
    auto* download = qobject_cast<QWebEngineDownloadRequest*>(sender());
    if (!download)
        return;
    endDownload(download);
}

void DownloadManager::endDownload(QWebEngineDownloadRequest* download) {
    const QWebEngineDownloadRequest::DownloadState state = download->state();
    switch (state) {
        case QWebEngineDownloadRequest::DownloadCompleted:
            // Something else may have taken the file away since the engine renamed it there.
            if (m_Names.Exists(
                    QDir(download->downloadDirectory()).filePath(download->downloadFileName())))
                qDebug() << "Download completed:" << download->downloadFileName();
            else
                qDebug() << "Download interrupted:" << download->suggestedFileName();
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
    disconnect(download, &QWebEngineDownloadRequest::isFinishedChanged, this, nullptr);
    disconnect(download, &QWebEngineDownloadRequest::receivedBytesChanged, this, nullptr);
    disconnect(download, &QWebEngineDownloadRequest::stateChanged, this, nullptr);
    if (state == QWebEngineDownloadRequest::DownloadInterrupted) {
        // An interruption the engine could resume (full disk, dropped connection) keeps the
        // download and its partial file; cancelling ends the download but leaves the file.
        // The partial file is this download's only while its name has stayed held by it.
        download->cancel();
        const QString path = m_Paths.value(download);
        if (m_Names.HoldsOnDisk(path))
            QFile::remove(DownloadNames::PartialFile(path));
    }
    releaseName(download);
    download->deleteLater();
}

void DownloadManager::releaseName(QWebEngineDownloadRequest* download) {
    const auto found = m_Paths.constFind(download);
    if (found == m_Paths.constEnd())
        return;
    m_Names.Release(*found);
    m_Paths.erase(found);
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
    // A resumable interruption never reports isFinishedChanged.
    if (state == QWebEngineDownloadRequest::DownloadInterrupted)
        endDownload(download);
}

}  // namespace _QX
