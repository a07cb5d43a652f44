#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "Net/CAnchor.h"
#include "Net/CWsEngine.h"
#include "Net/IWebSocket.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"

namespace _NET {

// WebSocket client of the MES link: pings every 7 s, reconnects with waits of 1 to 10 s, and
// hands connection changes and received messages to _GCD queue 1, in the order in which they
// happened. Connection changes do not pile up there: queue 1 learns the link's latest state, so
// it sees the loss of the connection it knew before the next one comes up, and the messages of a
// connection only after its coming up; a connection that came and went meanwhile is skipped,
// messages and all.
struct Code_ClientWebSocket : IWebSocket {
    QX_REFCOUNTED

public:
    using ConnectionCallback = std::function<void(_OBJ<IWebSocket>, bool)>;
    using MessageCallback =
        std::function<void(_OBJ<IWebSocket>, const std::string&, IWebSocket::OPCODE)>;

    // Starts connecting at once; never returns an empty handle. May be called on any thread:
    // the handle holds the socket before the engine can report anything.
    static _OBJ<IWebSocket> Create(const std::string& url, ConnectionCallback onConnection,
                                   MessageCallback onMessage);
    // For tests only: runs on the creating thread once Create has started the engine and before
    // it returns, as if the creator were preempted there. Empty: nothing runs.
    using StartedHook = std::function<void(Code_ClientWebSocket&)>;
    static void SetStartedHook(const StartedHook& hook);
    // Received and not yet handled on queue 1 (bytes and CWsEngine::kMessageCost each), this much
    // makes a flood: once it has all been handled, the heap's free memory is given back, once (the
    // allocator keeps a flood's peak otherwise). A working link holds a few small messages.
    static constexpr size_t kFloodBacklog = 16 * 1024 * 1024;

    bool IsConnected() override;
    void Send(const std::string& data, OPCODE opcode) override;
    void Close() override;
    uint32_t GetUserValue() override { return m_UserValue; }
    void SetUserValue(uint32_t value) override { m_UserValue = value; }
    bool IsCurrent() override;

    // The engine's message callback; runs on the engine's thread, takes the text and only posts.
    void Proc_Callback(CWsMessage& message);
    // What the messages received and not yet handled on queue 1 cost, plus bytes queued and not
    // yet sent (CWsEngine::Backlog).
    size_t Backlog() const { return m_Socket.Backlog(); }

    bool TryAddRef() { return CAnchor<Code_ClientWebSocket>::AddRefIfAlive(m_RefCount); }

    ~Code_ClientWebSocket() override;

private:
    Code_ClientWebSocket(ConnectionCallback onConnection, MessageCallback onMessage);
    // The number of the connection that came up; 0 with a loss.
    void PostConnection(uint64_t latest);
    // Queue 1: the loss of the connection queue 1 saw, then the coming up of the latest.
    void CatchUp();
    // Queue 1: a message of this cost has been handled and freed.
    void LetGo(size_t cost);

    std::mutex m_Mutex;
    CWsEngine m_Socket;
    std::string m_Url;
    std::atomic<bool> m_Connected{false};
    // The connection that queue 1 has seen come up and not yet seen lost (0: none). Sends are
    // stamped with it: what queue 1 decided for one connection never goes out on another.
    std::atomic<uint64_t> m_SeenConnection{0};
    // The engine's thread only: the connection whose messages arrive.
    uint64_t m_Receiving = 0;
    std::mutex m_LatestMutex;
    // The connection up as the engine last reported it (0: none), and whether a task that hands
    // it to queue 1 is queued and has not read it yet.
    uint64_t m_Latest = 0;
    bool m_CatchUpQueued = false;
    ConnectionCallback m_OnConnection;
    MessageCallback m_OnMessage;
    uint32_t m_UserValue = 0;
    std::mutex m_FloodMutex;
    // What the messages posted to queue 1 and not yet let go cost, and whether it passed
    // kFloodBacklog since it was last back to zero.
    size_t m_Held = 0;
    bool m_Flooded = false;
    // Posted tasks reach the object through this, so none runs on a destroyed object.
    std::shared_ptr<CAnchor<Code_ClientWebSocket>> m_Anchor;
};

}  // namespace _NET
