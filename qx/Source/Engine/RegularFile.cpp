#include "Engine/RegularFile.h"

#include <QFile>

#ifdef _WIN32
#include <QFileInfo>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace _ENGINE {

namespace {

#ifdef _WIN32
bool OpenRegular(QFile& file, const QString& path, qint64 maxBytes) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > maxBytes)
        return false;
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly);
}
#else
// Opened without waiting, since a FIFO without a writer would block the open; the type and size
// are then read from the descriptor itself, so nothing can be swapped in after the check.
bool OpenRegular(QFile& file, const QString& path, qint64 maxBytes) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxBytes) {
        ::close(fd);
        return false;
    }
    return file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
}
#endif

}  // namespace

std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxBytes) {
    QFile file;
    if (!OpenRegular(file, path, maxBytes))
        return std::nullopt;
    // The file may have grown since it was measured.
    QByteArray bytes = file.read(maxBytes + 1);
    if (bytes.size() > maxBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

}  // namespace _ENGINE
