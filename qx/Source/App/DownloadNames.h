#pragma once

#include <QSet>
#include <QString>

namespace _QX {

// The names given to downloads that have not ended, and whether a name is free, with names
// compared as the file system compares them. The engine writes a download to its partial file
// "<name>.download" until it ends, so a name is taken when it or its partial file is a file
// already, or meets a name given out or that name's partial file.
struct DownloadNames {
    // How a file system tells names apart.
    enum RULE {
        RULE_POSIX,    // byte for byte
        RULE_WINDOWS,  // trailing dots and spaces of a name dropped, letter case ignored
    };
    // The rule of the system the program runs on.
    static const RULE kNativeRule;

    static QString PartialFile(const QString& path);

    explicit DownloadNames(RULE rule = kNativeRule);

    bool IsTaken(const QString& path) const;
    // Whether a file exists under path as the file system resolves it.
    bool Exists(const QString& path) const;
    // Gives path out until Release; path must not be taken.
    void Reserve(const QString& path);
    void Release(const QString& path);

private:
    QString Resolve(const QString& path) const;
    QString Key(const QString& path) const;

    RULE m_Rule;
    // One key per name given out and per partial file of one.
    QSet<QString> m_Keys;
};

}  // namespace _QX
