#include "Net/CWsConnection.h"

#include <boost/beast/websocket.hpp>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace _NET {

// CWsConnection's close handshake and the single report of its end.

namespace {

constexpr size_t kMaxCloseReason = 123;
constexpr uint16_t kNoStatusCode = 1005;

}  // namespace

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
