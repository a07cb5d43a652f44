#include <QApplication>

#include "Gateway/Code_MainWindow.h"
#include "Gateway/GatewayApp.h"
#include "Qx/QxApp.h"

namespace _QX::APP {

void Run(int argc, char** argv, const std::string& appId, const std::string& language) {
    QCoreApplication::setAttribute(Qt::AA_UseDesktopOpenGL, true);
    // Without effect since Qt 6; kept so a Qt 5 build scales the same way.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QT_WARNING_POP
    CreateApplication(argc, argv);
    LoadTranslator(appId, language);
    // A style the platform lacks leaves Qt's default in place.
    QApplication::setStyle(QStringLiteral("WindowsVista"));
    SetMainWidget(Code_MainWindow::Create());
    g_QtStarted = true;
    QApplication::exec();
    ShutdownApp();
}

void NotifyConnected(bool connected) {
    Code_MainWindow::SetConnected(connected);
}

}  // namespace _QX::APP
