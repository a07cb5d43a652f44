#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "Net/CWsEngine.h"
#include "Net/CWsLookup.h"
#include "Net/CWsMessage.h"
#include "Net/CWsUrl.h"

namespace _NET {

// One connection attempt of the WebSocket engine and, once its opening handshake succeeds, the
// connection itself: resolve, connect, handshake, then reads, writes and pings until it ends.
// A new attempt never reuses it. Every asynchronous step holds the object, so it outlives its
// own operations; the owner keeps it only to reach the current connection.
//
// All of it runs on the thread of the io_context it was made with. It reports through the
// report function, on that thread: Open once the handshake succeeds, then received messages,
// fragments, pings and pongs, and finally exactly one Close or Error that ends it (an attempt
// that fails reports only that Error). Nothing is reported after the end, nor after Close
// abandoned an attempt.
//
// The steps live in three files: the attempt, reads and writes in CWsConnection.cpp, pings in
// CWsConnectionPing.cpp, the close and the end in CWsConnectionClose.cpp.
struct CWsConnection : std::enable_shared_from_this<CWsConnection> {
    struct Settings {
        std::string m_Url;
        bool m_Deflate = true;
        std::chrono::milliseconds m_PingInterval{0};  // zero: no pings
        CWsEngine::ResolveFunction m_Resolve;         // empty: the system's name lookup
    };
    // The owner's side, all called on the connection's thread.
    struct Hooks {
        std::function<void(CWsMessage)> m_Report;
        // Asked before each read: false holds reading until ResumeRead.
        std::function<bool()> m_MayRead;
        // Bytes of accepted messages that have been written, or dropped at the end.
        std::function<void(size_t)> m_Sent;
    };

    CWsConnection(boost::asio::io_context& ioc, Settings settings, Hooks hooks);

    // Starts the attempt.
    void Run();
    // Queues one message behind those queued before; false, and nothing queued, unless the
    // connection is open and not closing.
    bool Send(std::string data, bool binary);
    // Reads again if reading was held.
    void ResumeRead();
    // Open: starts the close handshake with the code and reason behind the queued messages; the
    // end is reported as usual. Still connecting: abandons the attempt without a report.
    void Close(uint16_t code, const std::string& reason);

private:
    // Where the connection is in its chain of steps.
    enum PHASE {
        PHASE_RESOLVING,
        PHASE_CONNECTING,
        PHASE_HANDSHAKING,
        PHASE_OPEN,        // no ping outstanding
        PHASE_PINGED,      // open, a ping awaits its pong
        PHASE_CLOSING,     // the close frame waits behind queued messages
        PHASE_CLOSE_SENT,  // the close frame is on its way; the peer's answer ends it
        PHASE_ENDED,
    };

    struct Outgoing {
        std::string m_Data;
        bool m_Binary = false;
    };

    bool IsOpen() const { return m_Phase == PHASE_OPEN || m_Phase == PHASE_PINGED; }
    bool IsClosing() const { return m_Phase == PHASE_CLOSING || m_Phase == PHASE_CLOSE_SENT; }

    void OnResolve(const CWsLookup::Endpoints& endpoints, const std::string& error);
    void OnConnect(boost::beast::error_code ec);
    void OnHandshake(boost::beast::error_code ec);
    // Reads unless the owner holds reading.
    void ReadOn();
    void DoRead();
    void OnRead(boost::beast::error_code ec);
    void OnControl(boost::beast::websocket::frame_type kind, boost::beast::string_view payload);
    void DoWrite();
    void OnWrite(boost::beast::error_code ec);
    void SchedulePing();
    void OnPingTimer(boost::beast::error_code ec);
    void OnPing(boost::beast::error_code ec);
    // The close handshake behind the queued messages, ended by the peer's answer or the timeout.
    void StartClose(uint16_t code, const std::string& reason, std::chrono::milliseconds timeout);
    void SendClose();
    void OnClose(boost::beast::error_code ec);

    // An attempt that failed, and the end of an open connection: each reported once.
    void Fail(const std::string& reason);
    void Lost(boost::beast::error_code ec);
    void End(CWsMessage message);
    void Shut();

    Settings m_Settings;
    Hooks m_Hooks;
    PHASE m_Phase = PHASE_RESOLVING;
    CWsUrl m_Url;
    std::shared_ptr<CWsLookup> m_Lookup;
    boost::beast::websocket::stream<boost::beast::tcp_stream> m_Ws;
    boost::beast::flat_buffer m_In;
    boost::asio::steady_timer m_Deadline;  // of the attempt, later of the close handshake
    boost::asio::steady_timer m_PingTimer;
    // Data messages only: the front is being written while the queue is not empty. Pings do not
    // wait behind it; the stream sends them between two messages.
    std::deque<Outgoing> m_Queue;
    bool m_ReadHeld = false;
    // Reading has been held at some time since the last ping tick.
    bool m_HeldSinceTick = false;
    // A frame has been read since the last ping tick: the peer is alive, whatever its pong.
    bool m_HeardSinceTick = false;
    // A queued message has gone out since the last ping tick, or none was queued at that tick.
    bool m_SendsMoved = true;
    // The stream takes one ping at a time: a pong that answers none must not let a second one
    // start while ours still waits to be written.
    bool m_PingInFlight = false;
    uint16_t m_CloseCode = 0;
    std::string m_CloseReason;
};

}  // namespace _NET
