#pragma once

#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "Platform/IRoot.h"
#include "Platform/Obj.h"

namespace _NET {

// Message layer towards the MES over one WebSocket: calls with identifiers and reply callbacks,
// notifications both ways. Install the handlers, then Connect once.
struct IJsonRpcClient : IRoot {
    using NotificationHandler = std::function<void(_OBJ<IJsonRpcClient>, nlohmann::json)>;
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
    // The connection whose up event has been handled is still open: a call made now can go out.
    virtual bool IsCurrent() = 0;
    virtual ~IJsonRpcClient() = default;
};

}  // namespace _NET
