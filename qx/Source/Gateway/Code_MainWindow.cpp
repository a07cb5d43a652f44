#include "Gateway/Code_MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QVBoxLayout>
#include <atomic>
#include <filesystem>
#include <functional>
#include <system_error>

#include "Platform/Env.h"
#include "Platform/Log.h"
#include "Qx/Code_Panel_Logger.h"
#include "Qx/MakeTintedIcon.h"
#include "Qx/QxApp.h"
#include "Qx/QxColor.h"

namespace {

// Written on the main thread only (creation, destruction); read by workers, hence atomic.
// Cleared when the window goes, so a late SetConnected finds no window.
std::atomic<Code_MainWindow*> s_Window{nullptr};
// Set on the main thread before the window exists; run by the tray menu's refresh item.
std::function<void()> s_RefreshAction;

const QString kIconPath = QStringLiteral(":/Resource/Svg/qr_code.svg");
const QSize kIconSize(48, 48);

}  // namespace

Code_MainWindow* Code_MainWindow::Create() {
    auto* window = new Code_MainWindow;
    s_Window = window;
    return window;
}

void Code_MainWindow::SetRefreshAction(std::function<void()> action) {
    s_RefreshAction = std::move(action);
}

Code_MainWindow::Code_MainWindow()
    : QMainWindow(nullptr),
      windowX("Qt/Win_Main/WindowX", 0),
      windowY("Qt/Win_Main/WindowY", 0),
      windowW("Qt/Win_Main/WindowW", 480),
      windowH("Qt/Win_Main/WindowH", 480) {
    setWindowTitle(QString::fromUtf8("Quenlor"));
    setMinimumSize(480, 320);

    iconDisconnected = _QX::MakeTintedIcon(kIconPath, _QX::COLOR::RED_500, kIconSize);
    iconConnected = _QX::MakeTintedIcon(kIconPath, _QX::COLOR::BLUE_500, kIconSize);
    iconCurrent = iconDisconnected;
    setWindowIcon(*iconCurrent);

    trayIcon = _QX::APP::CreateTrayIcon();
    trayIcon->setIcon(*iconCurrent);
    trayIcon->setToolTip(QString::fromStdString(_OS::ENV::GetDisplayName()));
    trayIcon->setVisible(true);

    CreateTrayMenu();

    auto* central = new QWidget(this);
    setCentralWidget(central);
    _QX::PANEL::LOGGER_DEF def;
    def.Name = _OS::ENV::GetAppName();
    auto* panel = _QX::PANEL::CreatePanelLogger(def, nullptr);
    auto* layout = new QVBoxLayout(central);
    layout->setAlignment(Qt::AlignTop);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(panel);

    windowX.Load();
    windowY.Load();
    move(windowX.Get(), windowY.Get());
    windowW.Load();
    windowH.Load();
    resize(windowW.Get(), windowH.Get());

    setWindowFlags(Qt::Tool);
}

Code_MainWindow::~Code_MainWindow() {
    Code_MainWindow* self = this;
    s_Window.compare_exchange_strong(self, nullptr);
    delete trayMenu;
    delete iconConnected;
    delete iconDisconnected;
}

void Code_MainWindow::CreateTrayMenu() {
    trayMenu = new QMenu;
    // The menu owns its actions.
    QAction* quit = trayMenu->addAction(QString::fromUtf8("结束程序"));
    connect(quit, &QAction::triggered, quit, [] { QCoreApplication::quit(); });
    QAction* show = trayMenu->addAction(QString::fromUtf8("显示纪录"));
    connect(show, &QAction::triggered, show, [this] { showNormal(); });
    QAction* refresh = trayMenu->addAction(QString::fromUtf8("刷新模版"));
    connect(refresh, &QAction::triggered, refresh, [] {
        if (s_RefreshAction)
            s_RefreshAction();
    });
    QAction* folder = trayMenu->addAction(QString::fromUtf8("模版文件夹"));
    connect(folder, &QAction::triggered, folder, [this] { OpenFormatFolder(); });

    trayIcon->setContextMenu(trayMenu);
    connect(trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    trayMenu->popup(QCursor::pos());
            });
}

void Code_MainWindow::SetConnected(bool up) {
    if (!s_Window)
        return;
    _QX::APP::InvokeBlocking([up] {
        // Read again here: the window may have gone while the call was queued.
        Code_MainWindow* window = s_Window;
        if (!window)
            return;
        window->iconCurrent = up ? window->iconConnected : window->iconDisconnected;
        if (up)
            window->ShowMessage("连线成功", _QX::APP::TRAY_INFORMATION, 3);
        else
            window->ShowMessage("连线中断", _QX::APP::TRAY_CRITICAL, 3);
        window->setWindowIcon(*window->iconCurrent);
        window->trayIcon->setIcon(*window->iconCurrent);
    });
}

void Code_MainWindow::ShowMessage(std::string text, int kind, int seconds) {
    _QX::APP::ShowTrayMessage(_OS::ENV::GetDisplayName(), std::move(text), kind, seconds);
}

void Code_MainWindow::closeEvent(QCloseEvent* event) {
    if (trayIcon->isVisible()) {
        hide();
        event->ignore();
        return;
    }
    windowX.Set(x());
    windowY.Set(y());
    windowW.Set(width());
    windowH.Set(height());
    event->accept();
    deleteLater();
}

void Code_MainWindow::OpenFormatFolder() {
    const std::filesystem::path& folder = _OS::ENV::GetVarDir();
    // A status that cannot be read counts as missing: there is nothing to open.
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        _LOG::Error("Directory does not exist or is not a directory");
        return;
    }
    const QString native = QString::fromStdU16String(folder.u16string());
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(native)))
        _LOG::Error("Failed to open directory:" + folder.generic_u8string());
}
