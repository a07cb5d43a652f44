#include "Net/CWsConnection.h"

#include <boost/beast/websocket.hpp>
#include <utility>

namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace _NET {

// CWsConnection's pings and pongs, and the give-up of a peer that stops answering.

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
    // While we hold reading a pong cannot be heard: none is missed then, as long as the wait is
    // ours (nothing queued) or our queued messages go out. So also when reading was held at any
    // time since the last tick: the pong may wait behind what the peer sent before it, which we
    // read only as fast as the receiver takes it. A peer that takes none of our messages for a
    // whole interval is pinged like any other, and given up when the next tick finds it so again.
    const bool moved = std::exchange(m_SendsMoved, m_Queue.empty());
    const bool held = std::exchange(m_HeldSinceTick, m_ReadHeld);
    const bool heard = std::exchange(m_HeardSinceTick, false);
    if (held && moved) {
        if (m_Phase == PHASE_PINGED)
            m_Phase = PHASE_OPEN;
        return SchedulePing();
    }
    // A missed pong means a dead peer, as a rule: its answer to the close frame gets a short wait.
    // Not while its frames still arrive and ours go out: the pong may wait behind them, read as
    // fast as this machine reads, and the ping goes out again.
    if (m_Phase == PHASE_PINGED && !(heard && moved))
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

}  // namespace _NET
