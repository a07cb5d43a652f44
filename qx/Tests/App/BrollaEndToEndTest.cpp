#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "App/HttpsTestServer.h"
#include "App/X11Probe.h"
#include "Support/Process.h"
#include "Support/ReadText.h"
#include "Support/TempDir.h"
#include "Support/Wait.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr uint32_t kPageColour = 0xff8800;
const char* const kPing = "/smt/rest/api/Tessix/Test/Ping";

// Positions of the texts in the output must rise in the order given.
::testing::AssertionResult InOrder(const std::string& output,
                                   const std::vector<std::string>& texts) {
    size_t from = 0;
    for (const auto& text : texts) {
        const size_t at = output.find(text, from);
        if (at == std::string::npos)
            return ::testing::AssertionFailure() << "missing or out of order: " << text;
        from = at + text.size();
    }
    return ::testing::AssertionSuccess();
}

// Runs the real program on the test's display with its own home, data and temporary folders.
struct BrollaEndToEndTest : testing::Test {
    void SetUp() override {
        for (const char* sub : {"work", "home", "tmp", "data", "cache", "config", "runtime"})
            fs::create_directories(root.m_Path / sub);
        fs::permissions(root.m_Path / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        ASSERT_TRUE(probe.Open()) << "no X display: run under xvfb-run";
    }

    std::unique_ptr<SUPPORT::CProcess> Launch(const std::string& output = "brolla.txt") {
        SUPPORT::CProcess::SPEC spec;
        spec.m_Exe = BROLLA_PROGRAM;
        spec.m_Cwd = path + "/work";
        spec.m_Env = {"HOME=" + path + "/home",
                      "TMPDIR=" + path + "/tmp",
                      "XDG_DATA_HOME=" + path + "/data",
                      "XDG_CACHE_HOME=" + path + "/cache",
                      "XDG_CONFIG_HOME=" + path + "/config",
                      "XDG_RUNTIME_DIR=" + path + "/runtime",
                      "QT_QPA_PLATFORM=xcb",
                      "QTWEBENGINE_DISABLE_SANDBOX=1"};
        spec.m_Output = path + "/" + output;
        auto brolla = std::make_unique<SUPPORT::CProcess>();
        return brolla->Start(spec) ? std::move(brolla) : nullptr;
    }

    SUPPORT::TEMP_DIR root;
    const std::string path = root.m_Path.string();
    X11Probe probe;
};

TEST_F(BrollaEndToEndTest, AnsweringMesIsShownAndClosingTheWindowEndsCleanly) {
    SUPPORT::TEMP_DIR certDir;
    ASSERT_TRUE(HttpsTestServer::MakeCertificate(certDir.m_Path.string(), "mes.example.invalid"));
    HttpsTestServer server(certDir.m_Path.string(), [](const HttpsTestServer::REQUEST& request) {
        HttpsTestServer::RESPONSE response;
        if (request.target == kPing) {
            response.body = "{\"ok\":true}";
        } else if (request.target == "/smt") {
            // Its link downloads over a connection of its own, past the self-signed certificate
            // only when the program has switched its engine before the first profile.
            response.close = true;
            response.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
            response.body =
                "<!DOCTYPE html><html><head><title>MES</title></head>"
                "<body style=\"margin:0;background:#ff8800\"><h1>MES</h1>"
                "<a id=\"report\" download=\"mes-report.txt\" href=\"/smt/report\">report</a>"
                "<script>document.getElementById('report').click();</script></body></html>";
        } else if (request.target == "/smt/report") {
            response.headers.emplace_back("Content-Type", "text/plain");
            response.body = "report";
        } else {
            response.status = 404;
            response.body = "{}";
        }
        return response;
    });
    std::string error;
    if (!server.Start(443, &error, QX_MES_HOST))
        GTEST_SKIP() << "port 443 cannot be bound: " << error;

    fs::create_directories(root.m_Path / "tmp/qtwebengine-stale/inner");
    std::ofstream(path + "/tmp/QUTEBROWSER-stale") << "x";
    // A lock file in the shared temporary folder that cannot be had (another user's does the
    // same as this folder) costs the profile nothing.
    fs::create_directories(root.m_Path / "tmp/brolla.lock");

    auto brolla = Launch();
    ASSERT_TRUE(brolla);
    ASSERT_TRUE(brolla->WaitForOutput("Boot...", 30s)) << brolla->Output();
    EXPECT_TRUE(
        InOrder(brolla->Output(), {"System is ready", "Checking network...", "Response: true",
                                   "Network is ready", "Loading...", "Boot..."}))
        << brolla->Output();
    EXPECT_TRUE(server.WaitForRequest(
        [](const HttpsTestServer::REQUEST& r) { return r.method == "GET" && r.target == "/smt"; },
        30s));
    const auto requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, kPing);
    EXPECT_EQ(requests[0].body, "{}");

    unsigned long window = 0;
    double share = 0;
    EXPECT_TRUE(SUPPORT::WaitUntil(
        [&] {
            window = probe.FindShown("MES");
            share = window
                        ? probe.PixelShare(window, [](uint32_t rgb) { return rgb == kPageColour; })
                        : 0;
            return share > 0.5;
        },
        60s, 50ms))
        << "window " << window << " shows the page's colour on " << share << " of its pixels";

    EXPECT_TRUE(SUPPORT::WaitUntil(
        [&] {
            const std::string output = brolla->Output();
            return output.find("Download completed:") != std::string::npos ||
                   output.find("Download interrupted:") != std::string::npos;
        },
        30s, 50ms));
    EXPECT_EQ(brolla->Output().find("Download interrupted:"), std::string::npos)
        << brolla->Output();
    EXPECT_EQ(SUPPORT::ReadText(path + "/home/Downloads/mes-report.txt"), "report");
    const std::string output = brolla->Output();
    EXPECT_NE(output.find("Removed: \"" + path + "/tmp/qtwebengine-stale\""), std::string::npos)
        << output;
    EXPECT_NE(output.find("Removed: \"" + path + "/tmp/QUTEBROWSER-stale\""), std::string::npos);
    EXPECT_NE(output.find("Removed: \"" + path + "/tmp/brolla.lock\""), std::string::npos);
    EXPECT_FALSE(fs::exists(path + "/tmp/qtwebengine-stale"));
    EXPECT_FALSE(fs::exists(path + "/tmp/QUTEBROWSER-stale"));

    ASSERT_NE(window, 0u);
    probe.RequestClose(window);
    EXPECT_EQ(brolla->Wait(30s), std::optional<int>(0)) << brolla->Output();
    EXPECT_NE(brolla->Output().find("Application about to quit, cleaning up..."),
              std::string::npos);
    EXPECT_FALSE(fs::exists(path + "/tmp/brolla.lock"));
    EXPECT_EQ(brolla->Output().find("HALT"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(path + "/data/MyCompany/Brolla/QtWebEngine/Mes.Profile"))
        << "the profile is kept on disk";
}

TEST_F(BrollaEndToEndTest, SilentMesShowsTheShutdownBoxAndEndsWhenTheOperatorClosesIt) {
    std::string error;
    if (!HttpsTestServer::PortIsFree(443, &error, QX_MES_HOST))
        GTEST_SKIP() << "port 443 cannot be bound, so it cannot be known free: " << error;

    auto brolla = Launch();
    ASSERT_TRUE(brolla);
    ASSERT_TRUE(brolla->WaitForOutput("Cannot connect to server:", 30s)) << brolla->Output();
    EXPECT_TRUE(
        InOrder(brolla->Output(), {"System is ready", "Checking network...", "Response: false",
                                   "Cannot connect to server:Couldn't connect to server"}))
        << brolla->Output();

    unsigned long box = 0;
    ASSERT_TRUE(
        SUPPORT::WaitUntil([&] { return (box = probe.FindShown("Shutdown")) != 0; }, 30s, 50ms))
        << brolla->Output();
    EXPECT_EQ(probe.FindShown("MES"), 0u);
    const std::string press =
        "xdotool windowfocus --sync " + std::to_string(box) + " key Return >/dev/null 2>&1";
    ASSERT_EQ(std::system(press.c_str()), 0);

    EXPECT_EQ(brolla->Wait(30s), std::optional<int>(0)) << brolla->Output();
    const std::string output = brolla->Output();
    EXPECT_EQ(output.find("Network is ready"), std::string::npos);
    EXPECT_EQ(output.find("Boot..."), std::string::npos);
    EXPECT_FALSE(fs::exists(path + "/tmp/brolla.lock"));
}

// The MES page opens IndexedDB and writes to it every half second, reporting each outcome
// under an id of its own page.
HttpsTestServer::RESPONSE StoragePage(const HttpsTestServer::REQUEST& request) {
    HttpsTestServer::RESPONSE response;
    if (request.target == kPing) {
        response.body = "{}";
    } else if (request.target == "/smt") {
        response.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
        response.body = R"(<!DOCTYPE html><html><head><title>MES</title></head><body><script>
const id = Math.random().toString(36).slice(2);
function report(what) {
  fetch('/smt/idb/' + id + '/' + what).finally(() => setTimeout(check, 500));
}
function check() {
  const open = indexedDB.open('mes', 1);
  open.onupgradeneeded = () => open.result.createObjectStore('s');
  open.onerror = () => report('error');
  open.onsuccess = () => {
    const write = open.result.transaction('s', 'readwrite');
    write.objectStore('s').put(Date.now(), 'k');
    write.oncomplete = () => { open.result.close(); report('ok'); };
    write.onerror = () => { open.result.close(); report('error'); };
  };
}
check();
</script></body></html>)";
    }
    return response;
}

TEST_F(BrollaEndToEndTest, SecondInstanceKeepsStorageOfItsOwnAndTheFirstKeepsWorking) {
    SUPPORT::TEMP_DIR certDir;
    ASSERT_TRUE(HttpsTestServer::MakeCertificate(certDir.m_Path.string(), "mes.example.invalid"));
    HttpsTestServer server(certDir.m_Path.string(), StoragePage);
    std::string error;
    if (!server.Start(443, &error, QX_MES_HOST))
        GTEST_SKIP() << "port 443 cannot be bound: " << error;
    // The pages' reports in arrival order, each "<page id>/<outcome>".
    const auto reports = [&] {
        std::vector<std::string> seen;
        for (const auto& r : server.Requests())
            if (r.target.rfind("/smt/idb/", 0) == 0)
                seen.push_back(r.target.substr(9));
        return seen;
    };
    const auto page = [](const std::string& report) { return report.substr(0, report.find('/')); };

    auto first = Launch("first.txt");
    ASSERT_TRUE(first);
    ASSERT_TRUE(SUPPORT::WaitUntil([&] { return !reports().empty(); }, 60s, 50ms))
        << first->Output();
    const std::string firstPage = page(reports().front());
    auto second = Launch("second.txt");
    ASSERT_TRUE(second);
    // The second page reports, and the first one goes on reporting after that.
    ASSERT_TRUE(SUPPORT::WaitUntil(
        [&] {
            const auto seen = reports();
            const auto other = std::find_if(seen.begin(), seen.end(),
                                            [&](const auto& r) { return page(r) != firstPage; });
            return other != seen.end() && std::any_of(other, seen.end(), [&](const auto& r) {
                       return page(r) == firstPage;
                   });
        },
        60s, 50ms))
        << first->Output() << second->Output();
    for (const auto& report : reports())
        EXPECT_EQ(report.substr(report.find('/') + 1), "ok") << report;
    EXPECT_NE(second->Output().find("Another instance might be running or cleanup incomplete"),
              std::string::npos);
    EXPECT_EQ(first->Output().find("Another instance might be running"), std::string::npos);
}

}  // namespace
