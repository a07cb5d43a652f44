#include "Net/CMsgDispatcher.h"

#include <nlohmann/json.hpp>

#include "Platform/Gcd.h"

namespace _NET {

void CMsgDispatcher::Dispatch(_OBJ<IJsonRpcClient> client, const std::string& type,
                              const nlohmann::json& data) {
    const auto it = m_Handlers.find(type);
    if (it == m_Handlers.end())
        return;
    try {
        _GCD::Post([handler = it->second, client, data] { handler(client, data); },
                   _GCD::QUEUE_POOL);
    } catch (...) {
    }
}

}  // namespace _NET
