#include "App/Code_Curl.h"

#include <curl/curl.h>

#include <exception>
#include <new>

#include "Platform/Json.h"
#include "Platform/NetStartup.h"

namespace _NET {

namespace {

// The reply so far; a short count from the callback makes libcurl fail the transfer.
struct REPLY {
    std::string text;
    bool tooLong = false;
};

size_t WriteCallback(char* data, size_t size, size_t count, void* user) {
    auto* reply = static_cast<REPLY*>(user);
    const size_t bytes = size * count;
    if (bytes > Code_Curl::kMaxReplyBytes - reply->text.size()) {
        reply->tooLong = true;
        return 0;
    }
    try {
        reply->text.append(data, bytes);
    } catch (const std::bad_alloc&) {
        // No exception may cross libcurl.
        return 0;
    }
    return bytes;
}

}  // namespace

Code_Curl::Code_Curl(const std::string& url) : m_Url(url) {}

// libcurl's global state is paired per client: taken here, given back by the destructor.
_OBJ<ICurl> Code_Curl::Create(const std::string& url) {
    Startup();
    curl_global_init(CURL_GLOBAL_ALL);
    auto* curl = new (std::nothrow) Code_Curl(url);
    if (!curl) {
        curl_global_cleanup();
        return {};
    }
    return _OBJ<ICurl>(curl);
}

Code_Curl::~Code_Curl() {
    curl_global_cleanup();
}

ICurl::RESULT Code_Curl::Post(const nlohmann::json& body, int timeoutMs) {
    RESULT result;
    CURL* curl = curl_easy_init();
    if (!curl)
        return result;

    curl_slist* headers = nullptr;
    try {
        const std::string request =
            body.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
        headers = curl_slist_append(headers, "Content-Type: application/json");
        headers = curl_slist_append(headers, "Accept: application/json");
        headers = curl_slist_append(headers, "User-Agent: JsonHttpClient/1.0");

        REPLY reply;
        curl_easy_setopt(curl, CURLOPT_URL, m_Url.c_str());
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.size()));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteCallback);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);

        const CURLcode code = curl_easy_perform(curl);
        if (reply.tooLong) {
            result.error = "Reply longer than 64 KiB";
        } else if (code != CURLE_OK) {
            result.error = curl_easy_strerror(code);
        } else {
            long status = 0;
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
            result.status = static_cast<int32_t>(status);
            result.body = reply.text;
            try {
                result.data = _OS::ParseJson(reply.text);
                result.ok = true;
            } catch (const nlohmann::json::parse_error& e) {
                result.error = std::string("JSON parse error: ") + e.what();
            }
        }
    } catch (const std::exception& e) {
        result.ok = false;
        result.data = nullptr;
        result.error = std::string("Exception: ") + e.what();
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return result;
}

}  // namespace _NET
