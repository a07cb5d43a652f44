#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QPointer>
#include <QStandardPaths>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
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
#include "Support/TempDir.h"

namespace {

HttpsTestServer::RESPONSE Attachment(const char* type, const std::string& name, std::string body) {
    HttpsTestServer::RESPONSE response;
    response.headers.emplace_back("Content-Type", type);
    response.headers.emplace_back("Content-Disposition", "attachment; " + name);
    response.body = std::move(body);
    return response;
}

HttpsTestServer::RESPONSE Route(const HttpsTestServer::REQUEST& request) {
    if (request.target == "/report")
        return Attachment("application/pdf", "filename=\"report.pdf\"", "%PDF-new");
    if (request.target == "/escape")
        return Attachment("text/plain", "filename*=UTF-8''..%2F..%2F..%2Fencoded.txt", "escape");
    if (request.target == "/cut") {
        auto response =
            Attachment("application/pdf", "filename=\"cut.pdf\"", std::string(256 * 1024, 'c'));
        response.dropAfter = 64 * 1024;
        return response;
    }
    if (request.target == "/big")
        return Attachment("application/octet-stream", "filename=\"big.bin\"",
                          std::string(1024 * 1024, 'b'));
    // The links download over connections of their own (the server closes each one after its
    // answer): each meets the self-signed certificate again, with no page asked about it.
    if (request.target.rfind("/part", 0) == 0) {
        auto part = Attachment("text/plain", "filename=\"x.txt\"", request.target);
        part.close = true;
        return part;
    }
    HttpsTestServer::RESPONSE page;
    page.headers.emplace_back("Content-Type", "text/html");
    page.body = "<html><body>MES</body></html>";
    if (request.target == "/links") {
        page.close = true;
        page.body =
            "<html><body>"
            "<a download=\"linked-1.txt\" href=\"/part1\">1</a>"
            "<a download=\"linked-2.txt\" href=\"/part2\">2</a>"
            "<a download=\"linked-3.txt\" href=\"/part3\">3</a>"
            "<script>document.querySelectorAll('a').forEach("
            "(a, i) => setTimeout(() => a.click(), 10 * i));</script>"
            "</body></html>";
    }
    return page;
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

    // Loads path, whose download fails: one "interrupted" line, no file of its own left, its
    // name free again.
    void ExpectInterruptedAndCleared(const std::string& path, const QString& name) {
        const auto files = [&] {
            return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        };
        const QStringList before = files();
        QtMessages::Take();
        webView->Load(Url(path));
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

    SUPPORT::TEMP_DIR certDir;
    std::unique_ptr<HttpsTestServer> server;
    _OBJ<_QX::IWebView> webView;
    QWebEngineView* view = nullptr;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
};

TEST_F(WebViewTest, DownloadIsSavedBesideAnExistingFileOfTheSameName) {
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

TEST_F(WebViewTest, CompletedDownloadWhoseFileIsGoneIsNotLoggedCompleted) {
    // The request reports its completed state before its end, and to the manager first: a
    // file removed in between is gone when the manager logs the end.
    QObject context;
    QString saved;
    QObject::connect(
        view->page()->profile(), &QWebEngineProfile::downloadRequested, &context,
        [&](QWebEngineDownloadRequest* download) {
            QObject::connect(
                download, &QWebEngineDownloadRequest::stateChanged, &context,
                [&, download](QWebEngineDownloadRequest::DownloadState state) {
                    if (state != QWebEngineDownloadRequest::DownloadCompleted)
                        return;
                    saved =
                        QDir(download->downloadDirectory()).filePath(download->downloadFileName());
                    EXPECT_TRUE(QFile::remove(saved));
                });
        });
    QtMessages::Take();

    webView->Load(Url("/report"));
    QStringList lines;
    ASSERT_TRUE(ProcessEventsUntil([&] {
        lines << QtMessages::Take();
        return !lines.filter("Download completed:").isEmpty() ||
               !lines.filter("Download interrupted:").isEmpty();
    })) << lines.join("\n").toStdString();
    EXPECT_FALSE(saved.isEmpty());
    EXPECT_TRUE(lines.filter("Download completed:").isEmpty()) << lines.join("\n").toStdString();
    EXPECT_TRUE(lines.contains("Download interrupted: \"report.pdf\""));
}

TEST_F(WebViewTest, DroppedConnectionEndsTheDownload) {
    ExpectInterruptedAndCleared("/cut", "cut.pdf");
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
    SMALL_DISK disk(folder);
    if (!disk.m_Mounted)
        GTEST_SKIP() << "cannot mount a small file system here: " << disk.m_Error;
    ExpectInterruptedAndCleared("/big", "big.bin");
}

// The profile keeps no cache or cookies on disk, and goes with its view.
TEST_F(WebViewTest, LastReleaseDeletesViewAndProfile) {
    QPointer<QWebEngineView> watchedView = view;
    QPointer<QWebEngineProfile> watchedProfile = view->page()->profile();
    EXPECT_EQ(watchedProfile->httpCacheType(), QWebEngineProfile::MemoryHttpCache);
    EXPECT_EQ(watchedProfile->persistentCookiesPolicy(), QWebEngineProfile::NoPersistentCookies);
    QtMessages::Take();
    webView.reset();
    EXPECT_TRUE(watchedView.isNull());
    EXPECT_TRUE(watchedProfile.isNull());
    EXPECT_TRUE(QtMessages::Take().filter("still not deleted").isEmpty());
}

// The browser's engine, switched as the program switches it before its first profile.
struct ENGINE_SWITCHES : testing::Environment {
    void SetUp() override { _QX::Code_WebView::AcceptAllCertificates(); }
};
testing::Environment* const kEngineSwitches =
    testing::AddGlobalTestEnvironment(new ENGINE_SWITCHES);

TEST_F(WebViewTest, LinksClickedTogetherAllDownloadUnderTheSelfSignedCertificate) {
    QtMessages::Take();
    webView->Load(Url("/links"));
    QStringList lines;
    ASSERT_TRUE(ProcessEventsUntil([&] {
        lines << QtMessages::Take();
        return lines.filter("Download completed:").size() +
                   lines.filter("Download interrupted:").size() ==
               3;
    })) << lines.join("\n").toStdString();
    EXPECT_TRUE(lines.filter("Download interrupted:").isEmpty()) << lines.join("\n").toStdString();
    for (int i = 1; i <= 3; ++i) {
        QFile file(folder + QString("/linked-%1.txt").arg(i));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << i;
        EXPECT_EQ(file.readAll(), QString("/part%1").arg(i).toUtf8());
    }
}

}  // namespace
