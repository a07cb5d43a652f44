#include "Net/Code_JsonRpcClient.h"

#include <nlohmann/json.hpp>

#include <utility>

#include "Net/Code_ClientWebSocket.h"
#include "Net/Envelope.h"
#include "Platform/CUuid.h"
#include "Platform/Gcd.h"
#include "Platform/Json.h"
#include "Platform/NetStartup.h"

namespace _NET {

namespace {

std::string Serialise(const nlohmann::json& message) {
    return message.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
}

}  // namespace

_OBJ<IJsonRpcClient> Code_JsonRpcClient::Create(const std::string& url) {
    Startup();
    return _OBJ<IJsonRpcClient>(new Code_JsonRpcClient(url));
}

Code_JsonRpcClient::Code_JsonRpcClient(const std::string& url)
    : m_Url(url), m_Anchor(std::make_shared<CAnchor<Code_JsonRpcClient>>(this)) {}

Code_JsonRpcClient::~Code_JsonRpcClient() {
    // The socket's tasks that are still queued find the anchor empty. The members then go in
    // reverse order: pending calls, connection handler, URL, socket, handler table.
    m_Anchor->Detach();
}

_OBJ<IJsonRpcClient> Code_JsonRpcClient::SetConnectionHandler(const ConnectionHandler& handler) {
    if (handler)
        m_OnConnection = handler;
    return _OBJ<IJsonRpcClient>(this);
}

void Code_JsonRpcClient::RegisterHandler(const std::string& type,
                                         const NotificationHandler& handler) {
    if (handler)
        m_Dispatcher.m_Handlers[type] = handler;
}

void Code_JsonRpcClient::Connect() {
    const std::shared_ptr<CAnchor<Code_JsonRpcClient>> anchor = m_Anchor;
    uint64_t connect = 0;
    {
        std::lock_guard<std::mutex> lock(m_SocketMutex);
        connect = ++m_Connects;
    }
    auto onConnection = [anchor, connect](_OBJ<IWebSocket> socket, bool connected) {
        _OBJ<Code_JsonRpcClient> self = anchor->Lock();
        if (self && self->Adopt(socket, connect))
            self->EventProc_Network_Connection(socket, connected);
    };
    auto onMessage = [anchor](_OBJ<IWebSocket> socket, const std::string& payload,
                              IWebSocket::OPCODE opcode) {
        if (_OBJ<Code_JsonRpcClient> self = anchor->Lock()) {
            self->EventProc_Network_Msg(socket, payload, opcode);
        }
    };
    Adopt(Code_ClientWebSocket::Create(m_Url, onConnection, onMessage), connect);
}

_OBJ<IWebSocket> Code_JsonRpcClient::Socket() {
    std::lock_guard<std::mutex> lock(m_SocketMutex);
    return m_Socket;
}

bool Code_JsonRpcClient::Adopt(const _OBJ<IWebSocket>& socket, uint64_t connect) {
    _OBJ<IWebSocket> previous;
    {
        std::lock_guard<std::mutex> lock(m_SocketMutex);
        if (connect != m_Connects)
            return false;
        if (m_Socket != socket)
            previous = std::exchange(m_Socket, socket);
    }
    // Released outside the lock: the last release of a socket closes its connection.
    return true;
}

void Code_JsonRpcClient::Close() {
    Socket()->Close();
}

uint64_t Code_JsonRpcClient::Connection() {
    std::lock_guard<std::mutex> lock(m_PendingMutex);
    return m_LiveConnection;
}

bool Code_JsonRpcClient::IsCurrent(uint64_t connection) {
    {
        std::lock_guard<std::mutex> lock(m_PendingMutex);
        if (connection == 0 || connection != m_LiveConnection)
            return false;
    }
    const _OBJ<IWebSocket> socket = Socket();
    return socket && socket->IsCurrent();
}

void Code_JsonRpcClient::Notify(const std::string& type, const nlohmann::json& data) {
    const _OBJ<IWebSocket> socket = Socket();
    if (!socket->IsConnected())
        return;
    nlohmann::json message = nlohmann::json::object();
    message[ENVELOPE::KEY_MAGIC] = ENVELOPE::NOTIFICATION_MAGIC;
    message[ENVELOPE::KEY_TYPE] = type;
    message[ENVELOPE::KEY_DATA] = data;
    socket->Send(Serialise(message), IWebSocket::OPCODE_TEXT);
}

void Code_JsonRpcClient::Call(const std::string& path, const std::string& command,
                              const nlohmann::json& params, const ReplyCallback& callback) {
    _OS::CUuid uuid(true);
    uuid.Generate();
    const std::string id = uuid.ToString();
    const _OBJ<IWebSocket> socket = Socket();
    if (!socket->IsConnected())
        return;

    // Null parameters become an object; any other non-object makes the library throw.
    nlohmann::json message = params;
    message[ENVELOPE::KEY_ID] = id;
    message[ENVELOPE::KEY_CMD] = command;
    message[ENVELOPE::KEY_PATH] = path;
    const std::string text = Serialise(message);

    // Stored before sending, so that an immediate reply finds its entry. A connection whose loss
    // has been handled takes no more calls: nothing would ever answer or release them.
    {
        std::lock_guard<std::mutex> lock(m_PendingMutex);
        if (m_LiveConnection == 0)
            return;
        if (callback)
            m_Pending[id] = callback;
    }
    socket->Send(text, IWebSocket::OPCODE_TEXT);
}

void Code_JsonRpcClient::EventProc_Network_Msg(_OBJ<IWebSocket> socket, const std::string& payload,
                                               IWebSocket::OPCODE) {
    // Notifications and replies alike are objects: anything else is dropped before a parse,
    // whose failure costs an exception (a flood of empty frames would cost one each).
    const size_t start = payload.find_first_not_of(" \t\r\n");
    if (start == std::string::npos || payload[start] != '{')
        return;
    try {
        nlohmann::json frame = _OS::ParseJson(payload, MAX_MESSAGE_VALUES);
        if (frame.is_object() && frame.contains(ENVELOPE::KEY_MAGIC) &&
            frame.at(ENVELOPE::KEY_MAGIC).get<std::string>() == ENVELOPE::NOTIFICATION_MAGIC) {
            const std::string type = frame.at(ENVELOPE::KEY_TYPE).get<std::string>();
            nlohmann::json& data = frame.at(ENVELOPE::KEY_DATA);
            // The socket hands queue 1 a frame only while the connection it came on is the one
            // whose up event was handled last: that is the live one here, for the current
            // socket. A socket replaced since gives its frames no connection.
            uint64_t connection = 0;
            if (socket == Socket()) {
                std::lock_guard<std::mutex> lock(m_PendingMutex);
                connection = m_LiveConnection;
            }
            m_Dispatcher.Dispatch(_OBJ<IJsonRpcClient>(this), type, std::move(data), connection);
            return;
        }

        const std::string id = frame.at(ENVELOPE::KEY_ID).get<std::string>();
        ReplyCallback callback;
        bool ok = false;
        uint64_t connection = 0;
        {
            std::lock_guard<std::mutex> lock(m_PendingMutex);
            const auto it = m_Pending.find(id);
            if (it == m_Pending.end())
                return;
            // A missing or other "_OK" keeps the entry.
            ok = frame.at(ENVELOPE::KEY_OK).get<bool>();
            callback = std::move(it->second);
            m_Pending.erase(it);
            connection = m_LiveConnection;
        }
        // Shared: posting copies the task, and a copy must not copy the reply.
        const auto reply = std::make_shared<nlohmann::json>(std::move(frame));
        _GCD::Post(
            [anchor = m_Anchor, connection, callback = std::move(callback), ok, reply] {
                if (_OBJ<Code_JsonRpcClient> self = anchor->Lock())
                    self->DeliverReply(connection, callback, ok, std::move(*reply));
            },
            _GCD::QUEUE_POOL);
    } catch (...) {
        // Silent by design: the MES gets no answer to a frame, and a peer that keeps sending
        // malformed or overweight frames must not flood the log; the frame simply has no effect.
    }
}

void Code_JsonRpcClient::DeliverReply(uint64_t connection, ReplyCallback callback, bool ok,
                                      nlohmann::json reply) {
    {
        std::lock_guard<std::mutex> lock(m_PendingMutex);
        // A refusal still counts once its connection is gone: the peer has said no.
        if (connection != m_LiveConnection && ok)
            return;
    }
    // Run with no lock held: a callback may take seconds (a message box), and queue 1 must be
    // free to handle a loss meanwhile.
    callback(ok, std::move(reply));
}

void Code_JsonRpcClient::EndConnection() {
    std::map<std::string, ReplyCallback> unanswerable;
    {
        std::lock_guard<std::mutex> lock(m_PendingMutex);
        m_LiveConnection = 0;
        unanswerable.swap(m_Pending);
    }
    // Destroyed outside the locks: a callback may hold the last handle of its owner.
}

void Code_JsonRpcClient::EventProc_Network_Connection(_OBJ<IWebSocket> socket, bool connected) {
    if (socket != Socket())
        return;
    if (connected) {
        std::lock_guard<std::mutex> lock(m_PendingMutex);
        m_LiveConnection = ++m_Connections;
    } else {
        EndConnection();
    }
    if (m_OnConnection)
        m_OnConnection(_OBJ<IJsonRpcClient>(this), connected);
}

}  // namespace _NET
