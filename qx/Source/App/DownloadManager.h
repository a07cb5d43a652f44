#pragma once

#include <QObject>
#include <QString>
#include <QWebEngineDownloadRequest>

namespace _QX {

// Saves every download of a profile into the user's download folder, never over an
// existing file, and logs its progress.
struct DownloadManager : QObject {
    Q_OBJECT
public:
    explicit DownloadManager(QObject* parent);

    // The path itself when nothing exists there, else "<base> (<n>).<suffix>" in its folder
    // with the smallest free n from 1.
    QString uniqueFilePath(const QString& path);

public slots:
    void handleDownload(QWebEngineDownloadRequest* download);

private slots:
    void onDownloadFinished();
    void onReceivedBytesChanged();
    void onDownloadStateChanged(QWebEngineDownloadRequest::DownloadState state);

private:
    QString m_DownloadFolder;
};

}  // namespace _QX
