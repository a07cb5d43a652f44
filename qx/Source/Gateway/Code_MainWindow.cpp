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
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <system_error>

#include "Platform/Env.h"
#include "Platform/Log.h"
#include "Platform/Text.h"
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

Code_MainWindow::Code_MainWindow() : QMainWindow(nullptr), m_Geometry(480, 480) {
    setWindowTitle(QString::fromUtf8("Quenlor"));
    setMinimumSize(480, 320);

    m_IconDisconnected = _QX::MakeTintedIcon(kIconPath, _QX::COLOR::RED_500, kIconSize);
    m_IconConnected = _QX::MakeTintedIcon(kIconPath, _QX::COLOR::BLUE_500, kIconSize);
    m_IconCurrent = m_IconDisconnected;
    setWindowIcon(*m_IconCurrent);

    m_TrayIcon = _QX::APP::CreateTrayIcon();
    m_TrayIcon->setIcon(*m_IconCurrent);
    m_TrayIcon->setToolTip(QString::fromStdString(_OS::ENV::GetDisplayName()));
    m_TrayIcon->setVisible(true);

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

    m_Geometry.Restore(*this);

    setWindowFlags(Qt::Tool);
}

Code_MainWindow::~Code_MainWindow() {
    Code_MainWindow* self = this;
    s_Window.compare_exchange_strong(self, nullptr);
    delete m_TrayMenu;
    delete m_IconConnected;
    delete m_IconDisconnected;
}

void Code_MainWindow::CreateTrayMenu() {
    m_TrayMenu = new QMenu;
    // The menu owns its actions.
    QAction* quit = m_TrayMenu->addAction(QString::fromUtf8("结束程序"));
    connect(quit, &QAction::triggered, quit, [] { QCoreApplication::quit(); });
    QAction* show = m_TrayMenu->addAction(QString::fromUtf8("显示纪录"));
    connect(show, &QAction::triggered, show, [this] { showNormal(); });
    QAction* refresh = m_TrayMenu->addAction(QString::fromUtf8("刷新模版"));
    connect(refresh, &QAction::triggered, refresh, [] {
        if (s_RefreshAction)
            s_RefreshAction();
    });
    QAction* folder = m_TrayMenu->addAction(QString::fromUtf8("模版文件夹"));
    connect(folder, &QAction::triggered, folder, [this] { OpenFormatFolder(); });

    m_TrayIcon->setContextMenu(m_TrayMenu);
    connect(m_TrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    m_TrayMenu->popup(QCursor::pos());
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
        window->m_IconCurrent = up ? window->m_IconConnected : window->m_IconDisconnected;
        if (up)
            window->ShowMessage("连线成功", _QX::APP::TRAY_INFORMATION, 3);
        else
            window->ShowMessage("连线中断", _QX::APP::TRAY_CRITICAL, 3);
        window->setWindowIcon(*window->m_IconCurrent);
        window->m_TrayIcon->setIcon(*window->m_IconCurrent);
    });
}

void Code_MainWindow::ShowMessage(std::string text, int kind, int seconds) {
    _QX::APP::ShowTrayMessage(_OS::ENV::GetDisplayName(), std::move(text), kind, seconds);
}

void Code_MainWindow::closeEvent(QCloseEvent* event) {
    if (m_TrayIcon->isVisible()) {
        hide();
        event->ignore();
        return;
    }
    m_Geometry.Store(*this);
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
    const QString native = QString::fromStdU16String(_OS::PathToWide(folder));
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(native))) {
        std::string generic = _OS::PathToUtf8(folder);
        std::replace(generic.begin(), generic.end(), '\\', '/');
        _LOG::Error("Failed to open directory:" + generic);
    }
}
