#include "Net/CWsEngine.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <mutex>
#include <optional>
#include <thread>

#include "Net/CWsConnection.h"
#include "Platform/Halt.h"
#include "Platform/Log.h"

namespace asio = boost::asio;
using std::chrono::milliseconds;

namespace _NET {

// The engine's thread runs one connection at a time and, between attempts, the retry waits.
struct CWsEngine::Impl {
    struct Config {
        CWsConnection::Settings m_Connection;
        Callback m_Callback;
        milliseconds m_MinWait{1000};
        milliseconds m_MaxWait{10000};
    };

    std::mutex m_Mutex;  // configuration, Start and Stop
    Config m_Config;
    std::thread m_Thread;
    // Each run has its own context: nothing of a stopped run stays queued for the next.
    std::mutex m_ContextMutex;  // the context pointer against posts from other threads
    std::unique_ptr<asio::io_context> m_Ioc;
    // The number of the current connection while it has reported Open and not ended; else 0.
    std::atomic<uint64_t> m_Open{0};
    std::atomic<size_t> m_Unhandled{0};          // bytes and kMessageCost of each message
    std::atomic<size_t> m_UnhandledMessages{0};  // delivered and not yet handed back
    std::atomic<size_t> m_Unsent{0};
    // A connection has stopped reading for the backlog: the next drain wakes it.
    std::atomic<bool> m_ReadPaused{false};
    // Messages refused in a row since the last one queued (under m_ContextMutex).
    size_t m_Refused = 0;

    // Owned by the engine's thread while it runs.
    Config m_Run;
    bool m_Stopping = false;
    uint32_t m_Failures = 0;
    uint64_t m_Numbers = 0;                            // connections opened so far, over all runs
    std::chrono::steady_clock::time_point m_OpenedAt;  // of the current connection
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> m_Work;
    std::optional<asio::steady_timer> m_RetryTimer;
    std::shared_ptr<CWsConnection> m_Connection;

    void Deliver(CWsMessage& message) {
        if (!m_Run.m_Callback)
            return;
        // Counted before the callback: the receiver may hand it back before the call returns.
        // Its size is kept: the callback may take the text.
        const bool held = message.type == CWsMessage::TYPE_MESSAGE;
        const size_t bytes = message.str.size();
        if (held) {
            m_Unhandled += bytes + kMessageCost;
            ++m_UnhandledMessages;
        }
        // A throwing callback must not take the engine's thread down with it, nor hold a
        // message that it will never hand back.
        try {
            m_Run.m_Callback(message);
        } catch (...) {
            if (held)
                Handled(bytes);
        }
    }

    size_t Backlog() const { return m_Unhandled + m_Unsent; }

    bool WithinBounds() const {
        return Backlog() <= kMaxBacklog && m_UnhandledMessages < kMaxUnhandledMessages;
    }

    // Asked by the connection before each read; a read delivers at most one message.
    bool MayRead() {
        if (WithinBounds())
            return true;
        m_ReadPaused = true;
        // A drain between the two looks must not be missed: it may not have seen the flag.
        if (!WithinBounds())
            return false;
        m_ReadPaused = false;
        return true;
    }

    // After the backlog shrank, on any thread.
    void Drained() {
        if (!WithinBounds() || m_UnhandledMessages > kMaxUnhandledMessages / 2 ||
            !m_ReadPaused.exchange(false))
            return;
        std::lock_guard<std::mutex> lock(m_ContextMutex);
        if (m_Ioc) {
            asio::post(*m_Ioc, [this] {
                if (m_Connection)
                    m_Connection->ResumeRead();
            });
        }
    }

    void Handled(size_t bytes) {
        m_Unhandled -= bytes + kMessageCost;
        --m_UnhandledMessages;
        Drained();
    }

    void Sent(size_t bytes) {
        m_Unsent -= bytes;
        Drained();
    }

    void Connect() {
        if (m_Stopping)
            return;
        CWsConnection::Hooks hooks;
        hooks.m_Report = [this](CWsMessage message) { OnReport(std::move(message)); };
        hooks.m_MayRead = [this] { return MayRead(); };
        hooks.m_Sent = [this](size_t bytes) { Sent(bytes); };
        m_Connection = std::make_shared<CWsConnection>(*m_Ioc, m_Run.m_Connection, hooks);
        m_Connection->Run();
    }

    // Only the current connection reports: the others have ended.
    void OnReport(CWsMessage message) {
        switch (message.type) {
            case CWsMessage::TYPE_OPEN:
                message.connection = ++m_Numbers;
                m_Open = message.connection;
                m_OpenedAt = std::chrono::steady_clock::now();
                break;
            case CWsMessage::TYPE_CLOSE:
            case CWsMessage::TYPE_ERROR:
                m_Open.exchange(0) != 0 ? OnLost(message) : OnFailed(message);
                // The stream may keep a close handshake that met incoming data suspended for
                // ever; once the end is reported, nothing of a stopping run is left to wait for.
                if (m_Stopping)
                    m_Ioc->stop();
                return;
            default:
                break;
        }
        Deliver(message);
    }

    // The end of an open connection: reported, and a new round starts at once. One that ended
    // within the minimum wait of its handshake counts as a failed attempt of the round instead:
    // a peer that accepts and drops at once gets one attempt per wait, not a storm of them.
    void OnLost(CWsMessage& message) {
        Deliver(message);
        if (m_Stopping)
            return;
        if (std::chrono::steady_clock::now() - m_OpenedAt < m_Run.m_MinWait)
            return Retry();
        m_Failures = 0;
        asio::post(*m_Ioc, [this] { Connect(); });
    }

    // A failed attempt: reported, and the next one of the round follows its wait.
    void OnFailed(CWsMessage& message) {
        if (m_Stopping)
            return;
        Deliver(message);
        Retry();
    }

    void Retry() {
        m_RetryTimer->expires_after(RetryWait(m_Failures, m_Run.m_MinWait, m_Run.m_MaxWait));
        if (m_Failures < 64)
            ++m_Failures;
        m_RetryTimer->async_wait([this](boost::system::error_code ec) {
            if (!ec)
                Connect();
        });
    }

    void DoStop(uint16_t code, const std::string& reason) {
        m_Stopping = true;
        m_RetryTimer->cancel();
        if (m_Connection)
            m_Connection->Close(code, reason);
        m_Work.reset();
        // A pending attempt is abandoned without a report: nothing is left to wait for.
        if (!m_Open)
            m_Ioc->stop();
    }

    bool Queue(std::string data, bool binary, uint64_t connection) {
        std::unique_lock<std::mutex> lock(m_ContextMutex);
        if (connection == 0 || m_Open != connection || !m_Ioc)
            return false;
        // A peer that reads nothing must not make us hold all we have for it: past the bound a
        // message is refused. The first refusal of a run is logged, outside the lock.
        if (m_Unsent > kMaxBacklog) {
            const bool first = m_Refused++ == 0;
            lock.unlock();
            if (first)
                _LOG::Error(
                    "WebSocket: messages dropped, the peer has not read the 64 MiB queued "
                    "for it");
            return false;
        }
        m_Refused = 0;
        const size_t size = data.size();
        m_Unsent += size;
        asio::post(*m_Ioc, [this, data = std::move(data), binary, connection, size]() mutable {
            // The connection may have ended meanwhile: its messages never go out on the next.
            if (!m_Connection || m_Open != connection ||
                !m_Connection->Send(std::move(data), binary))
                Sent(size);
        });
        return true;
    }
};

CWsEngine::CWsEngine() : m_Impl(std::make_unique<Impl>()) {}

CWsEngine::~CWsEngine() {
    Stop(1000, "Normal closure");
}

void CWsEngine::SetUrl(const std::string& url) {
    std::lock_guard<std::mutex> lock(m_Impl->m_Mutex);
    m_Impl->m_Config.m_Connection.m_Url = url;
}

void CWsEngine::DisablePerMessageDeflate() {
    std::lock_guard<std::mutex> lock(m_Impl->m_Mutex);
    m_Impl->m_Config.m_Connection.m_Deflate = false;
}

void CWsEngine::SetOnMessageCallback(const Callback& callback) {
    std::lock_guard<std::mutex> lock(m_Impl->m_Mutex);
    m_Impl->m_Config.m_Callback = callback;
}

void CWsEngine::SetPingInterval(milliseconds interval) {
    std::lock_guard<std::mutex> lock(m_Impl->m_Mutex);
    m_Impl->m_Config.m_Connection.m_PingInterval = interval;
}

void CWsEngine::SetMinWaitBetweenReconnectionRetries(milliseconds wait) {
    std::lock_guard<std::mutex> lock(m_Impl->m_Mutex);
    m_Impl->m_Config.m_MinWait = wait;
}

void CWsEngine::SetMaxWaitBetweenReconnectionRetries(milliseconds wait) {
    std::lock_guard<std::mutex> lock(m_Impl->m_Mutex);
    m_Impl->m_Config.m_MaxWait = wait;
}

void CWsEngine::SetResolveFunction(const ResolveFunction& resolve) {
    std::lock_guard<std::mutex> lock(m_Impl->m_Mutex);
    m_Impl->m_Config.m_Connection.m_Resolve = resolve;
}

void CWsEngine::Start() {
    Impl& d = *m_Impl;
    std::lock_guard<std::mutex> lock(d.m_Mutex);
    if (d.m_Thread.joinable())
        return;
    d.m_Run = d.m_Config;
    d.m_Stopping = false;
    d.m_Failures = 0;
    {
        std::lock_guard<std::mutex> context(d.m_ContextMutex);
        d.m_Ioc = std::make_unique<asio::io_context>();
    }
    d.m_Work.emplace(d.m_Ioc->get_executor());
    d.m_RetryTimer.emplace(*d.m_Ioc);
    asio::post(*d.m_Ioc, [&d] { d.Connect(); });
    d.m_Thread = std::thread([&d] { d.m_Ioc->run(); });
}

void CWsEngine::Stop(uint16_t code, const std::string& reason) {
    Impl& d = *m_Impl;
    std::lock_guard<std::mutex> lock(d.m_Mutex);
    if (!d.m_Thread.joinable())
        return;
    if (std::this_thread::get_id() == d.m_Thread.get_id())
        HALT();
    asio::post(*d.m_Ioc, [&d, code, reason] { d.DoStop(code, reason); });
    d.m_Thread.join();
    d.m_Open = 0;
    d.m_Connection.reset();
    d.m_RetryTimer.reset();
    d.m_Work.reset();
    std::lock_guard<std::mutex> context(d.m_ContextMutex);
    d.m_Ioc.reset();
    // Whatever was queued went with the run, unsent.
    d.m_Unsent = 0;
    d.m_ReadPaused = false;
}

bool CWsEngine::Send(const std::string& text, uint64_t connection) {
    return m_Impl->Queue(text, false, connection);
}

bool CWsEngine::SendBinary(const std::string& data, uint64_t connection) {
    return m_Impl->Queue(data, true, connection);
}

bool CWsEngine::IsOpen(uint64_t connection) const {
    return connection != 0 && m_Impl->m_Open == connection;
}

void CWsEngine::Handled(size_t bytes) {
    m_Impl->Handled(bytes);
}

size_t CWsEngine::Backlog() const {
    return m_Impl->Backlog();
}

milliseconds CWsEngine::RetryWait(uint32_t failedBefore, milliseconds min, milliseconds max) {
    const milliseconds wait = failedBefore >= 30 ? max : milliseconds(100LL << failedBefore);
    return std::max(min, std::min(wait, max));
}

}  // namespace _NET
