#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace _ENGINE {

// The whole content of a regular file of at most maxBytes bytes. Empty for anything else (a
// FIFO, a device, a folder, a larger file, an unreadable path); opening never waits, and no
// more than maxBytes + 1 bytes are ever read.
std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxBytes);

}  // namespace _ENGINE
