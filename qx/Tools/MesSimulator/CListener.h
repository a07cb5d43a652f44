#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <memory>
#include <string>

namespace MES_SIM {

struct CMesSimulator;

// Accepts gateways and hands each connection to the simulator.
struct CListener : std::enable_shared_from_this<CListener> {
    CListener(boost::asio::io_context& io, CMesSimulator& owner);

    bool Open(const std::string& address, uint16_t port, std::string& error);
    // The port listened on; the system's choice when 0 was asked for.
    uint16_t Port() const;
    void Accept();
    void Close();

private:
    boost::asio::io_context& m_Io;
    boost::asio::ip::tcp::acceptor m_Acceptor;
    CMesSimulator& m_Owner;
    int m_NextId = 1;
};

}  // namespace MES_SIM
