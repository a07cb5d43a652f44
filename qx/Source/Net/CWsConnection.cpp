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
        m_HeldSinceTick = true;
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
    m_HeardSinceTick = true;
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
    m_SendsMoved = true;
    if (!m_Queue.empty())
        return DoWrite();
    if (m_Phase == PHASE_CLOSING)
        SendClose();
}

}  // namespace _NET
