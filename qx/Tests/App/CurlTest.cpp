#include <gtest/gtest.h>

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <tuple>

#include "App/Code_Curl.h"
#include "App/HttpsTestServer.h"
#include "Platform/Json.h"
#include "Support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using REQUEST = HttpsTestServer::REQUEST;
using RESPONSE = HttpsTestServer::RESPONSE;

RESPONSE Route(const REQUEST& request) {
    RESPONSE response;
    if (request.target == "/status500") {
        response.status = 500;
        response.body = "{}";
    } else if (request.target == "/empty") {
        response.status = 200;
    } else if (request.target == "/html") {
        response.status = 404;
        response.body = "<html><body>Not found</body></html>";
    } else if (request.target == "/redirect") {
        response.status = 302;
        response.headers.emplace_back("Location", "/final");
        response.body = "<a href=\"/final\">moved</a>";
    } else if (request.target == "/final") {
        response.body = "{\"final\":true}";
    } else if (request.target == "/array") {
        response.body = "[1,2]";
    } else if (request.target == "/deep") {
        const size_t depth = _OS::MAX_JSON_DEPTH + 1;
        response.body = std::string(depth, '[') + std::string(depth, ']');
    } else if (request.target.rfind("/sized/", 0) == 0) {
        // A JSON string of the size the path names.
        const size_t size = std::stoul(request.target.substr(7));
        response.body = "\"" + std::string(size - 2, 'a') + "\"";
    } else if (request.target == "/hang") {
        response.hang = true;
    } else {
        response.body = "{\"echo\":true}";
    }
    return response;
}

// One certificate for a host name other than the address the client connects to.
struct CurlTest : testing::Test {
    static void SetUpTestSuite() {
        certDir = std::make_unique<SUPPORT::TEMP_DIR>();
        ASSERT_TRUE(
            HttpsTestServer::MakeCertificate(certDir->m_Path.string(), "mes.example.invalid"));
    }
    static void TearDownTestSuite() { certDir.reset(); }

    void SetUp() override {
        server = std::make_unique<HttpsTestServer>(certDir->m_Path.string(), Route);
        std::string error;
        ASSERT_TRUE(server->Start(0, &error)) << error;
    }

    _NET::ICurl::RESULT Post(const std::string& path, const nlohmann::json& body = {},
                             int timeoutMs = 10000) const {
        const std::string url = "https://127.0.0.1:" + std::to_string(server->Port()) + path;
        return _NET::Code_Curl::Create(url)->Post(body, timeoutMs);
    }

    static std::unique_ptr<SUPPORT::TEMP_DIR> certDir;
    std::unique_ptr<HttpsTestServer> server;
};
std::unique_ptr<SUPPORT::TEMP_DIR> CurlTest::certDir;

TEST_F(CurlTest, JsonBodyCountsWhateverTheStatus) {
    const auto result = Post("/status500", nlohmann::json::object());
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.status, 500);
    EXPECT_EQ(result.data, nlohmann::json::object());
    EXPECT_EQ(result.body, "{}");
    EXPECT_EQ(result.error, "");

    const auto array = Post("/array");
    EXPECT_TRUE(array.ok);
    EXPECT_EQ(array.data, nlohmann::json::parse("[1,2]"));
}

TEST_F(CurlTest, BodyThatIsNotJsonFailsWithParserMessage) {
    const size_t depth = _OS::MAX_JSON_DEPTH + 1;
    const std::tuple<std::string, int, std::string> cases[] = {
        {"/empty", 200, ""},
        {"/html", 404, "<html><body>Not found</body></html>"},
        {"/deep", 200, std::string(depth, '[') + std::string(depth, ']')}};
    for (const auto& [path, status, body] : cases) {
        const auto result = Post(path);
        EXPECT_FALSE(result.ok) << path;
        EXPECT_EQ(result.status, status) << path;
        EXPECT_EQ(result.body, body) << path;
        EXPECT_TRUE(result.data.is_null()) << path;
        EXPECT_EQ(result.error.rfind("JSON parse error: ", 0), 0u) << result.error;
        EXPECT_GT(result.error.size(), std::string("JSON parse error: ").size()) << path;
    }
}

TEST_F(CurlTest, ReplyLongerThanTheBoundFailsAndIsNotKept) {
    const size_t bound = _NET::Code_Curl::kMaxReplyBytes;
    const auto atBound = Post("/sized/" + std::to_string(bound));
    EXPECT_TRUE(atBound.ok) << atBound.error;
    EXPECT_EQ(atBound.body.size(), bound);

    const auto longer = Post("/sized/" + std::to_string(bound + 1));
    EXPECT_FALSE(longer.ok);
    EXPECT_EQ(longer.status, 0);
    EXPECT_EQ(longer.body.size(), 0u);
    EXPECT_TRUE(longer.data.is_null());
    EXPECT_EQ(longer.error, "Reply longer than 64 KiB");
}

TEST_F(CurlTest, SilentServerFailsAfterTheTimeout) {
    const auto start = std::chrono::steady_clock::now();
    const auto result = Post("/hang", {}, 700);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.error, curl_easy_strerror(CURLE_OPERATION_TIMEDOUT));
    EXPECT_GE(elapsed, 650ms);
    EXPECT_LT(elapsed, 8000ms);
}

TEST_F(CurlTest, RedirectIsFollowedAndFinalReplyReported) {
    const auto result = Post("/redirect");
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.data, nlohmann::json({{"final", true}}));
    EXPECT_TRUE(server->WaitForRequest([](const REQUEST& r) { return r.target == "/final"; }, 1s));
}

TEST_F(CurlTest, RequestCarriesExactBodyAndHeadersInOrder) {
    const auto result = Post("/echo", nlohmann::json::object());
    ASSERT_TRUE(result.ok) << result.error;
    const auto requests = server->Requests();
    ASSERT_EQ(requests.size(), 1u);
    const REQUEST& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/echo");
    EXPECT_EQ(r.body, "{}");
    EXPECT_EQ(r.Header("Content-Length"), "2");
    EXPECT_EQ(r.Header("Content-Type"), "application/json");
    EXPECT_EQ(r.Header("Accept"), "application/json");
    EXPECT_EQ(r.Header("User-Agent"), "JsonHttpClient/1.0");
    std::vector<std::string> order;
    for (const auto& h : r.headers)
        if (h.first == "Content-Type" || h.first == "Accept" || h.first == "User-Agent")
            order.push_back(h.first);
    EXPECT_EQ(order, (std::vector<std::string>{"Content-Type", "Accept", "User-Agent"}));
}

TEST_F(CurlTest, TextIsSentAsRawUtf8AndInvalidUtf8IsRefusedBeforeSending) {
    const auto sent = Post("/echo", {{"k", "\xe6\xb5\x8b"}});
    ASSERT_TRUE(sent.ok) << sent.error;
    const auto invalid = Post("/echo", {{"k", "\xff"}});
    EXPECT_FALSE(invalid.ok);
    EXPECT_EQ(invalid.status, 0);
    EXPECT_EQ(invalid.error.rfind("Exception: ", 0), 0u) << invalid.error;
    const auto requests = server->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, "{\"k\":\"\xe6\xb5\x8b\"}");
}

}  // namespace
