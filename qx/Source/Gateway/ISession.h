#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "Gateway/PrintJob.h"
#include "Platform/IRoot.h"
#include "Platform/Obj.h"

// The gateway's one connection to the MES.
struct ISession : IRoot {
    using ReplyCallback = std::function<void(bool, nlohmann::json)>;
    using ConnectionCallback = std::function<void(_OBJ<ISession>, bool)>;
    using PrintCallback = std::function<void(_OBJ<ISession>, PRINT_JOB::DEF)>;

    // Dropped silently while not connected: nothing is sent, onReply never runs.
    virtual void Call(const std::string& path, const std::string& method,
                      const nlohmann::json& params, const ReplyCallback& onReply) = 0;
    virtual void SetOnPrint(const PrintCallback& onPrint) = 0;
    // Ends the connection for good when it is up; does nothing while it is down.
    virtual void Disconnect() = 0;
    // True from the socket's up event to its down event, whatever the MES answered.
    virtual bool IsConnected() = 0;
    // Connected, and the connection is still open at this moment: a result sent now can reach
    // the MES. Turns false as soon as the connection ends, before the loss is reported.
    virtual bool IsCurrent() = 0;
    virtual ~ISession() = default;
};
