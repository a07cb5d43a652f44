#include "App/Code_WebView.h"

#include <QApplication>
#include <QUrl>
#include <QWebEngineCertificateError>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "App/DownloadManager.h"
#include "Qx/QxApp.h"

namespace _QX {

Code_WebView::Code_WebView(const std::string& profileName) : profileName(profileName) {
    profile = new QWebEngineProfile(QString::fromStdString(profileName), APP::GetApplication());
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);

    view = new QWebEngineView(profile);
    QWebEnginePage* page = view->page();
    // The MES runs on self-signed certificates: every error is accepted without asking.
    QObject::connect(
        page, &QWebEnginePage::certificateError, page,
        [](const QWebEngineCertificateError& error) {
            QWebEngineCertificateError copy(error);
            copy.acceptCertificate();
        },
        Qt::DirectConnection);

    downloadManager = new DownloadManager(view);
    QObject::connect(profile, &QWebEngineProfile::downloadRequested, downloadManager,
                     &DownloadManager::handleDownload);

    view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    QWebEngineSettings* settings = page->settings();
    settings->setAttribute(QWebEngineSettings::Accelerated2dCanvasEnabled, true);
    settings->setFontFamily(QWebEngineSettings::SansSerifFont, "Arial");
}

Code_WebView::~Code_WebView() {
    delete view;
    delete profile;
}

_OBJ<IWebView> Code_WebView::Create(const std::string& profileName) {
    return _OBJ<IWebView>(new Code_WebView(profileName));
}

void Code_WebView::Load(const std::string& url) {
    view->page()->load(QUrl(QString::fromStdString(url), QUrl::TolerantMode));
}

QWidget* Code_WebView::Widget() {
    return view;
}

}  // namespace _QX
