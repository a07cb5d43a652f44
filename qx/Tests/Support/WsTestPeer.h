#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace SUPPORT {

// WebSocket server for tests, on 127.0.0.1 at a free port, with its own thread.
//
// It takes the opening handshake of each client and then speaks the frame layer itself, so it
// sees every frame exactly as the client wrote it and can send any frame, well-formed or not.
// It answers pings with pongs and a close frame with a close frame carrying the same code, then
// ends the TCP connection (unless told not to answer them). It never negotiates an extension.
//
// Every operation may be called from any thread. Operations that act on "the connection" use
// the latest connection whose handshake request was taken (it counts as open before the answer
// goes out) and return false when it has ended; they queue their frames in call order, behind
// the answer, and return at once. Close, Drop, Refuse and Resume have taken
// effect when they return.
struct CWsTestPeer {
    enum OPCODE : uint8_t {
        OPCODE_CONTINUATION = 0,
        OPCODE_TEXT = 1,
        OPCODE_BINARY = 2,
        OPCODE_CLOSE = 8,
        OPCODE_PING = 9,
        OPCODE_PONG = 10,
    };

    struct Frame {
        uint8_t opcode = 0;
        bool fin = false;
        bool masked = false;
        std::string payload;    // unmasked
        size_t connection = 0;  // 1 for the first connection whose handshake was taken, ...
    };

    CWsTestPeer();
    ~CWsTestPeer();
    CWsTestPeer(const CWsTestPeer&) = delete;
    CWsTestPeer& operator=(const CWsTestPeer&) = delete;

    uint16_t Port() const;
    std::string Url() const;  // "ws://127.0.0.1:<port>/"

    // Everything received so far, in arrival order.
    std::vector<Frame> Frames() const;
    // Only text, binary and continuation frames.
    std::vector<Frame> DataFrames() const;
    // Connections whose handshake request was taken, and those of them that have ended since.
    size_t Connections() const;
    size_t Disconnections() const;
    // TCP connections accepted, whether or not their handshake succeeded.
    size_t Attempts() const;
    bool IsConnected() const;
    // The request target of the latest handshake, e.g. "/path?x=1", and the extensions that the
    // client offered in it ("" for none).
    std::string LastTarget() const;
    std::string LastExtensions() const;

    // Calls until it returns true or the timeout passes; checks again after every change of the
    // peer's state. Returns the last result.
    bool WaitFor(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

    bool SendText(const std::string& text);
    bool SendBinary(const std::string& data);
    bool SendFrame(uint8_t opcode, bool fin, const std::string& payload);
    // Bytes as they are, for frames no well-behaved peer would write.
    bool SendRaw(const std::string& bytes);
    // Bytes of the sends on the connection whose write has not completed: a client that holds
    // reading keeps some there once the system's buffers are full. 0 once it has ended.
    size_t Unwritten() const;

    // Starts the close handshake with this code and reason.
    bool Close(uint16_t code, const std::string& reason);
    // Ends the TCP connection without a close frame.
    bool Drop();
    void SetAnswerPings(bool answer);
    // Not answering close frames leaves the client's close handshake hanging.
    void SetAnswerCloses(bool answer);
    // A slow link: after each read of at most 64 KiB the peer waits this long before reading
    // again (zero: no wait).
    void SetReadPause(std::chrono::milliseconds pause);

    // Called on the peer's thread with the payload of every whole text frame; a non-empty
    // answer goes back as a text frame, and the frame it answers is not kept (long runs would
    // fill the memory). An empty function ends it.
    using Responder = std::function<std::string(const std::string& text)>;
    void SetResponder(Responder responder);

    // Connections ended as they come: each as soon as it is accepted, before its handshake (the
    // client's attempt then fails at once on every system, where a refused connect may take
    // seconds), or each as soon as its handshake is answered.
    enum DROP { DROP_NONE, DROP_ON_ACCEPT, DROP_ON_OPEN };
    void SetDropAtOnce(DROP when);

    // While on, new TCP connections are accepted but their opening handshake is never answered;
    // turning it off drops those connections.
    void SetHoldHandshakes(bool hold);

    // Stops listening and drops every connection: connection attempts are refused.
    void Refuse();
    // Listens again on the same port.
    void Resume();

    static uint16_t CloseCode(const Frame& frame);
    static std::string CloseReason(const Frame& frame);

private:
    struct Impl;
    std::unique_ptr<Impl> m_Impl;
};

}  // namespace SUPPORT
