#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "Net/CAnchor.h"
#include "Net/CMsgDispatcher.h"
#include "Net/IJsonRpcClient.h"
#include "Net/IWebSocket.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"

namespace _NET {

// The JSON envelope: a notification is {"_DATA","_MAGIC":"ORACLE","_TYPE"}; a call is the
// caller's parameters with "_CMD", "_ID" and "_PATH" set; a reply repeats "_ID" and carries a
// boolean "_OK". Text is compact UTF-8 with sorted keys.
struct Code_JsonRpcClient : IJsonRpcClient {
    QX_REFCOUNTED

public:
    // Keys and values of one incoming frame, arrays and objects included. A job has a few dozen
    // and at most a thousand entries of data, a "CheckConfig" reply about ten per format of at
    // most a thousand: a frame past this is refused while it is read, as one that cannot be
    // parsed, before it costs more memory or time than this many values.
    static constexpr size_t MAX_MESSAGE_VALUES = 32768;

    static _OBJ<IJsonRpcClient> Create(const std::string& url);

    void Notify(const std::string& type, const nlohmann::json& data) override;
    void Call(const std::string& path, const std::string& command, const nlohmann::json& params,
              const ReplyCallback& callback) override;
    _OBJ<IJsonRpcClient> SetConnectionHandler(const ConnectionHandler& handler) override;
    void RegisterHandler(const std::string& type, const NotificationHandler& handler) override;
    void Connect() override;
    void Close() override;
    uint64_t Connection() override;
    bool IsCurrent(uint64_t connection) override;

    // Bound as the socket's callbacks; both run on queue 1.
    void EventProc_Network_Msg(_OBJ<IWebSocket> socket, const std::string& payload,
                               IWebSocket::OPCODE opcode);
    void EventProc_Network_Connection(_OBJ<IWebSocket> socket, bool connected);

    bool TryAddRef() { return CAnchor<Code_JsonRpcClient>::AddRefIfAlive(m_RefCount); }

    ~Code_JsonRpcClient() override;

private:
    explicit Code_JsonRpcClient(const std::string& url);

    // Queue 2: runs a reply's callback unless the loss of the connection it came on has been
    // handled by then and the reply is not a refusal. The callback was taken out of the pending
    // calls by its frame, so it runs at most once.
    void DeliverReply(uint64_t connection, ReplyCallback callback, bool ok, nlohmann::json reply);
    // The pending calls of the lost connection are released uncalled.
    void EndConnection();
    _OBJ<IWebSocket> Socket();
    // Stores the socket made by the Connect with this number, unless a later Connect has begun:
    // false then. A Connect that runs off queue 1 may see its socket's first events handled
    // before it has stored the socket itself.
    bool Adopt(const _OBJ<IWebSocket>& socket, uint64_t connect);

    CMsgDispatcher m_Dispatcher;
    std::mutex m_SocketMutex;  // the socket and the number of Connects
    _OBJ<IWebSocket> m_Socket;
    uint64_t m_Connects = 0;
    std::string m_Url;
    ConnectionHandler m_OnConnection;
    // Calls of the live connection only: a lost connection can answer none of them.
    std::map<std::string, ReplyCallback> m_Pending;
    // Guards m_Pending and the two connection numbers.
    std::mutex m_PendingMutex;
    // Connections numbered from 1 in the order of their up events; 0 while none is up.
    uint64_t m_Connections = 0;
    uint64_t m_LiveConnection = 0;
    // The socket's callbacks reach the client through this, so none runs on a destroyed client.
    std::shared_ptr<CAnchor<Code_JsonRpcClient>> m_Anchor;
};

}  // namespace _NET
