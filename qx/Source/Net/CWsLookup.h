#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Net/CWsEngine.h"

namespace _NET {

// The name lookup of one connection attempt. A host name is looked up on a thread of its own,
// since the system's lookup cannot be interrupted: nobody waits for that thread, and once the
// lookup has been cancelled it drops its result and ends without touching its starter. A
// literal address needs no lookup.
struct CWsLookup {
    using Endpoints = std::vector<boost::asio::ip::tcp::endpoint>;
    // Called on the executor's thread with the endpoints, or none and the reason.
    using Done = std::function<void(const Endpoints& endpoints, const std::string& error)>;

    // Looks host up with resolve (the system's lookup when empty) and hands the result to done,
    // unless Cancel comes first.
    static std::shared_ptr<CWsLookup> Start(const CWsEngine::ResolveFunction& resolve,
                                            const std::string& host, uint16_t port,
                                            const boost::asio::any_io_executor& executor,
                                            Done done);

    // Once it returns, done is not called. Call it before the executor's context goes.
    void Cancel();

    CWsLookup(uint16_t port, const boost::asio::any_io_executor& executor, Done done);

private:
    // On the lookup's thread: posts the result unless cancelled.
    void Finish(const std::vector<std::string>& addresses, std::string error);

    std::mutex m_Mutex;  // m_Done against Cancel
    uint16_t m_Port;
    boost::asio::any_io_executor m_Executor;
    Done m_Done;
};

}  // namespace _NET
