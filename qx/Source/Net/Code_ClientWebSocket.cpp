#include "Net/Code_ClientWebSocket.h"

#include <utility>

#include "Platform/FreeMemory.h"
#include "Platform/Gcd.h"
#include "Platform/NetStartup.h"

namespace _NET {

namespace {

constexpr std::chrono::seconds kPingInterval{7};
constexpr std::chrono::milliseconds kMaxRetryWait{10000};
constexpr std::chrono::milliseconds kMinRetryWait{1000};

Code_ClientWebSocket::StartedHook g_StartedHook;

}  // namespace

_OBJ<IWebSocket> Code_ClientWebSocket::Create(const std::string& url,
                                              ConnectionCallback onConnection,
                                              MessageCallback onMessage) {
    Startup();
    auto* socket = new Code_ClientWebSocket(std::move(onConnection), std::move(onMessage));
    // The first reference, taken before the engine starts: an event handled on queue 1 before
    // Create returns finds the socket alive instead of a count of 0.
    _OBJ<IWebSocket> handle(socket);
    {
        std::lock_guard<std::mutex> lock(socket->m_Mutex);
        socket->m_Url = url;
        CWsEngine& engine = socket->m_Socket;
        engine.SetUrl(socket->m_Url);
        engine.DisablePerMessageDeflate();
        engine.SetOnMessageCallback(
            std::bind(&Code_ClientWebSocket::Proc_Callback, socket, std::placeholders::_1));
        engine.SetPingInterval(kPingInterval);
        engine.SetMaxWaitBetweenReconnectionRetries(kMaxRetryWait);
        engine.SetMinWaitBetweenReconnectionRetries(kMinRetryWait);
        engine.Start();
    }
    if (g_StartedHook)
        g_StartedHook(*socket);
    return handle;
}

void Code_ClientWebSocket::SetStartedHook(const StartedHook& hook) {
    g_StartedHook = hook;
}

Code_ClientWebSocket::Code_ClientWebSocket(ConnectionCallback onConnection,
                                           MessageCallback onMessage)
    : m_OnConnection(std::move(onConnection)),
      m_OnMessage(std::move(onMessage)),
      m_Anchor(std::make_shared<CAnchor<Code_ClientWebSocket>>(this)) {
    m_Socket.DisablePerMessageDeflate();
}

Code_ClientWebSocket::~Code_ClientWebSocket() {
    // Tasks still queued find the anchor empty; the engine's thread is joined before any member
    // goes, also when no connection is up and it is still retrying.
    m_Anchor->Detach();
    m_Socket.Stop(1000, "Normal closure");
}

bool Code_ClientWebSocket::IsConnected() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Connected;
}

bool Code_ClientWebSocket::IsCurrent() {
    return m_Socket.IsOpen(m_SeenConnection);
}

void Code_ClientWebSocket::Send(const std::string& data, OPCODE opcode) {
    const uint64_t connection = m_SeenConnection;
    if (opcode == OPCODE_BINARY) {
        m_Socket.SendBinary(data, connection);
    } else {
        m_Socket.Send(data, connection);
    }
}

void Code_ClientWebSocket::Close() {
    // Whatever the flags say at this moment (the engine may have seen a loss that queue 1 has
    // not, or be between attempts), nothing reconnects after a Close.
    m_Socket.Stop(1000, "Normal closure");
}

void Code_ClientWebSocket::Proc_Callback(CWsMessage& message) {
    switch (message.type) {
        case CWsMessage::TYPE_MESSAGE: {
            if (!m_OnMessage)
                return m_Socket.Handled(message.str.size());
            const OPCODE opcode = message.binary ? OPCODE_BINARY : OPCODE_TEXT;
            const size_t bytes = message.str.size();
            {
                std::lock_guard<std::mutex> lock(m_FloodMutex);
                m_Held += bytes + CWsEngine::kMessageCost;
                m_Flooded = m_Flooded || m_Held > kFloodBacklog;
            }
            // Shared: posting copies the task, and a copy must not copy the payload.
            auto payload = std::make_shared<const std::string>(std::move(message.str));
            _GCD::Post(
                [anchor = m_Anchor, payload, opcode, connection = m_Receiving, bytes]() mutable {
                    if (_OBJ<Code_ClientWebSocket> self = anchor->Lock()) {
                        // Not for a connection that queue 1 has not seen come up, or has seen
                        // lost: what it answered would go out on another.
                        if (!self->m_OnConnection || self->m_SeenConnection == connection)
                            self->m_OnMessage(_OBJ<IWebSocket>(self), *payload, opcode);
                        // Freed before it is let go: a release then finds its memory free.
                        payload.reset();
                        self->m_Socket.Handled(bytes);
                        self->LetGo(bytes + CWsEngine::kMessageCost);
                    }
                },
                _GCD::QUEUE_SERIAL);
            return;
        }
        case CWsMessage::TYPE_OPEN:
            m_Connected = true;
            m_Receiving = message.connection;
            PostConnection(message.connection);
            return;
        case CWsMessage::TYPE_CLOSE:
        case CWsMessage::TYPE_ERROR:
            // A failed attempt, or a second report of the same loss, finds the flag clear.
            if (m_Connected.exchange(false))
                PostConnection(0);
            return;
        default:
            return;
    }
}

void Code_ClientWebSocket::PostConnection(uint64_t latest) {
    // Without a connection callback queue 1 has nothing to see first.
    if (!m_OnConnection) {
        m_SeenConnection = latest;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_LatestMutex);
        m_Latest = latest;
        // The task already queued reads the state when it runs.
        if (std::exchange(m_CatchUpQueued, true))
            return;
    }
    _GCD::Post(
        [anchor = m_Anchor] {
            if (_OBJ<Code_ClientWebSocket> self = anchor->Lock())
                self->CatchUp();
        },
        _GCD::QUEUE_SERIAL);
}

void Code_ClientWebSocket::LetGo(size_t cost) {
    {
        std::lock_guard<std::mutex> lock(m_FloodMutex);
        m_Held -= cost;
        if (m_Held > 0 || !std::exchange(m_Flooded, false))
            return;
    }
    // The trim walks the heap: not on queue 1, which handles the messages.
    _GCD::Post(_OS::ReleaseFreeMemory, _GCD::QUEUE_SPARE);
}

void Code_ClientWebSocket::CatchUp() {
    uint64_t latest = 0;
    {
        std::lock_guard<std::mutex> lock(m_LatestMutex);
        latest = m_Latest;
        m_CatchUpQueued = false;
    }
    const uint64_t seen = m_SeenConnection;
    if (latest == seen)
        return;
    if (seen != 0) {
        m_SeenConnection = 0;
        m_OnConnection(_OBJ<IWebSocket>(this), false);
    }
    if (latest != 0) {
        m_SeenConnection = latest;
        m_OnConnection(_OBJ<IWebSocket>(this), true);
    }
}

}  // namespace _NET
