#include "MesSimulator/CListener.h"

#include "MesSimulator/CConnection.h"
#include "MesSimulator/CMesSimulator.h"

namespace MES_SIM {

CListener::CListener(boost::asio::io_context& io, CMesSimulator& owner)
    : m_Io(io), m_Acceptor(io), m_Owner(owner) {}

bool CListener::Open(const std::string& address, uint16_t port, std::string& error) {
    boost::system::error_code ec;
    const auto ip = boost::asio::ip::make_address(address, ec);
    if (ec) {
        error = "bad address " + address + ": " + ec.message();
        return false;
    }
    const boost::asio::ip::tcp::endpoint endpoint(ip, port);
    // Restarts in tests must not wait for TIME_WAIT of the previous run.
    m_Acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        m_Acceptor.set_option(boost::asio::socket_base::reuse_address(true), ec);
    const std::string where = address + ":" + std::to_string(port);
    if (!ec)
        m_Acceptor.bind(endpoint, ec);
    if (ec == boost::asio::error::address_in_use) {
        error = where + " is in use (another program listens there)";
        return false;
    }
    if (!ec)
        m_Acceptor.listen(boost::asio::socket_base::max_listen_connections, ec);
    if (!ec)
        return true;
    error = "cannot listen on " + where + ": " + ec.message();
    return false;
}

uint16_t CListener::Port() const {
    boost::system::error_code ignored;
    return m_Acceptor.local_endpoint(ignored).port();
}

void CListener::Accept() {
    m_Acceptor.async_accept(m_Io, [self = shared_from_this()](boost::system::error_code ec,
                                                              boost::asio::ip::tcp::socket socket) {
        if (ec)
            return;
        std::make_shared<CConnection>(std::move(socket), self->m_Owner, self->m_NextId++)->Start();
        self->Accept();
    });
}

void CListener::Close() {
    boost::system::error_code ignored;
    m_Acceptor.close(ignored);
}

}  // namespace MES_SIM
