#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A small HTTPS/1.1 server for tests, on 127.0.0.1 or another address of this machine, with a
// certificate made by the openssl command. Every request is recorded and answered by the handler.
struct HttpsTestServer {
    struct REQUEST {
        std::string method;
        std::string target;
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;  // in arrival order

        std::string Header(const std::string& name) const;
    };
    struct RESPONSE {
        int status = 200;
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
        bool hang = false;   // read the request, then never answer
        bool close = false;  // answer, then close the connection (the next request needs a new one)
        // When set: the headers announce the whole body, then only this many bytes of it are
        // sent and the connection is dropped.
        std::optional<size_t> dropAfter;
    };
    using Handler = std::function<RESPONSE(const REQUEST&)>;

    // Writes a self-signed certificate for commonName and its key into dir; false on failure.
    static bool MakeCertificate(const std::string& dir, const std::string& commonName);

    // Whether host:port can be bound right now (the reason in error when not).
    static bool PortIsFree(uint16_t port, std::string* error,
                           const std::string& host = "127.0.0.1");

    HttpsTestServer(const std::string& certDir, Handler handler);
    ~HttpsTestServer();

    // port 0 picks a free port; false (with the reason) when it cannot be bound.
    bool Start(uint16_t port, std::string* error, const std::string& host = "127.0.0.1");
    void Stop();
    uint16_t Port() const;

    std::vector<REQUEST> Requests() const;
    // Waits until a recorded request satisfies match or the deadline passes.
    bool WaitForRequest(const std::function<bool(const REQUEST&)>& match,
                        std::chrono::milliseconds deadline) const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_Impl;
};
