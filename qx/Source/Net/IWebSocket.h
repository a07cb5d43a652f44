#pragma once

#include <cstdint>
#include <string>

#include "Platform/IRoot.h"

namespace _NET {

// The link's WebSocket connection: connects by itself and reconnects after every loss.
struct IWebSocket : IRoot {
    enum OPCODE : int32_t { OPCODE_TEXT = 0, OPCODE_BINARY = 1 };

    virtual bool IsConnected() = 0;
    // 1 sends one binary message, any other value one text message. Callers check IsConnected.
    // The message goes out only on the connection whose coming up queue 1 has last handled.
    virtual void Send(const std::string& data, OPCODE opcode) = 0;
    // Stops for good: a live connection is closed with 1000 "Normal closure", and nothing
    // reconnects, also while down.
    virtual void Close() = 0;
    virtual uint32_t GetUserValue() = 0;
    virtual void SetUserValue(uint32_t value) = 0;
    // The connection whose coming up queue 1 has last handled is still open, so that what is
    // sent now can still go out; false from the moment it ends, before queue 1 hears of it.
    virtual bool IsCurrent() = 0;
    virtual ~IWebSocket() = default;
};

}  // namespace _NET
