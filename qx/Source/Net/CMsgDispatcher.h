#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "Net/IJsonRpcClient.h"

namespace _NET {

// Handlers of incoming notifications by their "_TYPE".
struct CMsgDispatcher {
    // Posts the type's handler with the client, the data and the connection they came on to
    // queue 2; a type without a handler is ignored. The data are moved, never copied.
    void Dispatch(_OBJ<IJsonRpcClient> client, const std::string& type, nlohmann::json&& data,
                  uint64_t connection);

    std::map<std::string, IJsonRpcClient::NotificationHandler> m_Handlers;
};

}  // namespace _NET
