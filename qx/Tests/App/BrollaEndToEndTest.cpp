#include <gtest/gtest.h>

#include <sys/stat.h>

#include <boost/asio.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "App/ChildProcess.h"
#include "App/HttpsTestServer.h"
#include "App/TestDir.h"
#include "App/X11Probe.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr uint32_t kPageColour = 0xff8800;
const char* const kPing = "/smt/rest/api/Tessix/Test/Ping";

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

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
        if (std::string(QX_MES_HOST) != "127.0.0.1")
            GTEST_SKIP() << "the program is built for the MES host " << QX_MES_HOST;
        ASSERT_FALSE(root.path.empty());
        for (const char* sub : {"work", "home", "tmp", "data", "cache", "config", "runtime"})
            fs::create_directories(fs::path(root.path) / sub);
        chmod((root.path + "/runtime").c_str(), 0700);
        ASSERT_TRUE(probe.Open()) << "no X display: run under xvfb-run";
    }

    std::unique_ptr<ChildProcess> Launch() {
        return std::make_unique<ChildProcess>(
            BROLLA_PROGRAM, root.path + "/work",
            std::vector<std::string>{"HOME=" + root.path + "/home", "TMPDIR=" + root.path + "/tmp",
                                     "XDG_DATA_HOME=" + root.path + "/data",
                                     "XDG_CACHE_HOME=" + root.path + "/cache",
                                     "XDG_CONFIG_HOME=" + root.path + "/config",
                                     "XDG_RUNTIME_DIR=" + root.path + "/runtime",
                                     "QT_QPA_PLATFORM=xcb", "QTWEBENGINE_DISABLE_SANDBOX=1"});
    }

    TestDir root;
    X11Probe probe;
};

TEST_F(BrollaEndToEndTest, AnsweringMesIsShownAndClosingTheWindowEndsCleanly) {
    TestDir certDir;
    ASSERT_TRUE(HttpsTestServer::MakeCertificate(certDir.path, "mes.example.invalid"));
    HttpsTestServer server(certDir.path, [](const HttpsTestServer::REQUEST& request) {
        HttpsTestServer::RESPONSE response;
        if (request.target == kPing) {
            response.body = "{\"ok\":true}";
        } else if (request.target == "/smt") {
            response.headers.emplace_back("Content-Type", "text/html; charset=utf-8");
            response.body =
                "<!DOCTYPE html><html><head><title>MES</title></head>"
                "<body style=\"margin:0;background:#ff8800\"><h1>MES</h1></body></html>";
        } else {
            response.status = 404;
            response.body = "{}";
        }
        return response;
    });
    std::string error;
    if (!server.Start(443, &error))
        GTEST_SKIP() << "port 443 cannot be bound: " << error;

    fs::create_directories(fs::path(root.path) / "tmp/qtwebengine-stale/inner");
    std::ofstream(root.path + "/tmp/QUTEBROWSER-stale") << "x";

    auto brolla = Launch();
    ASSERT_TRUE(brolla->Started());
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
    EXPECT_TRUE(WaitUntil(
        [&] {
            window = probe.FindShown("MES");
            share = window
                        ? probe.PixelShare(window, [](uint32_t rgb) { return rgb == kPageColour; })
                        : 0;
            return share > 0.5;
        },
        60s))
        << "window " << window << " shows the page's colour on " << share << " of its pixels";

    const std::string output = brolla->Output();
    EXPECT_NE(output.find("Removed: \"" + root.path + "/tmp/qtwebengine-stale\""),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("Removed: \"" + root.path + "/tmp/QUTEBROWSER-stale\""),
              std::string::npos);
    EXPECT_FALSE(fs::exists(root.path + "/tmp/qtwebengine-stale"));
    EXPECT_FALSE(fs::exists(root.path + "/tmp/QUTEBROWSER-stale"));

    ASSERT_NE(window, 0u);
    probe.RequestClose(window);
    EXPECT_EQ(brolla->WaitForExit(30s), std::optional<int>(0)) << brolla->Output();
    EXPECT_NE(brolla->Output().find("Application about to quit, cleaning up..."),
              std::string::npos);
    EXPECT_FALSE(fs::exists(root.path + "/tmp/brolla.lock"));
    EXPECT_EQ(brolla->Output().find("HALT"), std::string::npos);
}

TEST_F(BrollaEndToEndTest, SilentMesShowsTheShutdownBoxAndEndsWhenTheOperatorClosesIt) {
    {
        boost::asio::io_context ioc;
        boost::asio::ip::tcp::acceptor probe443(ioc);
        boost::system::error_code ec;
        const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"),
                                                      443);
        probe443.open(endpoint.protocol(), ec);
        if (!ec)
            probe443.set_option(boost::asio::socket_base::reuse_address(true), ec);
        if (!ec)
            probe443.bind(endpoint, ec);
        if (ec)
            GTEST_SKIP() << "port 443 cannot be bound, so it cannot be known free: "
                         << ec.message();
    }

    auto brolla = Launch();
    ASSERT_TRUE(brolla->Started());
    ASSERT_TRUE(brolla->WaitForOutput("Cannot connect to server:", 30s)) << brolla->Output();
    EXPECT_TRUE(
        InOrder(brolla->Output(), {"System is ready", "Checking network...", "Response: false",
                                   "Cannot connect to server:Couldn't connect to server"}))
        << brolla->Output();

    unsigned long box = 0;
    ASSERT_TRUE(WaitUntil([&] { return (box = probe.FindShown("Shutdown")) != 0; }, 30s))
        << brolla->Output();
    EXPECT_EQ(probe.FindShown("MES"), 0u);
    const std::string press =
        "xdotool windowfocus --sync " + std::to_string(box) + " key Return >/dev/null 2>&1";
    ASSERT_EQ(std::system(press.c_str()), 0);

    EXPECT_EQ(brolla->WaitForExit(30s), std::optional<int>(0)) << brolla->Output();
    const std::string output = brolla->Output();
    EXPECT_EQ(output.find("Network is ready"), std::string::npos);
    EXPECT_EQ(output.find("Boot..."), std::string::npos);
    EXPECT_FALSE(fs::exists(root.path + "/tmp/brolla.lock"));
}

}  // namespace
