#pragma once

#include <QMainWindow>

#include <memory>
#include <string>

#include "App/IWebView.h"
#include "Platform/Obj.h"
#include "Qx/CWindowGeometry.h"

class QIcon;
class QVBoxLayout;

// The browser's one window: hidden until the start page is loaded into its web view. Its
// geometry is read from the registry and never written.
struct Code_MainWindow : QMainWindow {
    // Main thread, after the application object and the environment exist. keepsProfile: this
    // instance holds the profile's guard, so the profile on disk is its own; otherwise the web
    // view gets a profile kept in memory, and one in use by another instance is never touched.
    static Code_MainWindow* Create(bool keepsProfile);
    // The storage name of the profile on disk.
    static std::string ProfileName();
    // Any thread: queues LoadUrl onto the GUI thread and returns at once.
    static void OpenUrl(const std::string& url);
    // GUI thread: creates the web view, loads the URL and shows the window; once only.
    void LoadUrl(const std::string& url);

    ~Code_MainWindow() override;

private:
    explicit Code_MainWindow(bool keepsProfile);

    bool m_KeepsProfile;
    std::unique_ptr<QIcon> m_Icon;
    _QX::CWindowGeometry m_Geometry;
    QVBoxLayout* m_Layout = nullptr;
    _OBJ<_QX::IWebView> m_WebView;
};
