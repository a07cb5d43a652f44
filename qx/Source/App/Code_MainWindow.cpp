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

Code_MainWindow::Code_MainWindow()
    : QMainWindow(nullptr, Qt::WindowFlags()),
      windowX("Qt/Win_Main/WindowX", 0),
      windowY("Qt/Win_Main/WindowY", 0),
      windowW("Qt/Win_Main/WindowW", 640),
      windowH("Qt/Win_Main/WindowH", 640) {
    setWindowTitle(QString::fromStdString(_OS::ENV::GetDisplayName()));
    setMinimumSize(640, 480);
    icon.reset(_QX::MakeTintedIcon(":/Resource/Svg/logo.svg", _QX::COLOR::BLUE_500, QSize(48, 48)));
    setWindowIcon(*icon);

    auto* central = new QWidget(this);
    setCentralWidget(central);
    layout = new QVBoxLayout(central);
    layout->setAlignment(Qt::AlignTop);
    layout->setContentsMargins(0, 0, 0, 0);

    windowX.Load();
    windowY.Load();
    move(windowX.Get(), windowY.Get());
    windowH.Load();
    windowW.Load();
    resize(windowW.Get(), windowH.Get());
}

Code_MainWindow::~Code_MainWindow() {
    webView.reset();
}

Code_MainWindow* Code_MainWindow::Create() {
    s_Window = new Code_MainWindow();
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

void Code_MainWindow::LoadUrl(const std::string& url) {
    if (webView)
        return;
    webView = _QX::Code_WebView::Create(_OS::ENV::GetAppName() + ".Profile");
    if (!webView)
        HALT();
    layout->addWidget(webView->Widget());
    webView->Load(url);
    show();
}
