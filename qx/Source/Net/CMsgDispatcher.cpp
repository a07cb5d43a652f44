#include "Net/CMsgDispatcher.h"

#include <nlohmann/json.hpp>

#include <exception>

#include "Platform/Gcd.h"
#include "Platform/Log.h"

namespace _NET {

void CMsgDispatcher::Dispatch(_OBJ<IJsonRpcClient> client, const std::string& type,
                              const nlohmann::json& data) {
    const auto it = m_Handlers.find(type);
    if (it == m_Handlers.end())
        return;
    try {
        _GCD::Post([handler = it->second, client, data] { handler(client, data); },
                   _GCD::QUEUE_POOL);
    } catch (const std::exception& e) {
        _LOG::Error("Notification '" + type + "' dropped: " + e.what());
    } catch (...) {
        _LOG::Error("Notification '" + type + "' dropped");
    }
}

}  // namespace _NET
