#pragma once

#include <string>

#include "App/IWebView.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"

class QWebEngineProfile;
class QWebEngineView;

namespace _QX {

struct DownloadManager;

// A view on a named profile that keeps its cache in memory and no cookies on disk, accepts
// every certificate error and saves downloads through a DownloadManager.
struct Code_WebView final : IWebView {
    QX_REFCOUNTED
public:
    // Needs the application object. An empty name gives a profile kept in memory only.
    static _OBJ<IWebView> Create(const std::string& profileName);
    // Before the engine starts (its first profile): every connection of the engine accepts
    // certificate errors, also one that no page is asked about, such as a download's own.
    static void AcceptAllCertificates();

    void Load(const std::string& url) override;
    QWidget* Widget() override;

private:
    explicit Code_WebView(const std::string& profileName);
    // The view (with its page and download manager) goes before the profile it uses.
    ~Code_WebView();

    QWebEngineView* m_View = nullptr;
    QWebEngineProfile* m_Profile = nullptr;
    DownloadManager* m_DownloadManager = nullptr;
    std::string m_ProfileName;
};

}  // namespace _QX
