#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Net/CWsMessage.h"

namespace _NET {

// WebSocket client on its own thread that keeps one connection up: it connects at Start,
// reconnects after every failed attempt and every loss until Stop, pings the peer and gives up a
// connection whose peer stops answering. A loss starts a new round of attempts at once, unless
// the connection ended within the minimum wait of its handshake: that counts as a failed attempt.
// Every event reaches the message callback on the engine's thread, one at a time and in the order
// in which it happened.
//
// Configure before Start; a Start takes a copy of the configuration. Send and SendBinary may be
// called from any thread. Neither Stop nor the destructor may be called from the callback.
struct CWsEngine {
    // The callback may take the message's text (move it out); the rest stays the engine's.
    using Callback = std::function<void(CWsMessage&)>;
    // Looks a host name up: its numeric addresses, or none and the reason in error.
    using ResolveFunction =
        std::function<std::vector<std::string>(const std::string& host, std::string& error)>;

    // Incoming messages larger than this end the connection as a protocol error (close 1009).
    static constexpr size_t kMaxMessageSize = 8 * 1024 * 1024;
    // A connection attempt (resolve, TCP connect and opening handshake) that takes longer fails.
    static constexpr std::chrono::milliseconds kConnectTimeout{10000};
    // A close handshake that the peer has not completed by then ends by dropping the connection.
    static constexpr std::chrono::milliseconds kCloseTimeout{3000};
    // A peer that has missed a pong is presumed dead, and so is one that, while we hold reading,
    // takes none of the messages queued for it for as long: the close handshake that follows
    // ends when the peer answers or when this has passed.
    static constexpr std::chrono::milliseconds kDeadPeerCloseTimeout{250};
    // Reading stops while what the messages handed on and not yet handled cost (their bytes and
    // kMessageCost each), or the bytes queued to send and not yet sent, pass this, and starts
    // again once they are back within it: a peer that floods us, or reads slower than it asks,
    // meets TCP's push-back instead of filling our memory. Messages to send are refused while
    // those queued and not yet sent pass it: the answers to what was read before reading stopped
    // cannot pile up either. Eight of the largest messages: far above what a working link holds.
    static constexpr size_t kMaxBacklog = 64 * 1024 * 1024;
    // What holding one delivered message costs beyond its bytes, so that an empty one is not
    // free: the receiver's task that carries it (122 bytes measured with glibc on 64 bits: its
    // closure and queue entry), the string's own allocation past its inline size, and its later
    // parse into a document of one small object (160 bytes); rounded up for other allocators.
    static constexpr size_t kMessageCost = 512;
    // Reading also stops while this many messages are handed on and not yet handled: the
    // receiver holds a task per message, and a flood of tiny ones must meet TCP's push-back as a
    // flood of big ones does. It starts again only once at most half of them are left (and the
    // bytes are within kMaxBacklog): resuming at each hand-back would wake the engine's thread
    // for every single message of a flood. A working link holds a few.
    static constexpr size_t kMaxUnhandledMessages = 1024;

    CWsEngine();
    ~CWsEngine();  // Stop(1000, "Normal closure")
    CWsEngine(const CWsEngine&) = delete;
    CWsEngine& operator=(const CWsEngine&) = delete;

    void SetUrl(const std::string& url);
    void DisablePerMessageDeflate();
    void SetOnMessageCallback(const Callback& callback);
    // Zero turns pinging off.
    void SetPingInterval(std::chrono::milliseconds interval);
    void SetMinWaitBetweenReconnectionRetries(std::chrono::milliseconds wait);
    void SetMaxWaitBetweenReconnectionRetries(std::chrono::milliseconds wait);
    // For tests only (one that blocks holds an attempt in its lookup); the programs keep the
    // system's name lookup. A lookup runs on a thread of its own that neither Stop nor the
    // destructor waits for (the system's lookup cannot be interrupted), so the function must not
    // use anything that may be gone before it returns. A literal address is not looked up.
    void SetResolveFunction(const ResolveFunction& resolve);

    // Starts the thread, which connects at once. Does nothing while the thread runs.
    void Start();
    // Closes a live connection with the code and reason (its Close message is delivered before
    // Stop returns), abandons a pending attempt (without waiting for its name lookup), and joins
    // the thread. Nothing reconnects.
    void Stop(uint16_t code, const std::string& reason);

    // Queue one text or binary message on the connection with this number (that of its Open);
    // false, and nothing queued, unless that is the live connection and no more than
    // kMaxBacklog bytes wait to be sent on it (the first refusal of a run is logged). A message
    // queued for a connection that ends before it goes out is dropped, never sent on the next
    // one. Messages go out whole, in the order of the calls.
    bool Send(const std::string& text, uint64_t connection);
    bool SendBinary(const std::string& data, uint64_t connection);

    // The connection with this number (that of its Open) is the live one.
    bool IsOpen(uint64_t connection) const;

    // The receiver has handled one delivered message of this many bytes (its str.size()): called
    // exactly once for every message delivered to the callback, from any thread. Until then the
    // message counts against kMaxUnhandledMessages, and its bytes and kMessageCost against
    // kMaxBacklog.
    void Handled(size_t bytes);
    // What the messages delivered and not yet handled cost (bytes and kMessageCost each), plus
    // bytes queued and not yet sent.
    size_t Backlog() const;

    // The wait after a failed attempt of a round, n attempts of the round having failed before it:
    // 100 * 2^n ms held between the two limits.
    static std::chrono::milliseconds RetryWait(uint32_t failedBefore, std::chrono::milliseconds min,
                                               std::chrono::milliseconds max);

private:
    struct Impl;
    std::unique_ptr<Impl> m_Impl;
};

}  // namespace _NET
