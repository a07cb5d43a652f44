#include "App/QtMessages.h"

#include <QtGlobal>

#include <mutex>

namespace {

std::mutex s_Mutex;
QStringList s_Lines;

void Collect(QtMsgType, const QMessageLogContext&, const QString& text) {
    std::lock_guard<std::mutex> lock(s_Mutex);
    s_Lines << text;
}

}  // namespace

void QtMessages::Install() {
    qInstallMessageHandler(Collect);
}

QStringList QtMessages::Take() {
    std::lock_guard<std::mutex> lock(s_Mutex);
    QStringList lines;
    lines.swap(s_Lines);
    return lines;
}

bool QtMessages::Contains(const QString& line) {
    std::lock_guard<std::mutex> lock(s_Mutex);
    return s_Lines.contains(line);
}
