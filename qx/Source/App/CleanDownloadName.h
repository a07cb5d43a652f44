#pragma once

#include <QString>

namespace _QX {

// A file name for a download that names one file directly inside the download folder, on
// Linux and Windows alike, whatever the server suggested: the last component only ("/", "\"
// and a drive prefix all separate); control characters and those Windows forbids in names
// replaced by "_"; at most 200 bytes of UTF-8, keeping a short extension, so that a " (n)"
// counter and the engine's ".download" still fit every file system's 255; trailing dots and
// spaces, which Windows drops, dropped here too; a device name of Windows ("CON", "lpt1.txt",
// "COM0", "CONIN$") prefixed with "_"; nothing left, "download".
QString CleanDownloadName(const QString& suggested);

}  // namespace _QX
