#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <memory>
#include <string>

namespace MES_SIM {

struct CMesSimulator;

// One gateway's WebSocket connection. Every member runs on the simulator's io thread.
struct CConnection : std::enable_shared_from_this<CConnection> {
    CConnection(boost::asio::ip::tcp::socket socket, CMesSimulator& owner, int id);

    void Start();
    void Send(std::string text);
    // Closing handshake with 1000, once the frames queued before it are out.
    void Close();
    // Drops the TCP connection without a closing handshake.
    void Drop();
    // Drops it once the frames queued before are out.
    void DropWhenSent();
    // Frames queued and not yet written.
    size_t Queued() const { return m_Outgoing.size(); }
    // Stops reading once the frame in hand is handled; a frame that a read under way brings
    // later is left unhandled. Pings then go unanswered and the gateway's frames stay unread.
    // Only Drop ends a muted connection.
    void Mute() { m_Muted = true; }
    bool Muted() const { return m_Muted; }
    int Id() const { return m_Id; }

private:
    void Read();
    void Write();
    void StartClose();
    void Finish(const std::string& reason);

    boost::beast::websocket::stream<boost::beast::tcp_stream> m_Ws;
    boost::beast::flat_buffer m_Buffer;
    std::deque<std::string> m_Outgoing;
    CMesSimulator& m_Owner;
    const int m_Id;
    bool m_Open = false;
    bool m_Finished = false;
    bool m_CloseRequested = false;
    bool m_DropRequested = false;
    bool m_Muted = false;
};

}  // namespace MES_SIM
