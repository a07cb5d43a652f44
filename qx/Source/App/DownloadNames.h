#pragma once

#include <QSet>
#include <QString>

#include "Platform/NormalPath.h"

namespace _QX {

// The names given to downloads that have not ended, and whether a name is free, with names
// compared as the file system compares them. The engine writes a download to its partial file
// "<name>.download" until it ends, so a name is taken when it or its partial file is a file
// already, or meets a name given out or that name's partial file.
struct DownloadNames {
    static QString PartialFile(const QString& path);

    // POSIX compares names byte for byte; Windows drops a name's trailing dots and spaces and
    // ignores letter case.
    explicit DownloadNames(_OS::PATH_RULE rule = _OS::kPathRule);

    bool IsTaken(const QString& path) const;
    // Whether a file exists under path as the file system resolves it.
    bool Exists(const QString& path) const;
    // Gives path out until Release; path must not be taken.
    void Reserve(const QString& path);
    void Release(const QString& path);

private:
    QString Resolve(const QString& path) const;
    QString Key(const QString& path) const;

    _OS::PATH_RULE m_Rule;
    // One key per name given out and per partial file of one.
    QSet<QString> m_Keys;
};

}  // namespace _QX
