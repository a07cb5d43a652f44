#include "App/HttpsTestServer.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <strings.h>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;

std::string HttpsTestServer::REQUEST::Header(const std::string& name) const {
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0)
            return h.second;
    return {};
}

bool HttpsTestServer::MakeCertificate(const std::string& dir, const std::string& commonName) {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1"
        " -nodes -days 2 -subj '/CN=" +
        commonName + "' -keyout '" + dir + "/key.pem' -out '" + dir + "/cert.pem' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

struct HttpsTestServer::Impl {
    Handler handler;
    asio::io_context ioc;
    asio::ssl::context ssl{asio::ssl::context::tls_server};
    tcp::acceptor acceptor{ioc};
    std::thread thread;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<REQUEST> requests;
    std::vector<std::shared_ptr<void>> hanging;

    void Accept();
    void Record(const REQUEST& request) {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(request);
        changed.notify_all();
    }
};

namespace {

struct Connection : std::enable_shared_from_this<Connection> {
    Connection(HttpsTestServer::Impl* server, tcp::socket socket)
        : server(server), stream(std::move(socket), server->ssl) {}

    void Run() {
        auto self = shared_from_this();
        stream.async_handshake(asio::ssl::stream_base::server,
                               [self](boost::system::error_code ec) {
                                   if (!ec)
                                       self->Read();
                               });
    }

    void Read() {
        request = {};
        auto self = shared_from_this();
        http::async_read(stream, buffer, request, [self](boost::system::error_code ec, size_t) {
            if (!ec)
                self->Answer();
        });
    }

    void Answer() {
        HttpsTestServer::REQUEST seen;
        seen.method = std::string(request.method_string());
        seen.target = std::string(request.target());
        seen.body = request.body();
        for (const auto& field : request)
            seen.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        const HttpsTestServer::RESPONSE answer = server->handler(seen);
        server->Record(seen);
        if (answer.hang) {
            std::lock_guard<std::mutex> lock(server->mutex);
            server->hanging.push_back(shared_from_this());
            return;
        }
        response = {};
        response.version(11);
        response.result(static_cast<unsigned>(answer.status));
        for (const auto& h : answer.headers)
            response.set(h.first, h.second);
        response.body() = answer.body;
        response.keep_alive(request.keep_alive() && !answer.close);
        response.prepare_payload();
        if (answer.dropAfter && *answer.dropAfter < answer.body.size())
            response.body().resize(*answer.dropAfter);
        const bool drop = answer.dropAfter.has_value();
        auto self = shared_from_this();
        http::async_write(stream, response, [self, drop](boost::system::error_code ec, size_t) {
            if (drop) {
                boost::system::error_code ignored;
                self->stream.next_layer().close(ignored);
                return;
            }
            if (ec)
                return;
            if (self->response.keep_alive()) {
                self->Read();
            } else {
                self->stream.async_shutdown([self](boost::system::error_code) {});
            }
        });
    }

    HttpsTestServer::Impl* server;
    asio::ssl::stream<tcp::socket> stream;
    boost::beast::flat_buffer buffer;
    http::request<http::string_body> request;
    http::response<http::string_body> response;
};

// Binds acceptor to host:port (and listens); false, closed, with the reason when it cannot.
bool Bind(tcp::acceptor& acceptor, const std::string& host, uint16_t port, bool listen,
          std::string* error) {
    boost::system::error_code ec;
    const asio::ip::address address = asio::ip::make_address(host, ec);
    if (ec) {
        if (error)
            *error = host + ": " + ec.message();
        return false;
    }
    const tcp::endpoint endpoint(address, port);
    acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec && listen)
        acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (!ec)
        return true;
    if (error)
        *error = ec.message();
    acceptor.close(ec);
    return false;
}

}  // namespace

void HttpsTestServer::Impl::Accept() {
    acceptor.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
        if (ec)
            return;
        std::make_shared<Connection>(this, std::move(socket))->Run();
        Accept();
    });
}

HttpsTestServer::HttpsTestServer(const std::string& certDir, Handler handler)
    : m_Impl(std::make_unique<Impl>()) {
    m_Impl->handler = std::move(handler);
    boost::system::error_code ec;
    m_Impl->ssl.use_certificate_chain_file(certDir + "/cert.pem", ec);
    m_Impl->ssl.use_private_key_file(certDir + "/key.pem", asio::ssl::context::pem, ec);
}

HttpsTestServer::~HttpsTestServer() {
    Stop();
}

bool HttpsTestServer::PortIsFree(uint16_t port, std::string* error, const std::string& host) {
    asio::io_context ioc;
    tcp::acceptor acceptor(ioc);
    return Bind(acceptor, host, port, false, error);
}

bool HttpsTestServer::Start(uint16_t port, std::string* error, const std::string& host) {
    if (!Bind(m_Impl->acceptor, host, port, true, error))
        return false;
    m_Impl->Accept();
    m_Impl->thread = std::thread([this] { m_Impl->ioc.run(); });
    return true;
}

void HttpsTestServer::Stop() {
    if (!m_Impl->thread.joinable())
        return;
    m_Impl->ioc.stop();
    m_Impl->thread.join();
    boost::system::error_code ec;
    m_Impl->acceptor.close(ec);
    std::lock_guard<std::mutex> lock(m_Impl->mutex);
    m_Impl->hanging.clear();
}

uint16_t HttpsTestServer::Port() const {
    boost::system::error_code ec;
    return m_Impl->acceptor.local_endpoint(ec).port();
}

std::vector<HttpsTestServer::REQUEST> HttpsTestServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_Impl->mutex);
    return m_Impl->requests;
}

bool HttpsTestServer::WaitForRequest(const std::function<bool(const REQUEST&)>& match,
                                     std::chrono::milliseconds deadline) const {
    std::unique_lock<std::mutex> lock(m_Impl->mutex);
    return m_Impl->changed.wait_for(lock, deadline, [&] {
        for (const auto& r : m_Impl->requests)
            if (match(r))
                return true;
        return false;
    });
}
