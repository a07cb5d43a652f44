#include <QApplication>
#include <QSystemTrayIcon>

#include "Qx/QxApp.h"

namespace _QX::APP {

QSystemTrayIcon* CreateTrayIcon() {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_TrayIcon = new QSystemTrayIcon(g_Application);
    return g_TrayIcon;
}

void ShowTrayMessage(std::string title, std::string text, int kind, int seconds) {
    QApplication* app = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_Mutex);
        if (!g_TrayIcon)
            return;
        app = g_Application;
    }
    if (!app)
        return;

    QSystemTrayIcon::MessageIcon icon = QSystemTrayIcon::NoIcon;
    if (kind == TRAY_INFORMATION)
        icon = QSystemTrayIcon::Information;
    if (kind == TRAY_WARNING)
        icon = QSystemTrayIcon::Warning;
    if (kind == TRAY_CRITICAL)
        icon = QSystemTrayIcon::Critical;
    const QString qtitle = QString::fromStdString(title);
    const QString qtext = QString::fromStdString(text);
    const int msecs = seconds * 1000;
    // Not under the lock: on the main thread the functor runs at once and takes it itself.
    QMetaObject::invokeMethod(
        app,
        [qtitle, qtext, icon, msecs] {
            QSystemTrayIcon* tray = nullptr;
            {
                std::lock_guard<std::mutex> lock(g_Mutex);
                tray = g_TrayIcon;
            }
            if (tray)
                tray->showMessage(qtitle, qtext, icon, msecs);
        },
        Qt::AutoConnection);
}

}  // namespace _QX::APP
