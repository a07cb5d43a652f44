#include "App/Code_MainWindow.h"

#include <QCoreApplication>
#include <QIcon>
#include <QVBoxLayout>
#include <QWidget>

#include "App/Code_WebView.h"
#include "Platform/Env.h"
#include "Platform/Halt.h"
#include "Qx/MakeTintedIcon.h"
#include "Qx/QxColor.h"

namespace {

Code_MainWindow* s_Window = nullptr;

}  // namespace

Code_MainWindow::Code_MainWindow(bool keepsProfile)
    : QMainWindow(nullptr, Qt::WindowFlags()), m_KeepsProfile(keepsProfile), m_Geometry(640, 640) {
    setWindowTitle(QString::fromStdString(_OS::ENV::GetDisplayName()));
    setMinimumSize(640, 480);
    m_Icon.reset(
        _QX::MakeTintedIcon(":/Resource/Svg/logo.svg", _QX::COLOR::BLUE_500, QSize(48, 48)));
    setWindowIcon(*m_Icon);

    auto* central = new QWidget(this);
    setCentralWidget(central);
    m_Layout = new QVBoxLayout(central);
    m_Layout->setAlignment(Qt::AlignTop);
    m_Layout->setContentsMargins(0, 0, 0, 0);

    m_Geometry.Restore(*this);
}

Code_MainWindow::~Code_MainWindow() {
    m_WebView.reset();
}

Code_MainWindow* Code_MainWindow::Create(bool keepsProfile) {
    s_Window = new Code_MainWindow(keepsProfile);
    return s_Window;
}

void Code_MainWindow::OpenUrl(const std::string& url) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [url] {
            if (!s_Window)
                HALT();
            s_Window->LoadUrl(url);
        },
        Qt::QueuedConnection);
}

std::string Code_MainWindow::ProfileName() {
    return _OS::ENV::GetAppName() + ".Profile";
}

void Code_MainWindow::LoadUrl(const std::string& url) {
    if (m_WebView)
        return;
    // An empty name gives a profile in memory.
    m_WebView = _QX::Code_WebView::Create(m_KeepsProfile ? ProfileName() : "");
    m_Layout->addWidget(m_WebView->Widget());
    m_WebView->Load(url);
    show();
}
