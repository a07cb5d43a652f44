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

Code_WebView::Code_WebView(const std::string& profileName) : m_ProfileName(profileName) {
    m_Profile = new QWebEngineProfile(QString::fromStdString(m_ProfileName), APP::GetApplication());
    m_Profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_Profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);

    m_View = new QWebEngineView(m_Profile);
    QWebEnginePage* page = m_View->page();
    // The MES runs on self-signed certificates: every error is accepted without asking.
    QObject::connect(
        page, &QWebEnginePage::certificateError, page,
        [](const QWebEngineCertificateError& error) {
            QWebEngineCertificateError copy(error);
            copy.acceptCertificate();
        },
        Qt::DirectConnection);

    m_DownloadManager = new DownloadManager(m_View);
    QObject::connect(m_Profile, &QWebEngineProfile::downloadRequested, m_DownloadManager,
                     &DownloadManager::handleDownload);

    m_View->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    QWebEngineSettings* settings = page->settings();
    settings->setAttribute(QWebEngineSettings::Accelerated2dCanvasEnabled, true);
    settings->setFontFamily(QWebEngineSettings::SansSerifFont, "Arial");
}

Code_WebView::~Code_WebView() {
    delete m_View;
    delete m_Profile;
}

void Code_WebView::AcceptAllCertificates() {
    // No API covers a request without a page; the engine reads its switches once, at start.
    const QByteArray name = "QTWEBENGINE_CHROMIUM_FLAGS";
    const QByteArray flag = "--ignore-certificate-errors";
    const QByteArray flags = qgetenv(name.constData());
    if (flags.split(' ').contains(flag))
        return;
    qputenv(name.constData(), flags.isEmpty() ? flag : flags + ' ' + flag);
}

_OBJ<IWebView> Code_WebView::Create(const std::string& profileName) {
    return _OBJ<IWebView>(new Code_WebView(profileName));
}

void Code_WebView::Load(const std::string& url) {
    m_View->page()->load(QUrl(QString::fromStdString(url), QUrl::TolerantMode));
}

QWidget* Code_WebView::Widget() {
    return m_View;
}

}  // namespace _QX
