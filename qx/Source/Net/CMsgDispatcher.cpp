#include "Net/CMsgDispatcher.h"

#include <nlohmann/json.hpp>

#include <exception>
#include <memory>
#include <utility>

#include "Platform/Gcd.h"
#include "Platform/Log.h"

namespace _NET {

void CMsgDispatcher::Dispatch(_OBJ<IJsonRpcClient> client, const std::string& type,
                              nlohmann::json&& data, uint64_t connection) {
    const auto it = m_Handlers.find(type);
    if (it == m_Handlers.end())
        return;
    try {
        // Shared: posting copies the task, and a copy must not copy the data.
        const auto held = std::make_shared<nlohmann::json>(std::move(data));
        _GCD::Post([handler = it->second, client, held,
                    connection] { handler(client, std::move(*held), connection); },
                   _GCD::QUEUE_POOL);
    } catch (const std::exception& e) {
        _LOG::Error("Notification '" + type + "' dropped: " + e.what());
    } catch (...) {
        _LOG::Error("Notification '" + type + "' dropped");
    }
}

}  // namespace _NET
