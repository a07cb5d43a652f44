#include "Support/WsTestPeer.h"

#include <array>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace SUPPORT {

namespace {

std::string EncodeFrame(uint8_t opcode, bool fin, const std::string& payload) {
    std::string out;
    out.push_back(static_cast<char>((fin ? 0x80 : 0x00) | (opcode & 0x0f)));
    const uint64_t size = payload.size();
    if (size < 126) {
        out.push_back(static_cast<char>(size));
    } else if (size <= 0xffff) {
        out.push_back(126);
        out.push_back(static_cast<char>(size >> 8));
        out.push_back(static_cast<char>(size));
    } else {
        out.push_back(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            out.push_back(static_cast<char>(size >> shift));
    }
    return out + payload;
}

struct PeerConnection {
    explicit PeerConnection(tcp::socket s, size_t n)
        : socket(std::move(s)), readPause(socket.get_executor()), number(n) {}

    tcp::socket socket;
    asio::steady_timer readPause;
    size_t number;
    std::array<char, 65536> chunk{};
    std::string in;
    std::deque<std::string> out;
    bool writing = false;
    bool alive = true;
    bool closeSent = false;
    bool shutAfterWrite = false;
};

using PeerConnectionPtr = std::shared_ptr<PeerConnection>;
using Request = beast::http::request<beast::http::string_body>;

}  // namespace

struct CWsTestPeer::Impl {
    asio::io_context ioc;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    tcp::acceptor acceptor{ioc};
    uint16_t port = 0;
    std::thread thread;

    mutable std::mutex mutex;  // everything below, read by the test's threads
    mutable std::condition_variable changed;
    uint64_t changes = 0;
    std::vector<Frame> frames;
    size_t attempts = 0;
    size_t connections = 0;
    size_t disconnections = 0;
    bool holdHandshakes = false;
    DROP drop = DROP_NONE;
    std::string lastTarget;
    std::string lastExtensions;
    bool answerPings = true;
    bool answerCloses = true;
    std::chrono::milliseconds readPause{0};
    std::shared_ptr<const Responder> responder;

    // Engine thread only.
    PeerConnectionPtr current;
    std::vector<tcp::socket> held;
    std::vector<std::weak_ptr<PeerConnection>> all;

    template <typename F>
    void Update(F&& f) {
        std::lock_guard<std::mutex> lock(mutex);
        f();
        ++changes;
        changed.notify_all();
    }

    template <typename T>
    T Get(T Impl::*member) const {
        std::lock_guard<std::mutex> lock(mutex);
        return this->*member;
    }

    template <typename F>
    auto RunSync(F&& f) {
        std::packaged_task<decltype(f())()> task(std::forward<F>(f));
        auto result = task.get_future();
        asio::post(ioc, [&task] { task(); });
        return result.get();
    }

    void Listen() {
        const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), port);
        acceptor.open(endpoint.protocol());
        acceptor.set_option(asio::socket_base::reuse_address(true));
        acceptor.bind(endpoint);
        acceptor.listen();
        port = acceptor.local_endpoint().port();
        Accept();
    }

    void Accept() {
        acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
            if (!acceptor.is_open())
                return;  // closed by Refuse
            if (!ec) {
                bool hold = false;
                DROP when = DROP_NONE;
                Update([&] {
                    ++attempts;
                    hold = holdHandshakes;
                    when = drop;
                });
                if (when == DROP_ON_ACCEPT) {
                    beast::error_code ignored;
                    socket.close(ignored);
                } else if (hold) {
                    held.push_back(std::move(socket));
                } else {
                    Handshake(std::move(socket));
                }
            }
            Accept();
        });
    }

    void Handshake(tcp::socket socket) {
        auto s = std::make_shared<tcp::socket>(std::move(socket));
        auto request = std::make_shared<Request>();
        auto buffer = std::make_shared<beast::flat_buffer>();
        beast::http::async_read(*s, *buffer, *request,
                                [this, s, request, buffer](beast::error_code ec, size_t) {
                                    if (!ec && websocket::is_upgrade(*request))
                                        Answer(std::move(*s), request);
                                });
    }

    // The connection counts as open, and takes frames to send, before the answer goes out: a
    // client that has the answer finds it current.
    void Answer(tcp::socket socket, const std::shared_ptr<Request>& request) {
        size_t number = 0;
        Update([&] {
            number = ++connections;
            lastTarget = std::string(request->target());
            lastExtensions = std::string((*request)[beast::http::field::sec_websocket_extensions]);
        });
        current = std::make_shared<PeerConnection>(std::move(socket), number);
        all.push_back(current);
        const PeerConnectionPtr c = current;
        c->writing = true;  // frames queued meanwhile go out behind the answer
        auto ws = std::make_shared<websocket::stream<tcp::socket&>>(c->socket);
        ws->async_accept(*request, [this, c, ws, request](beast::error_code ec) {
            if (ec)
                return Ended(c);
            if (Get(&Impl::drop) == DROP_ON_OPEN)
                return Shut(c);
            WriteNext(c);
            Read(c);
        });
    }

    void Read(const PeerConnectionPtr& c) {
        c->socket.async_read_some(asio::buffer(c->chunk),
                                  [this, c](beast::error_code ec, size_t n) {
                                      if (ec)
                                          return Ended(c);
                                      c->in.append(c->chunk.data(), n);
                                      while (c->alive && ParseFrame(c)) {
                                      }
                                      if (c->alive)
                                          PauseThenRead(c);
                                  });
    }

    void PauseThenRead(const PeerConnectionPtr& c) {
        const std::chrono::milliseconds pause = Get(&Impl::readPause);
        if (pause.count() <= 0)
            return Read(c);
        c->readPause.expires_after(pause);
        c->readPause.async_wait([this, c](beast::error_code) {
            if (c->alive)
                Read(c);
        });
    }

    // Takes one whole frame off the input; false when the input holds none yet.
    bool ParseFrame(const PeerConnectionPtr& c) {
        const std::string& in = c->in;
        if (in.size() < 2)
            return false;
        const auto byte = [&](size_t i) { return static_cast<uint8_t>(in[i]); };
        Frame frame;
        frame.fin = (byte(0) & 0x80) != 0;
        frame.opcode = byte(0) & 0x0f;
        frame.masked = (byte(1) & 0x80) != 0;
        uint64_t size = byte(1) & 0x7f;
        size_t pos = 2;
        const size_t lengthBytes = size == 126 ? 2 : size == 127 ? 8 : 0;
        if (in.size() < pos + lengthBytes)
            return false;
        if (lengthBytes) {
            size = 0;
            for (size_t i = 0; i < lengthBytes; ++i)
                size = (size << 8) | byte(pos + i);
            pos += lengthBytes;
        }
        std::array<uint8_t, 4> mask{};
        if (frame.masked) {
            if (in.size() < pos + 4)
                return false;
            for (size_t i = 0; i < 4; ++i)
                mask[i] = byte(pos + i);
            pos += 4;
        }
        if (in.size() - pos < size)
            return false;
        frame.payload = in.substr(pos, size);
        if (frame.masked) {
            for (size_t i = 0; i < frame.payload.size(); ++i)
                frame.payload[i] ^= mask[i % 4];
        }
        frame.connection = c->number;
        c->in.erase(0, pos + size);
        Received(c, std::move(frame));
        return true;
    }

    void Received(const PeerConnectionPtr& c, Frame frame) {
        if (frame.opcode == OPCODE_TEXT && frame.fin) {
            if (const std::shared_ptr<const Responder> respond = Get(&Impl::responder)) {
                std::string answer = (*respond)(frame.payload);
                if (!answer.empty())
                    return Write(c, EncodeFrame(OPCODE_TEXT, true, answer));
            }
        }
        bool pings = false;
        bool closes = false;
        Update([&] {
            pings = answerPings;
            closes = answerCloses;
            frames.push_back(frame);
        });
        if (frame.opcode == OPCODE_PING && pings) {
            Write(c, EncodeFrame(OPCODE_PONG, true, frame.payload));
        } else if (frame.opcode == OPCODE_CLOSE && closes) {
            if (!c->closeSent) {
                c->closeSent = true;
                Write(c, EncodeFrame(OPCODE_CLOSE, true, frame.payload.substr(0, 2)));
            }
            c->shutAfterWrite = true;
            if (!c->writing)
                Shut(c);
        }
    }

    void Write(const PeerConnectionPtr& c, std::string bytes) {
        if (!c->alive)
            return;
        c->out.push_back(std::move(bytes));
        if (!c->writing)
            WriteNext(c);
    }

    void WriteNext(const PeerConnectionPtr& c) {
        if (!c->alive)
            return;
        if (c->out.empty()) {
            c->writing = false;
            if (c->shutAfterWrite)
                Shut(c);
            return;
        }
        c->writing = true;
        asio::async_write(c->socket, asio::buffer(c->out.front()),
                          [this, c](beast::error_code ec, size_t) {
                              if (ec)
                                  return Ended(c);
                              c->out.pop_front();
                              WriteNext(c);
                          });
    }

    void Shut(const PeerConnectionPtr& c) {
        beast::error_code ignored;
        c->socket.shutdown(tcp::socket::shutdown_both, ignored);
        c->socket.close(ignored);
        Ended(c);
    }

    void Ended(const PeerConnectionPtr& c) {
        if (!c->alive)
            return;
        c->alive = false;
        beast::error_code ignored;
        c->socket.close(ignored);
        Update([&] { ++disconnections; });
    }

    bool OnCurrent(std::function<void(const PeerConnectionPtr&)> f) {
        return RunSync([this, &f] {
            if (!current || !current->alive)
                return false;
            f(current);
            return true;
        });
    }
};

CWsTestPeer::CWsTestPeer() : m_Impl(std::make_unique<Impl>()) {
    // Asio sets up a context's timers (on Windows with a thread of their own) at its first
    // timer: done now, so that thread counts taken while the peer serves stay steady.
    const asio::steady_timer first(m_Impl->ioc);
    m_Impl->Listen();
    m_Impl->work.emplace(m_Impl->ioc.get_executor());
    m_Impl->thread = std::thread([this] { m_Impl->ioc.run(); });
}

CWsTestPeer::~CWsTestPeer() {
    m_Impl->ioc.stop();
    m_Impl->thread.join();
}

uint16_t CWsTestPeer::Port() const {
    return m_Impl->port;
}

std::string CWsTestPeer::Url() const {
    return "ws://127.0.0.1:" + std::to_string(m_Impl->port) + "/";
}

std::vector<CWsTestPeer::Frame> CWsTestPeer::Frames() const {
    return m_Impl->Get(&Impl::frames);
}

std::vector<CWsTestPeer::Frame> CWsTestPeer::DataFrames() const {
    std::vector<Frame> result;
    for (Frame& frame : Frames()) {
        if (frame.opcode <= OPCODE_BINARY)
            result.push_back(std::move(frame));
    }
    return result;
}

size_t CWsTestPeer::Connections() const {
    return m_Impl->Get(&Impl::connections);
}

size_t CWsTestPeer::Attempts() const {
    return m_Impl->Get(&Impl::attempts);
}

size_t CWsTestPeer::Disconnections() const {
    return m_Impl->Get(&Impl::disconnections);
}

bool CWsTestPeer::IsConnected() const {
    std::lock_guard<std::mutex> lock(m_Impl->mutex);
    return m_Impl->connections > m_Impl->disconnections;
}

std::string CWsTestPeer::LastTarget() const {
    return m_Impl->Get(&Impl::lastTarget);
}

std::string CWsTestPeer::LastExtensions() const {
    return m_Impl->Get(&Impl::lastExtensions);
}

bool CWsTestPeer::WaitFor(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(m_Impl->mutex);
            seen = m_Impl->changes;
        }
        if (condition())
            return true;
        std::unique_lock<std::mutex> lock(m_Impl->mutex);
        // Conditions may also depend on state outside the peer: look again now and then.
        const auto wakeUp =
            std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
        m_Impl->changed.wait_until(lock, wakeUp, [&] { return m_Impl->changes != seen; });
        if (std::chrono::steady_clock::now() >= deadline) {
            lock.unlock();
            return condition();
        }
    }
}

bool CWsTestPeer::SendText(const std::string& text) {
    return SendFrame(OPCODE_TEXT, true, text);
}

bool CWsTestPeer::SendBinary(const std::string& data) {
    return SendFrame(OPCODE_BINARY, true, data);
}

bool CWsTestPeer::SendFrame(uint8_t opcode, bool fin, const std::string& payload) {
    return SendRaw(EncodeFrame(opcode, fin, payload));
}

bool CWsTestPeer::SendRaw(const std::string& bytes) {
    Impl& d = *m_Impl;
    return d.OnCurrent([&d, &bytes](const PeerConnectionPtr& c) { d.Write(c, bytes); });
}

size_t CWsTestPeer::Unwritten() const {
    Impl& d = *m_Impl;
    size_t bytes = 0;
    d.OnCurrent([&bytes](const PeerConnectionPtr& c) {
        for (const std::string& chunk : c->out)
            bytes += chunk.size();
    });
    return bytes;
}

bool CWsTestPeer::Close(uint16_t code, const std::string& reason) {
    Impl& d = *m_Impl;
    return d.OnCurrent([&](const PeerConnectionPtr& c) {
        std::string payload{static_cast<char>(code >> 8), static_cast<char>(code & 0xff)};
        c->closeSent = true;
        d.Write(c, EncodeFrame(OPCODE_CLOSE, true, payload + reason));
    });
}

bool CWsTestPeer::Drop() {
    Impl& d = *m_Impl;
    return d.OnCurrent([&d](const PeerConnectionPtr& c) { d.Shut(c); });
}

void CWsTestPeer::SetAnswerPings(bool answer) {
    m_Impl->Update([&] { m_Impl->answerPings = answer; });
}

void CWsTestPeer::SetAnswerCloses(bool answer) {
    m_Impl->Update([&] { m_Impl->answerCloses = answer; });
}

void CWsTestPeer::SetReadPause(std::chrono::milliseconds pause) {
    m_Impl->Update([&] { m_Impl->readPause = pause; });
}

void CWsTestPeer::SetResponder(Responder responder) {
    auto shared = responder ? std::make_shared<const Responder>(std::move(responder)) : nullptr;
    m_Impl->Update([&] { m_Impl->responder = std::move(shared); });
}

void CWsTestPeer::SetDropAtOnce(DROP when) {
    m_Impl->Update([&] { m_Impl->drop = when; });
}

void CWsTestPeer::SetHoldHandshakes(bool hold) {
    Impl& d = *m_Impl;
    d.RunSync([&d, hold] {
        d.Update([&] { d.holdHandshakes = hold; });
        if (!hold)
            d.held.clear();
    });
}

void CWsTestPeer::Refuse() {
    Impl& d = *m_Impl;
    d.RunSync([&d] {
        beast::error_code ignored;
        d.acceptor.close(ignored);
        for (const auto& weak : d.all) {
            if (PeerConnectionPtr c = weak.lock())
                d.Shut(c);
        }
        d.all.clear();
    });
}

void CWsTestPeer::Resume() {
    Impl& d = *m_Impl;
    d.RunSync([&d] { d.Listen(); });
}

uint16_t CWsTestPeer::CloseCode(const Frame& frame) {
    if (frame.payload.size() < 2)
        return 0;
    return static_cast<uint16_t>((static_cast<uint8_t>(frame.payload[0]) << 8) |
                                 static_cast<uint8_t>(frame.payload[1]));
}

std::string CWsTestPeer::CloseReason(const Frame& frame) {
    return frame.payload.size() > 2 ? frame.payload.substr(2) : std::string();
}

}  // namespace SUPPORT
