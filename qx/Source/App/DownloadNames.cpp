#include "App/DownloadNames.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <system_error>

namespace _QX {

namespace {

std::filesystem::path NativePath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

}  // namespace

QString DownloadNames::PartialFile(const QString& path) {
    return path + QStringLiteral(".download");
}

DownloadNames::DownloadNames(_OS::PATH_RULE rule) : m_Rule(rule) {}

bool DownloadNames::IsTaken(const QString& path) const {
    const QString partial = PartialFile(path);
    return m_Keys.contains(Key(path)) || m_Keys.contains(Key(partial)) || Exists(path) ||
           Exists(partial);
}

bool DownloadNames::Exists(const QString& path) const {
    return QFile::exists(Resolve(path));
}

void DownloadNames::Reserve(const QString& path) {
    m_Keys.insert(Key(path));
    m_Keys.insert(Key(PartialFile(path)));
}

_OS::NEW_FILE DownloadNames::ReserveOnDisk(const QString& path) {
    _OS::FILE_ID id;
    const _OS::NEW_FILE made = _OS::CreateNewFile(NativePath(path), id);
    if (made == _OS::NEW_FILE::EXISTS)
        return made;
    if (made == _OS::NEW_FILE::CREATED)
        m_Files.insert(path, id);
    Reserve(path);
    return made;
}

bool DownloadNames::HoldsOnDisk(const QString& path) const {
    const auto found = m_Files.constFind(path);
    if (found == m_Files.constEnd())
        return false;
    std::error_code ec;
    return _OS::FileIdOf(NativePath(path), ec) == *found;
}

void DownloadNames::Release(const QString& path) {
    // A completed download's file has replaced the empty one, and is another file.
    if (HoldsOnDisk(path))
        QFile::remove(path);
    m_Files.remove(path);
    m_Keys.remove(Key(path));
    m_Keys.remove(Key(PartialFile(path)));
}

// The path of the file that path names: "./a" and "b/../a" are "a"; on Windows "a. " is "a"
// too, as Windows drops a name's trailing dots and spaces.
QString DownloadNames::Resolve(const QString& path) const {
    QString resolved = QDir::cleanPath(path);
    if (m_Rule == _OS::PATH_RULE::WINDOWS) {
        const int nameStart = resolved.lastIndexOf(QLatin1Char('/')) + 1;
        while (resolved.size() > nameStart + 1 &&
               (resolved.endsWith(QLatin1Char('.')) || resolved.endsWith(QLatin1Char(' '))))
            resolved.chop(1);
    }
    return resolved;
}

// Windows compares names in upper case; the file system does that for Exists.
QString DownloadNames::Key(const QString& path) const {
    const QString resolved = Resolve(path);
    return m_Rule == _OS::PATH_RULE::WINDOWS ? resolved.toUpper() : resolved;
}

}  // namespace _QX
