#pragma once

#include <QMainWindow>
#include <functional>
#include <string>

#include "Qx/CWindowGeometry.h"

class QCloseEvent;
class QIcon;
class QMenu;
class QSystemTrayIcon;

// The gateway's only window, created hidden, and its tray icon, whose colour shows the MES
// connection: red while down, blue while up.
struct Code_MainWindow : QMainWindow {
    // Main thread, once, after the QApplication and _OS::ENV exist.
    static Code_MainWindow* Create();
    // Main thread, before Create: what the tray menu's refresh item runs.
    static void SetRefreshAction(std::function<void()> action);
    // Worker threads only: waits until the main thread has shown the state.
    static void SetConnected(bool up);

    ~Code_MainWindow() override;

    void ShowMessage(std::string text, int kind, int seconds);
    void CreateTrayMenu();
    void OpenFormatFolder();

    _QX::CWindowGeometry m_Geometry;
    QSystemTrayIcon* m_TrayIcon = nullptr;
    QMenu* m_TrayMenu = nullptr;
    QIcon* m_IconDisconnected = nullptr;
    QIcon* m_IconConnected = nullptr;
    QIcon* m_IconCurrent = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Code_MainWindow();
};
