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
    // All users share the temporary folder, so this file decides nothing: the start-up
    // clean-up removes it, and the run's end too, also through an exception.
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

    // The profile's guard lives beside the profile, in this user's own data folder; held for
    // the whole run, it keeps a second instance off the profile on disk.
    const QDir profiles(QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                            .filePath("QtWebEngine"));
    profiles.mkpath(".");
    const CLockFile profileGuard(std::filesystem::path(
        profiles.filePath(QString::fromStdString(Code_MainWindow::ProfileName()) + ".lock")
            .toStdU16String()));
    if (!profileGuard.Held())
        qWarning() << "Another instance might be running or cleanup incomplete";

    SetMainWidget(Code_MainWindow::Create(profileGuard.Held()));
    g_QtStarted = true;
    QApplication::exec();
    ShutdownApp();
}

}  // namespace _QX::APP
