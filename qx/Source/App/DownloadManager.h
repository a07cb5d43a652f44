#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QWebEngineDownloadRequest>

namespace _QX {

// Saves every download of a profile into the user's download folder, never over an
// existing file, and logs its progress.
struct DownloadManager : QObject {
    Q_OBJECT
public:
    explicit DownloadManager(QObject* parent);

    // The path itself when it is free, else "<base> (<n>).<suffix>" in its folder with the
    // smallest free n from 1. A path is free when no file exists there and no download has it
    // reserved; the path returned is reserved until its download ends.
    QString uniqueFilePath(const QString& path);

public slots:
    void handleDownload(QWebEngineDownloadRequest* download);

private slots:
    void onDownloadFinished();
    void onReceivedBytesChanged();
    void onDownloadStateChanged(QWebEngineDownloadRequest::DownloadState state);

private:
    QString downloadFolder;
    // Paths given to downloads that have not ended: two downloads of one name started together
    // must not share a file.
    QSet<QString> m_Reserved;
};

}  // namespace _QX
