#include "Net/CWsConnection.h"

#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket.hpp>
#include <optional>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace _NET {

namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kKeptBufferCapacity = 1024 * 1024;
constexpr size_t kMaxCloseReason = 123;
constexpr uint16_t kNoStatusCode = 1005;

}  // namespace

CWsConnection::CWsConnection(asio::io_context& ioc, Settings settings, Hooks hooks)
    : m_Settings(std::move(settings)),
      m_Hooks(std::move(hooks)),
      m_Ws(ioc),
      m_Deadline(ioc),
      m_PingTimer(ioc) {}

void CWsConnection::Run() {
    const std::optional<CWsUrl> url = CWsUrl::Parse(m_Settings.m_Url);
    if (!url)
        return Fail("Invalid URL: " + m_Settings.m_Url);
    m_Url = *url;
    m_Deadline.expires_after(CWsEngine::kConnectTimeout);
    m_Deadline.async_wait([self = shared_from_this()](beast::error_code ec) {
        if (!ec && self->m_Phase < PHASE_OPEN)
            self->Fail("Connection timed out");
    });
    m_Lookup = CWsLookup::Start(m_Settings.m_Resolve, m_Url.host,
                                static_cast<uint16_t>(std::stoi(m_Url.port)), m_Ws.get_executor(),
                                [self = shared_from_this()](const CWsLookup::Endpoints& endpoints,
                                                            const std::string& error) {
                                    self->OnResolve(endpoints, error);
                                });
}

void CWsConnection::OnResolve(const CWsLookup::Endpoints& endpoints, const std::string& error) {
    if (m_Phase != PHASE_RESOLVING)
        return;
    if (!error.empty())
        return Fail(error);
    m_Phase = PHASE_CONNECTING;
    beast::get_lowest_layer(m_Ws).async_connect(
        endpoints, [self = shared_from_this()](beast::error_code ec, const tcp::endpoint&) {
            self->OnConnect(ec);
        });
}

void CWsConnection::OnConnect(beast::error_code ec) {
    if (m_Phase != PHASE_CONNECTING)
        return;
    if (ec)
        return Fail(ec.message());
    m_Phase = PHASE_HANDSHAKING;
    beast::error_code ignored;
    beast::get_lowest_layer(m_Ws).socket().set_option(tcp::no_delay(true), ignored);

    // The connection keeps its own time limits and pings.
    m_Ws.set_option(websocket::stream_base::timeout{websocket::stream_base::none(),
                                                    websocket::stream_base::none(), false});
    websocket::permessage_deflate deflate;
    deflate.client_enable = m_Settings.m_Deflate;
    m_Ws.set_option(deflate);
    m_Ws.read_message_max(CWsEngine::kMaxMessageSize);
    m_Ws.auto_fragment(false);  // one frame per message
    // The stream owns the callback: a plain pointer, no cycle through it.
    m_Ws.control_callback([this](websocket::frame_type kind, beast::string_view payload) {
        OnControl(kind, payload);
    });
    m_Ws.async_handshake(
        m_Url.hostHeader, m_Url.target,
        [self = shared_from_this()](beast::error_code ec) { self->OnHandshake(ec); });
}

void CWsConnection::OnHandshake(beast::error_code ec) {
    if (m_Phase != PHASE_HANDSHAKING)
        return;
    if (ec)
        return Fail(ec.message());
    m_Phase = PHASE_OPEN;
    m_Deadline.cancel();
    CWsMessage open;
    open.type = CWsMessage::TYPE_OPEN;
    m_Hooks.m_Report(std::move(open));
    ReadOn();
    SchedulePing();
}

void CWsConnection::ReadOn() {
    if (m_Hooks.m_MayRead()) {
        DoRead();
    } else {
        m_ReadHeld = true;
    }
}

void CWsConnection::ResumeRead() {
    if (!m_ReadHeld || m_Phase == PHASE_ENDED || IsClosing())
        return;
    m_ReadHeld = false;
    ReadOn();
}

void CWsConnection::DoRead() {
    m_Ws.async_read_some(
        m_In, kReadChunk,
        [self = shared_from_this()](beast::error_code ec, size_t) { self->OnRead(ec); });
}

void CWsConnection::OnRead(beast::error_code ec) {
    if (m_Phase == PHASE_ENDED)
        return;
    if (ec)
        return Lost(ec);
    CWsMessage message;
    if (m_Ws.is_message_done()) {
        message.type = CWsMessage::TYPE_MESSAGE;
        message.binary = m_Ws.got_binary();
        message.str = beast::buffers_to_string(m_In.data());
        m_In.clear();
        if (m_In.capacity() > kKeptBufferCapacity)
            m_In.shrink_to_fit();
    } else {
        message.type = CWsMessage::TYPE_FRAGMENT;
    }
    m_Hooks.m_Report(std::move(message));
    // Once the close frame is out, the stream's close reads up to the peer's answer itself; a
    // read of ours beside it can leave the close waiting for a frame this read consumed.
    if (!IsClosing())
        ReadOn();
}

void CWsConnection::OnControl(websocket::frame_type kind, beast::string_view payload) {
    if (m_Phase == PHASE_ENDED)
        return;
    CWsMessage message;
    message.str = std::string(payload.data(), payload.size());
    if (kind == websocket::frame_type::pong) {
        if (m_Phase == PHASE_PINGED)
            m_Phase = PHASE_OPEN;
        message.type = CWsMessage::TYPE_PONG;
    } else if (kind == websocket::frame_type::ping) {
        message.type = CWsMessage::TYPE_PING;
    } else {
        return;
    }
    m_Hooks.m_Report(std::move(message));
}

bool CWsConnection::Send(std::string data, bool binary) {
    if (!IsOpen())
        return false;
    m_Queue.push_back({std::move(data), binary});
    if (m_Queue.size() == 1)
        DoWrite();
    return true;
}

void CWsConnection::DoWrite() {
    const Outgoing& item = m_Queue.front();  // stays in place until its write completes
    m_Ws.text(!item.m_Binary);
    m_Ws.async_write(
        asio::buffer(item.m_Data),
        [self = shared_from_this()](beast::error_code ec, size_t) { self->OnWrite(ec); });
}

void CWsConnection::OnWrite(beast::error_code ec) {
    if (m_Phase == PHASE_ENDED)
        return;
    if (ec)
        return Lost(ec);
    m_Hooks.m_Sent(m_Queue.front().m_Data.size());
    m_Queue.pop_front();
    if (!m_Queue.empty())
        return DoWrite();
    if (m_Phase == PHASE_CLOSING)
        SendClose();
}

void CWsConnection::SchedulePing() {
    if (m_Settings.m_PingInterval.count() <= 0)
        return;
    m_PingTimer.expires_after(m_Settings.m_PingInterval);
    m_PingTimer.async_wait(
        [self = shared_from_this()](beast::error_code ec) { self->OnPingTimer(ec); });
}

void CWsConnection::OnPingTimer(beast::error_code ec) {
    if (ec || !IsOpen())
        return;
    // While we hold reading, a pong could not be heard: none is missed then.
    if (m_ReadHeld) {
        if (m_Phase == PHASE_PINGED)
            m_Phase = PHASE_OPEN;
        return SchedulePing();
    }
    // A missed pong means a dead peer, as a rule: its answer to the close frame gets a short wait.
    if (m_Phase == PHASE_PINGED)
        return StartClose(1011, "Ping timeout", CWsEngine::kDeadPeerCloseTimeout);
    // Any pong since the last tick was a sign of life; the next one must follow this tick. A
    // ping still waiting behind a long write asks for it already.
    m_Phase = PHASE_PINGED;
    if (!m_PingInFlight) {
        m_PingInFlight = true;
        m_Ws.async_ping({},
                        [self = shared_from_this()](beast::error_code ec) { self->OnPing(ec); });
    }
    SchedulePing();
}

void CWsConnection::OnPing(beast::error_code ec) {
    m_PingInFlight = false;
    if (ec)
        Lost(ec);
}

void CWsConnection::Close(uint16_t code, const std::string& reason) {
    if (m_Phase < PHASE_OPEN) {
        m_Phase = PHASE_ENDED;
        return Shut();
    }
    if (IsOpen())
        StartClose(code, reason, CWsEngine::kCloseTimeout);
}

void CWsConnection::StartClose(uint16_t code, const std::string& reason,
                               std::chrono::milliseconds timeout) {
    m_Phase = PHASE_CLOSING;
    m_CloseCode = code;
    m_CloseReason = reason.substr(0, kMaxCloseReason);
    m_PingTimer.cancel();
    m_Deadline.expires_after(timeout);
    m_Deadline.async_wait([self = shared_from_this()](beast::error_code ec) {
        if (!ec)
            self->Lost(asio::error::timed_out);
    });
    if (m_Queue.empty())
        SendClose();
}

void CWsConnection::SendClose() {
    m_Phase = PHASE_CLOSE_SENT;
    m_Ws.async_close(
        websocket::close_reason(static_cast<websocket::close_code>(m_CloseCode), m_CloseReason),
        [self = shared_from_this()](beast::error_code ec) { self->OnClose(ec); });
}

void CWsConnection::OnClose(beast::error_code ec) {
    Lost(ec);  // the handshake is complete, or failed: either way the end (unless already reported)
}

void CWsConnection::Fail(const std::string& reason) {
    CWsMessage message;
    message.type = CWsMessage::TYPE_ERROR;
    message.str = reason;
    End(std::move(message));
}

void CWsConnection::Lost(beast::error_code ec) {
    CWsMessage message;
    if (IsClosing()) {
        message.type = CWsMessage::TYPE_CLOSE;
        message.closeCode = m_CloseCode;
        message.str = m_CloseReason;
    } else if (ec == websocket::error::closed) {
        const websocket::close_reason& reason = m_Ws.reason();
        message.type = CWsMessage::TYPE_CLOSE;
        message.closeCode =
            reason.code == websocket::close_code::none ? kNoStatusCode : reason.code;
        message.str = std::string(reason.reason.data(), reason.reason.size());
    } else {
        message.type = CWsMessage::TYPE_ERROR;
        message.str = ec.message();
    }
    End(std::move(message));
}

void CWsConnection::End(CWsMessage message) {
    if (m_Phase == PHASE_ENDED)
        return;
    m_Phase = PHASE_ENDED;
    Shut();
    // What was still queued never goes out. The front's buffer stays in place for its write.
    size_t unsent = 0;
    for (const Outgoing& item : m_Queue)
        unsent += item.m_Data.size();
    if (unsent > 0)
        m_Hooks.m_Sent(unsent);
    m_Hooks.m_Report(std::move(message));
}

void CWsConnection::Shut() {
    if (m_Lookup)
        m_Lookup->Cancel();
    m_Deadline.cancel();
    m_PingTimer.cancel();
    // Cancelled before the close: under Wine, closing leaves a send stuck on a peer that reads
    // nothing pending, and the end of the context waits for it.
    beast::error_code ignored;
    beast::get_lowest_layer(m_Ws).socket().cancel(ignored);
    beast::get_lowest_layer(m_Ws).close();
}

}  // namespace _NET
