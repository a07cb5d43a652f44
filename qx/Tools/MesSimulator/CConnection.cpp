#include "MesSimulator/CConnection.h"

#include "MesSimulator/CMesSimulator.h"

namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;

namespace MES_SIM {

namespace {
// Label images of large formats at high resolutions run to several MiB of base64.
constexpr size_t kMaxMessage = 64 * 1024 * 1024;
}  // namespace

CConnection::CConnection(boost::asio::ip::tcp::socket socket, CMesSimulator& owner, int id)
    : m_Ws(std::move(socket)), m_Owner(owner), m_Id(id) {}

void CConnection::Start() {
    // A reply and the next job go out back to back: without this the job waits for the
    // gateway's delayed acknowledgement of the reply (about 40 ms).
    beast::error_code ignored;
    beast::get_lowest_layer(m_Ws).socket().set_option(boost::asio::ip::tcp::no_delay(true),
                                                      ignored);
    m_Ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    m_Ws.read_message_max(kMaxMessage);
    m_Ws.async_accept([self = shared_from_this()](beast::error_code ec) {
        if (ec) {
            self->Finish("handshake failed: " + ec.message());
            return;
        }
        self->m_Open = true;
        self->m_Ws.text(true);
        self->m_Owner.OnOpen(self);
        if (!self->m_Finished)
            self->Read();
    });
}

void CConnection::Read() {
    m_Ws.async_read(m_Buffer, [self = shared_from_this()](beast::error_code ec, size_t) {
        if (ec) {
            self->Finish(ec.message());
            return;
        }
        // A read under way when the connection was muted: what it brings is never looked at.
        if (self->m_Muted)
            return;
        std::string text = beast::buffers_to_string(self->m_Buffer.data());
        self->m_Buffer.consume(self->m_Buffer.size());
        self->m_Owner.OnFrame(self, text);
        if (!self->m_Finished && !self->m_Muted)
            self->Read();
    });
}

void CConnection::Send(std::string text) {
    if (!m_Open || m_Finished || m_CloseRequested || m_DropRequested)
        return;
    m_Outgoing.push_back(std::move(text));
    if (m_Outgoing.size() == 1)
        Write();
}

void CConnection::Write() {
    m_Ws.async_write(boost::asio::buffer(m_Outgoing.front()),
                     [self = shared_from_this()](beast::error_code ec, size_t) {
                         if (ec) {
                             self->Finish(ec.message());
                             return;
                         }
                         self->m_Outgoing.pop_front();
                         if (!self->m_Outgoing.empty()) {
                             self->Write();
                         } else if (self->m_DropRequested) {
                             self->Drop();
                         } else if (self->m_CloseRequested) {
                             self->StartClose();
                         }
                     });
}

void CConnection::Close() {
    if (!m_Open || m_Finished || m_CloseRequested)
        return;
    m_CloseRequested = true;
    // The stream allows one write at a time, and the close frame is one.
    if (m_Outgoing.empty())
        StartClose();
}

void CConnection::StartClose() {
    m_Ws.async_close(websocket::close_code::normal,
                     [self = shared_from_this()](beast::error_code) { self->Finish("closed"); });
}

void CConnection::Drop() {
    beast::error_code ignored;
    beast::get_lowest_layer(m_Ws).socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both,
                                                    ignored);
    beast::get_lowest_layer(m_Ws).socket().close(ignored);
    Finish("dropped");
}

void CConnection::DropWhenSent() {
    m_DropRequested = true;
    if (m_Outgoing.empty())
        Drop();
}

void CConnection::Finish(const std::string& reason) {
    if (m_Finished)
        return;
    m_Finished = true;
    m_Owner.OnClosed(shared_from_this(), reason);
}

}  // namespace MES_SIM
