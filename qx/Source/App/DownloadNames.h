#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include "Platform/FileId.h"
#include "Platform/NormalPath.h"

namespace _QX {

// The names given to downloads that have not ended, and whether a name is free, with names
// compared as the file system compares them. The engine writes a download to its partial file
// "<name>.download" until it ends, so a name is taken when it or its partial file is a file
// already, or meets a name given out or that name's partial file. A name given out for a
// download is held on disk too, by an empty file of that name, so that other instances and
// programs see it before the engine writes.
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
    // Reserve, once an empty file is created at path where none was: EXISTS reserves nothing.
    // Where the file cannot be made (FAILED), the name is given out all the same: the engine
    // then fails to write there as well.
    _OS::NEW_FILE ReserveOnDisk(const QString& path);
    // The file at path is still the one ReserveOnDisk created: the name has stayed this
    // download's, and so has its partial file.
    bool HoldsOnDisk(const QString& path) const;
    // Gives path back, and removes its file while it is still the one ReserveOnDisk created.
    void Release(const QString& path);

private:
    QString Resolve(const QString& path) const;
    QString Key(const QString& path) const;

    _OS::PATH_RULE m_Rule;
    // One key per name given out and per partial file of one.
    QSet<QString> m_Keys;
    // The files created by ReserveOnDisk, by name.
    QHash<QString, _OS::FILE_ID> m_Files;
};

}  // namespace _QX
