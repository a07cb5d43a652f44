#pragma once

#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <QString>
#include <QWebEngineDownloadRequest>

#include "App/DownloadNames.h"
#include "App/PathLimit.h"

namespace _QX {

// Saves every download of a profile directly inside the user's download folder, under a
// cleaned name, never over an existing file, and logs its progress and its end.
struct DownloadManager : QObject {
    Q_OBJECT
public:
    // pathLimit: the longest path the system opens, in UTF-16 units; 0 for no such bound.
    explicit DownloadManager(QObject* parent, int pathLimit = PathLimit());

    // The path itself when it is free, else "<base> (<n>).<suffix>" in its folder with the
    // smallest free n from 1 ("<base> (<n>)" without a suffix). A path is free when neither it
    // nor "<path>.download" is a file already or meets a path reserved or its ".download"
    // (paths that spell one file alike count as one), and its empty file could be created
    // where none was. Under a path limit the base is cut so that "<path>.download" fits. The
    // path returned is reserved, in memory and on disk, until its download ends.
    QString uniqueFilePath(const QString& path);

public slots:
    void handleDownload(QWebEngineDownloadRequest* download);

private slots:
    void onDownloadFinished();
    void onReceivedBytesChanged();
    void onDownloadStateChanged(QWebEngineDownloadRequest::DownloadState state);

private:
    // Logs the end of a download, removes what an interrupted one left and lets it go; once,
    // whichever of its signals tells first.
    void endDownload(QWebEngineDownloadRequest* download);
    // The download's name is free again; download is only looked up, it may be in deletion.
    void releaseName(QWebEngineDownloadRequest* download);
    QWebEngineDownloadRequest* ongoing(quint32 id) const;

    // The n-th candidate for the file info names (n = 0: its own name), within m_PathLimit.
    QString candidate(const QFileInfo& info, qint64 counter) const;

    int m_PathLimit;
    QString m_DownloadFolder;
    // Paths given to downloads that have not ended: two downloads started together must not
    // share a file.
    DownloadNames m_Names;
    // The requests of the downloads that have not ended, with their paths.
    QHash<QWebEngineDownloadRequest*, QString> m_Paths;
};

}  // namespace _QX
