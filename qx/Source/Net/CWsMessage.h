#pragma once

#include <cstdint>
#include <string>

namespace _NET {

// What the WebSocket engine reports to its message callback, on the engine's own thread.
struct CWsMessage {
    enum TYPE : int32_t {
        TYPE_MESSAGE = 0,   // a whole data message: str is its payload, binary its kind
        TYPE_OPEN = 1,      // the opening handshake succeeded
        TYPE_CLOSE = 2,     // the connection ended by a close handshake: closeCode, str the reason
        TYPE_ERROR = 3,     // a connection attempt failed, or the connection broke: str says why
        TYPE_PING = 4,      // the peer pinged us (the engine has answered it)
        TYPE_PONG = 5,      // the peer answered our ping
        TYPE_FRAGMENT = 6,  // part of a data message arrived; the rest is still to come
    };

    TYPE type = TYPE_MESSAGE;
    std::string str;
    bool binary = false;
    uint16_t closeCode = 0;
    // Open: the connection's number, from 1 in the order of the engine's connections. Messages
    // to send are stamped with it (CWsEngine::Send).
    uint64_t connection = 0;
};

}  // namespace _NET
