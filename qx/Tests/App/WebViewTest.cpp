#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QPointer>
#include <QStandardPaths>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <memory>

#include "App/Code_WebView.h"
#include "App/DownloadManager.h"
#include "App/HttpsTestServer.h"
#include "App/QtMessages.h"
#include "App/WebEngineProcess.h"
#include "Qx/QxApp.h"
#include "Support/TempDir.h"

namespace {

HttpsTestServer::RESPONSE Route(const HttpsTestServer::REQUEST& request) {
    HttpsTestServer::RESPONSE response;
    if (request.target == "/report") {
        response.headers.emplace_back("Content-Type", "application/pdf");
        response.headers.emplace_back("Content-Disposition", "attachment; filename=\"report.pdf\"");
        response.body = "%PDF-new";
    } else if (request.target == "/escape") {
        response.headers.emplace_back("Content-Type", "text/plain");
        response.headers.emplace_back("Content-Disposition",
                                      "attachment; filename*=UTF-8''..%2F..%2F..%2Fencoded.txt");
        response.body = "escape";
    } else if (request.target == "/cut") {
        response.headers.emplace_back("Content-Type", "application/pdf");
        response.headers.emplace_back("Content-Disposition", "attachment; filename=\"cut.pdf\"");
        response.body.assign(256 * 1024, 'c');
        response.dropAfter = 64 * 1024;
    } else if (request.target == "/big") {
        response.headers.emplace_back("Content-Type", "application/octet-stream");
        response.headers.emplace_back("Content-Disposition", "attachment; filename=\"big.bin\"");
        response.body.assign(1024 * 1024, 'b');
    } else {
        response.headers.emplace_back("Content-Type", "text/html");
        response.body = "<html><body>MES</body></html>";
    }
    return response;
}

struct WebViewTest : testing::Test {
    void SetUp() override {
        ASSERT_TRUE(
            HttpsTestServer::MakeCertificate(certDir.m_Path.string(), "mes.example.invalid"));
        server = std::make_unique<HttpsTestServer>(certDir.m_Path.string(), Route);
        std::string error;
        ASSERT_TRUE(server->Start(0, &error)) << error;
        webView = _QX::Code_WebView::Create("Test.Profile");
        ASSERT_TRUE(webView);
        view = qobject_cast<QWebEngineView*>(webView->Widget());
        ASSERT_NE(view, nullptr);
    }
    std::string Url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(server->Port()) + path;
    }

    SUPPORT::TEMP_DIR certDir;
    std::unique_ptr<HttpsTestServer> server;
    _OBJ<_QX::IWebView> webView;
    QWebEngineView* view = nullptr;
};

TEST_F(WebViewTest, ProfileKeepsNothingOnDiskAndViewUsesArial) {
    QWebEngineProfile* profile = view->page()->profile();
    EXPECT_EQ(profile->storageName(), "Test.Profile");
    EXPECT_FALSE(profile->isOffTheRecord());
    EXPECT_EQ(profile->httpCacheType(), QWebEngineProfile::MemoryHttpCache);
    EXPECT_EQ(profile->persistentCookiesPolicy(), QWebEngineProfile::NoPersistentCookies);
    EXPECT_EQ(profile->parent(), _QX::APP::GetApplication());
    EXPECT_EQ(view->parent(), nullptr);
    EXPECT_TRUE(
        view->page()->settings()->testAttribute(QWebEngineSettings::Accelerated2dCanvasEnabled));
    EXPECT_EQ(view->page()->settings()->fontFamily(QWebEngineSettings::SansSerifFont), "Arial");
}

TEST_F(WebViewTest, SelfSignedCertificateForAnotherHostLoadsWithoutPrompt) {
    bool finished = false, ok = false;
    QObject::connect(view, &QWebEngineView::loadFinished, [&](bool success) {
        finished = true;
        ok = success;
    });
    webView->Load(Url("/page"));
    ASSERT_TRUE(ProcessEventsUntil([&] { return finished; }));
    EXPECT_TRUE(ok);
    EXPECT_TRUE(server->WaitForRequest(
        [](const HttpsTestServer::REQUEST& r) { return r.target == "/page"; },
        std::chrono::milliseconds(1000)));
}

TEST_F(WebViewTest, DownloadIsSavedBesideAnExistingFileOfTheSameName) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    ASSERT_TRUE(folder.startsWith(QDir::homePath()));
    ASSERT_TRUE(QDir(folder).exists());
    std::ofstream((folder + "/report.pdf").toStdString()) << "%PDF-old";
    QtMessages::Take();

    webView->Load(Url("/report"));
    const QString saved = folder + "/report (1).pdf";
    ASSERT_TRUE(ProcessEventsUntil([&] {
        return QtMessages::Contains(QString("Download completed: \"%1\"").arg(saved));
    })) << QtMessages::Take().join("\n").toStdString();
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "%PDF-new");
    QFile old(folder + "/report.pdf");
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "%PDF-old");
    const QStringList lines = QtMessages::Take();
    EXPECT_TRUE(lines.contains("Download started: \"report.pdf\""));
    EXPECT_TRUE(lines.contains(QString("Save to: \"%1\"").arg(saved)));
}

TEST_F(WebViewTest, ServerPathInTheNameIsNotFollowed) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    const QString outside = QDir::cleanPath(folder + "/../../../encoded.txt");
    QtMessages::Take();

    webView->Load(Url("/escape"));
    ASSERT_TRUE(ProcessEventsUntil([&] {
        return !QtMessages::Take().filter("Download completed:").isEmpty() ||
               QFile::exists(outside);
    }));
    EXPECT_FALSE(QFile::remove(outside));
    QFile file(folder + "/encoded.txt");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "escape");
}

// Loads url, whose download fails: one "interrupted" line, no file of its own left, its name
// free again.
void ExpectInterruptedAndCleared(_OBJ<_QX::IWebView>& webView, const std::string& url,
                                 const QString& folder, const QString& name) {
    QWebEngineView* view = qobject_cast<QWebEngineView*>(webView->Widget());
    const auto files = [&] {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    const QStringList before = files();
    QtMessages::Take();
    webView->Load(url);
    const QString line = QString("Download interrupted: \"%1\"").arg(name);
    QStringList lines;
    const auto leftovers = [&] {
        QStringList left = files();
        for (const QString& file : before)
            left.removeAll(file);
        return left;
    };
    ASSERT_TRUE(ProcessEventsUntil([&] {
        lines << QtMessages::Take();
        return lines.contains(line) && leftovers().isEmpty();
    })) << lines.join("\n").toStdString()
        << "\nleft: " << leftovers().join(", ").toStdString();
    EXPECT_EQ(lines.filter("Download interrupted:").size(), 1);
    EXPECT_TRUE(lines.filter("Download cancelled:").isEmpty());
    auto* manager = view->findChild<_QX::DownloadManager*>();
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->uniqueFilePath(folder + "/" + name), folder + "/" + name);
}

TEST_F(WebViewTest, DroppedConnectionEndsTheDownload) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    ExpectInterruptedAndCleared(webView, Url("/cut"), folder, "cut.pdf");
}

// A folder that fills up: a small file system mounted over the download folder.
struct SMALL_DISK {
    explicit SMALL_DISK(const QString& folder) : m_Folder(folder.toStdString()) {
        m_Mounted = mount("tmpfs", m_Folder.c_str(), "tmpfs", 0, "size=128k") == 0;
        if (!m_Mounted)
            m_Error = std::strerror(errno);
    }
    ~SMALL_DISK() {
        if (m_Mounted)
            umount2(m_Folder.c_str(), MNT_DETACH);
    }
    std::string m_Folder;
    bool m_Mounted = false;
    std::string m_Error;
};

TEST_F(WebViewTest, FullDiskEndsTheDownload) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    SMALL_DISK disk(folder);
    if (!disk.m_Mounted)
        GTEST_SKIP() << "cannot mount a small file system here: " << disk.m_Error;
    ExpectInterruptedAndCleared(webView, Url("/big"), folder, "big.bin");
}

TEST_F(WebViewTest, LastReleaseDeletesViewAndProfile) {
    QPointer<QWebEngineView> watchedView = view;
    QPointer<QWebEngineProfile> watchedProfile = view->page()->profile();
    QtMessages::Take();
    webView.reset();
    EXPECT_TRUE(watchedView.isNull());
    EXPECT_TRUE(watchedProfile.isNull());
    EXPECT_TRUE(QtMessages::Take().filter("still not deleted").isEmpty());
}

}  // namespace
