#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "Platform/IRoot.h"
#include "Platform/Obj.h"

namespace _NET {

// Message layer towards the MES over one WebSocket: calls with identifiers and reply callbacks,
// notifications both ways. Install the handlers, then Connect once.
struct IJsonRpcClient : IRoot {
    // The last argument is the connection the notification came on: work done for it goes out
    // only while IsCurrent says that connection is still the one up.
    using NotificationHandler =
        std::function<void(_OBJ<IJsonRpcClient>, nlohmann::json, uint64_t connection)>;
    using ReplyCallback = std::function<void(bool, nlohmann::json)>;
    using ConnectionHandler = std::function<void(_OBJ<IJsonRpcClient>, bool)>;

    // Sent only while connected; errors of building the message reach the caller.
    virtual void Notify(const std::string& type, const nlohmann::json& data) = 0;
    // Sent only while connected; the callback runs on queue 2 when the reply comes, with no
    // time-out. Once the call's connection is lost the callback is released without being
    // called, also when its reply had already arrived, unless that reply is a refusal ("_OK"
    // false). Errors of building the message reach the caller, and nothing is sent.
    virtual void Call(const std::string& path, const std::string& command,
                      const nlohmann::json& params, const ReplyCallback& callback) = 0;
    virtual _OBJ<IJsonRpcClient> SetConnectionHandler(const ConnectionHandler& handler) = 0;
    virtual void RegisterHandler(const std::string& type, const NotificationHandler& handler) = 0;
    virtual void Connect() = 0;
    virtual void Close() = 0;
    // The connection whose up event has been handled last, numbered from 1 over the client's
    // life; 0 while none is up.
    virtual uint64_t Connection() = 0;
    // That connection is the one whose up event has been handled last, and it is still open: a
    // call made now on queue 1 goes out on it.
    virtual bool IsCurrent(uint64_t connection) = 0;
    virtual ~IJsonRpcClient() = default;
};

}  // namespace _NET
