#include "Net/CWsEngine.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "Net/CWsUrl.h"
#include "Platform/Halt.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using std::chrono::milliseconds;

namespace _NET {

namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kKeptBufferCapacity = 1024 * 1024;
constexpr size_t kMaxCloseReason = 123;
constexpr uint16_t kNoStatusCode = 1005;

struct Config {
    std::string url;
    bool deflate = true;
    CWsEngine::Callback callback;
    milliseconds pingInterval{0};
    milliseconds minWait{1000};
    milliseconds maxWait{10000};
};

struct Outgoing {
    enum KIND { TEXT, BINARY, PING, CLOSE };
    KIND kind = TEXT;
    std::string data;  // payload, or the close reason
    uint16_t code = 0;
};

// One connection attempt and, once its handshake succeeds, the connection itself. Every handler
// holds it, so it outlives its own operations; a new attempt never reuses it.
struct Connection {
    explicit Connection(asio::io_context& ioc)
        : resolver(ioc), ws(ioc), deadline(ioc), pingTimer(ioc) {}

    CWsUrl url;
    tcp::resolver resolver;
    websocket::stream<beast::tcp_stream> ws;
    beast::flat_buffer in;
    asio::steady_timer deadline;  // of the attempt, later of the close handshake
    asio::steady_timer pingTimer;
    std::deque<Outgoing> out;
    bool writing = false;
    bool open = false;
    bool ended = false;
    bool closing = false;
    bool awaitingPong = false;
    uint16_t closeCode = 0;
    std::string closeReason;
};

using ConnectionPtr = std::shared_ptr<Connection>;

}  // namespace

struct CWsEngine::Impl {
    std::mutex mutex;  // configuration, Start and Stop
    Config config;
    std::thread thread;
    // Each run has its own context, so that Stop also ends the resolver's helper thread.
    std::mutex contextMutex;  // the context pointer against posts from other threads
    std::unique_ptr<asio::io_context> ioc;
    std::atomic<bool> open{false};

    // Owned by the engine's thread while it runs.
    Config run;
    bool stopping = false;
    uint32_t failures = 0;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::optional<asio::steady_timer> retryTimer;
    ConnectionPtr conn;

    void Deliver(CWsMessage message) {
        if (!run.callback)
            return;
        // A throwing callback must not take the engine's thread down with it.
        try {
            run.callback(message);
        } catch (...) {
        }
    }

    void Deliver(CWsMessage::TYPE type, std::string text = {}) {
        CWsMessage message;
        message.type = type;
        message.str = std::move(text);
        Deliver(std::move(message));
    }

    void Connect() {
        if (stopping)
            return;
        auto c = std::make_shared<Connection>(*ioc);
        conn = c;
        const std::optional<CWsUrl> url = CWsUrl::Parse(run.url);
        if (!url) {
            Fail(c, "Invalid URL: " + run.url);
            return;
        }
        c->url = *url;
        c->deadline.expires_after(kConnectTimeout);
        c->deadline.async_wait([this, c](beast::error_code ec) {
            if (!ec && !c->open)
                Fail(c, "Connection timed out");
        });
        c->resolver.async_resolve(
            c->url.host, c->url.port,
            [this, c](beast::error_code ec, const tcp::resolver::results_type& results) {
                OnResolved(c, ec, results);
            });
    }

    void OnResolved(const ConnectionPtr& c, beast::error_code ec,
                    const tcp::resolver::results_type& results) {
        if (c->ended)
            return;
        if (ec)
            return Fail(c, ec.message());
        beast::get_lowest_layer(c->ws).async_connect(
            results,
            [this, c](beast::error_code ec, const tcp::endpoint&) { OnTcpConnected(c, ec); });
    }

    void OnTcpConnected(const ConnectionPtr& c, beast::error_code ec) {
        if (c->ended)
            return;
        if (ec)
            return Fail(c, ec.message());
        beast::error_code ignored;
        beast::get_lowest_layer(c->ws).socket().set_option(tcp::no_delay(true), ignored);

        // The engine keeps its own time limits and pings.
        c->ws.set_option(websocket::stream_base::timeout{websocket::stream_base::none(),
                                                         websocket::stream_base::none(), false});
        websocket::permessage_deflate deflate;
        deflate.client_enable = run.deflate;
        c->ws.set_option(deflate);
        c->ws.read_message_max(kMaxMessageSize);
        c->ws.auto_fragment(false);  // one frame per message
        Connection* raw = c.get();   // the stream owns the callback: no cycle through it
        c->ws.control_callback([this, raw](websocket::frame_type kind, beast::string_view payload) {
            OnControl(*raw, kind, payload);
        });
        c->ws.async_handshake(c->url.hostHeader, c->url.target,
                              [this, c](beast::error_code ec) { OnHandshake(c, ec); });
    }

    void OnHandshake(const ConnectionPtr& c, beast::error_code ec) {
        if (c->ended)
            return;
        if (ec)
            return Fail(c, ec.message());
        c->open = true;
        c->deadline.cancel();
        failures = 0;
        open = true;
        Deliver(CWsMessage::TYPE_OPEN);
        Read(c);
        SchedulePing(c);
    }

    // A failed attempt: report it and wait before the next one of this round.
    void Fail(const ConnectionPtr& c, const std::string& reason) {
        if (c->ended)
            return;
        c->ended = true;
        Shut(*c);
        if (stopping)
            return;
        Deliver(CWsMessage::TYPE_ERROR, reason);
        retryTimer->expires_after(RetryWait(failures, run.minWait, run.maxWait));
        if (failures < 64)
            ++failures;
        retryTimer->async_wait([this](beast::error_code ec) {
            if (!ec)
                Connect();
        });
    }

    // The end of an open connection: report it once and start a new round at once.
    void Lost(const ConnectionPtr& c, beast::error_code ec) {
        if (c->ended)
            return;
        c->ended = true;
        open = false;
        CWsMessage message;
        if (c->closing) {
            message.type = CWsMessage::TYPE_CLOSE;
            message.closeCode = c->closeCode;
            message.str = c->closeReason;
        } else if (ec == websocket::error::closed) {
            const websocket::close_reason& reason = c->ws.reason();
            message.type = CWsMessage::TYPE_CLOSE;
            message.closeCode =
                reason.code == websocket::close_code::none ? kNoStatusCode : reason.code;
            message.str = std::string(reason.reason.data(), reason.reason.size());
        } else {
            message.type = CWsMessage::TYPE_ERROR;
            message.str = ec.message();
        }
        Shut(*c);
        Deliver(std::move(message));
        if (stopping)
            return;
        failures = 0;
        asio::post(*ioc, [this] { Connect(); });
    }

    static void Shut(Connection& c) {
        c.resolver.cancel();
        c.deadline.cancel();
        c.pingTimer.cancel();
        beast::get_lowest_layer(c.ws).close();
    }

    void Read(const ConnectionPtr& c) {
        c->ws.async_read_some(c->in, kReadChunk,
                              [this, c](beast::error_code ec, size_t) { OnRead(c, ec); });
    }

    void OnRead(const ConnectionPtr& c, beast::error_code ec) {
        if (c->ended)
            return;
        if (ec)
            return Lost(c, ec);
        if (c->ws.is_message_done()) {
            CWsMessage message;
            message.type = CWsMessage::TYPE_MESSAGE;
            message.binary = c->ws.got_binary();
            message.str = beast::buffers_to_string(c->in.data());
            c->in.clear();
            if (c->in.capacity() > kKeptBufferCapacity)
                c->in.shrink_to_fit();
            Deliver(std::move(message));
        } else {
            Deliver(CWsMessage::TYPE_FRAGMENT);
        }
        if (!c->ended)
            Read(c);
    }

    void OnControl(Connection& c, websocket::frame_type kind, beast::string_view payload) {
        if (c.ended)
            return;
        if (kind == websocket::frame_type::pong) {
            c.awaitingPong = false;
            Deliver(CWsMessage::TYPE_PONG, std::string(payload.data(), payload.size()));
        } else if (kind == websocket::frame_type::ping) {
            Deliver(CWsMessage::TYPE_PING, std::string(payload.data(), payload.size()));
        }
    }

    void SchedulePing(const ConnectionPtr& c) {
        if (run.pingInterval.count() <= 0)
            return;
        c->pingTimer.expires_after(run.pingInterval);
        c->pingTimer.async_wait([this, c](beast::error_code ec) {
            if (ec || c->ended || c->closing)
                return;
            if (c->awaitingPong)
                return RequestClose(c, 1011, "Ping timeout");
            c->awaitingPong = true;
            Enqueue(c, Outgoing{Outgoing::PING, {}, 0});
            SchedulePing(c);
        });
    }

    // Starts the close handshake behind the messages already queued; the connection ends when
    // the peer answers, or when it has not answered in time.
    void RequestClose(const ConnectionPtr& c, uint16_t code, const std::string& reason) {
        if (c->ended || c->closing)
            return;
        c->closing = true;
        c->closeCode = code;
        c->closeReason = reason.substr(0, kMaxCloseReason);
        c->pingTimer.cancel();
        c->deadline.expires_after(kCloseTimeout);
        c->deadline.async_wait([this, c](beast::error_code ec) {
            if (!ec)
                Lost(c, asio::error::timed_out);
        });
        Enqueue(c, Outgoing{Outgoing::CLOSE, c->closeReason, code});
    }

    void Enqueue(const ConnectionPtr& c, Outgoing item) {
        c->out.push_back(std::move(item));
        if (!c->writing)
            WriteNext(c);
    }

    void WriteNext(const ConnectionPtr& c) {
        c->writing = !c->ended && !c->out.empty();
        if (!c->writing)
            return;
        Outgoing& item = c->out.front();  // stays in place until its write completes
        auto done = [this, c](beast::error_code ec, size_t = 0) { OnWritten(c, ec); };
        switch (item.kind) {
            case Outgoing::TEXT:
            case Outgoing::BINARY:
                c->ws.text(item.kind == Outgoing::TEXT);
                c->ws.async_write(asio::buffer(item.data), done);
                break;
            case Outgoing::PING:
                c->ws.async_ping({}, done);
                break;
            case Outgoing::CLOSE:
                c->ws.async_close(websocket::close_reason(
                                      static_cast<websocket::close_code>(item.code), item.data),
                                  done);
                break;
        }
    }

    void OnWritten(const ConnectionPtr& c, beast::error_code ec) {
        if (c->ended)
            return;
        if (ec)
            return Lost(c, ec);
        const bool wasClose = c->out.front().kind == Outgoing::CLOSE;
        c->out.pop_front();
        if (wasClose) {
            c->writing = false;  // the read ends the connection when the peer answers
            return;
        }
        WriteNext(c);
    }

    void DoStop(uint16_t code, const std::string& reason) {
        stopping = true;
        retryTimer->cancel();
        if (conn && !conn->ended) {
            if (conn->open) {
                RequestClose(conn, code, reason);
            } else {
                conn->ended = true;
                Shut(*conn);
            }
        }
        work.reset();
    }

    bool Queue(std::string data, bool binary) {
        std::lock_guard<std::mutex> lock(contextMutex);
        if (!open || !ioc)
            return false;
        asio::post(*ioc, [this, data = std::move(data), binary]() mutable {
            if (!conn || !conn->open || conn->ended || conn->closing)
                return;
            Enqueue(conn, Outgoing{binary ? Outgoing::BINARY : Outgoing::TEXT, std::move(data), 0});
        });
        return true;
    }
};

CWsEngine::CWsEngine() : m_Impl(std::make_unique<Impl>()) {}

CWsEngine::~CWsEngine() {
    Stop(1000, "Normal closure");
}

void CWsEngine::SetUrl(const std::string& url) {
    std::lock_guard<std::mutex> lock(m_Impl->mutex);
    m_Impl->config.url = url;
}

void CWsEngine::DisablePerMessageDeflate() {
    std::lock_guard<std::mutex> lock(m_Impl->mutex);
    m_Impl->config.deflate = false;
}

void CWsEngine::SetOnMessageCallback(const Callback& callback) {
    std::lock_guard<std::mutex> lock(m_Impl->mutex);
    m_Impl->config.callback = callback;
}

void CWsEngine::SetPingInterval(milliseconds interval) {
    std::lock_guard<std::mutex> lock(m_Impl->mutex);
    m_Impl->config.pingInterval = interval;
}

void CWsEngine::SetMinWaitBetweenReconnectionRetries(milliseconds wait) {
    std::lock_guard<std::mutex> lock(m_Impl->mutex);
    m_Impl->config.minWait = wait;
}

void CWsEngine::SetMaxWaitBetweenReconnectionRetries(milliseconds wait) {
    std::lock_guard<std::mutex> lock(m_Impl->mutex);
    m_Impl->config.maxWait = wait;
}

void CWsEngine::Start() {
    Impl& d = *m_Impl;
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.thread.joinable())
        return;
    d.run = d.config;
    d.stopping = false;
    d.failures = 0;
    {
        std::lock_guard<std::mutex> context(d.contextMutex);
        d.ioc = std::make_unique<asio::io_context>();
    }
    d.work.emplace(d.ioc->get_executor());
    d.retryTimer.emplace(*d.ioc);
    asio::post(*d.ioc, [&d] { d.Connect(); });
    d.thread = std::thread([&d] { d.ioc->run(); });
}

void CWsEngine::Stop(uint16_t code, const std::string& reason) {
    Impl& d = *m_Impl;
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.thread.joinable())
        return;
    if (std::this_thread::get_id() == d.thread.get_id())
        HALT();
    asio::post(*d.ioc, [&d, code, reason] { d.DoStop(code, reason); });
    d.thread.join();
    d.open = false;
    d.conn.reset();
    d.retryTimer.reset();
    d.work.reset();
    std::lock_guard<std::mutex> context(d.contextMutex);
    d.ioc.reset();
}

bool CWsEngine::Send(const std::string& text) {
    return m_Impl->Queue(text, false);
}

bool CWsEngine::SendBinary(const std::string& data) {
    return m_Impl->Queue(data, true);
}

milliseconds CWsEngine::RetryWait(uint32_t failedBefore, milliseconds min, milliseconds max) {
    const milliseconds wait = failedBefore >= 30 ? max : milliseconds(100LL << failedBefore);
    return std::max(min, std::min(wait, max));
}

}  // namespace _NET
