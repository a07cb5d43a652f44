#include "App/RunBrowser.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QStandardPaths>
#include <QThread>

#include <filesystem>
#include <iostream>

#include "App/CLockFile.h"
#include "App/CleanupWebEngine.h"
#include "App/Code_MainWindow.h"
#include "App/Code_WebView.h"
#include "Qx/QxApp.h"

namespace _QX::APP {

void RunBrowser(int argc, char** argv, const std::string& translatorName,
                const std::string& language) {
    const QString lockPath = QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
                                 .filePath("brolla.lock");
    // Held for the whole run: it tells a second instance that the profile is in use. The
    // first instance removes it when the run ends, also through an exception.
    const CLockFile lock(std::filesystem::path(lockPath.toStdU16String()));
    if (!lock.Held()) {
        qWarning() << "Another instance might be running or cleanup incomplete";
        QThread::msleep(500);
    }

    Code_WebView::AcceptAllCertificates();
    QCoreApplication::setAttribute(Qt::AA_UseDesktopOpenGL, true);
    // Without effect in Qt 6; kept so the program asks for the same as on Qt 5.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QT_WARNING_POP
    QApplication* app = CreateApplication(argc, argv);
    CleanupWebEngine();
    QObject::connect(
        GetApplication(), &QCoreApplication::aboutToQuit, app,
        [] {
            std::cout << "Application about to quit, cleaning up..." << std::endl;
            CleanupWebEngine();
        },
        Qt::DirectConnection);

    QCoreApplication::setApplicationName("Brolla");
    QCoreApplication::setApplicationVersion("1.0.0");
    QCoreApplication::setOrganizationName("MyCompany");
    QCoreApplication::setOrganizationDomain("mycompany.example");
    LoadTranslator(translatorName, language);
    QApplication::setStyle("WindowsVista");

    SetMainWidget(Code_MainWindow::Create(lock.Held()));
    g_QtStarted = true;
    QApplication::exec();
    ShutdownApp();
}

}  // namespace _QX::APP
