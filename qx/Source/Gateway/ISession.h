#pragma once

#include <cstdint>
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
    // The last argument is the connection the job came on (see IsCurrent).
    using PrintCallback = std::function<void(_OBJ<ISession>, PRINT_JOB::DEF, uint64_t connection)>;

    // Dropped silently while not connected: nothing is sent, onReply never runs.
    virtual void Call(const std::string& path, const std::string& method,
                      const nlohmann::json& params, const ReplyCallback& onReply) = 0;
    virtual void SetOnPrint(const PrintCallback& onPrint) = 0;
    // Ends the connection for good when it is up; does nothing while it is down.
    virtual void Disconnect() = 0;
    // True from the socket's up event to its down event, whatever the MES answered.
    virtual bool IsConnected() = 0;
    // The connection up now, 0 when none: work queued for it carries this number.
    virtual uint64_t Connection() = 0;
    // The work's connection is the one up, and still open at this moment: a result sent now on
    // queue 1 goes out on it. Turns false as soon as that connection ends, before the loss is
    // reported, and stays false on every later connection.
    virtual bool IsCurrent(uint64_t connection) = 0;
    virtual ~ISession() = default;
};
