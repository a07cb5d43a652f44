#include "Net/CWsLookup.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <system_error>
#include <thread>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace _NET {

namespace {

std::vector<std::string> SystemResolve(const std::string& host, std::string& error) {
    asio::io_context ioc;
    tcp::resolver resolver(ioc);
    boost::system::error_code ec;
    const tcp::resolver::results_type results = resolver.resolve(host, "", ec);
    if (ec) {
        error = ec.message();
        return {};
    }
    std::vector<std::string> addresses;
    for (const auto& entry : results)
        addresses.push_back(entry.endpoint().address().to_string());
    return addresses;
}

}  // namespace

CWsLookup::CWsLookup(uint16_t port, const asio::any_io_executor& executor, Done done)
    : m_Port(port), m_Executor(executor), m_Done(std::move(done)) {}

std::shared_ptr<CWsLookup> CWsLookup::Start(const CWsEngine::ResolveFunction& resolve,
                                            const std::string& host, uint16_t port,
                                            const asio::any_io_executor& executor, Done done) {
    auto lookup = std::make_shared<CWsLookup>(port, executor, std::move(done));
    boost::system::error_code literal;
    asio::ip::make_address(host, literal);
    if (!literal) {
        lookup->Finish({host}, {});
        return lookup;
    }
    // The thread holds the lookup's shared state and its own copy of the function, nothing else.
    try {
        std::thread([lookup, resolve = resolve ? resolve : SystemResolve, host] {
            std::string error;
            const std::vector<std::string> addresses = resolve(host, error);
            lookup->Finish(addresses, std::move(error));
        }).detach();
    } catch (const std::system_error& e) {
        lookup->Finish({}, e.what());
    }
    return lookup;
}

void CWsLookup::Cancel() {
    Done done;  // goes after the lock is released
    std::lock_guard<std::mutex> lock(m_Mutex);
    done.swap(m_Done);
}

void CWsLookup::Finish(const std::vector<std::string>& addresses, std::string error) {
    Endpoints endpoints;
    for (const std::string& text : addresses) {
        boost::system::error_code ec;
        const asio::ip::address address = asio::ip::make_address(text, ec);
        if (!ec)
            endpoints.emplace_back(address, m_Port);
    }
    if (endpoints.empty() && error.empty())
        error = "No address found";
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_Done)
        return;
    asio::post(m_Executor, [done = std::move(m_Done), endpoints = std::move(endpoints),
                            error = std::move(error)] { done(endpoints, error); });
    m_Done = nullptr;
}

}  // namespace _NET
