#pragma once

#include <map>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "Net/IJsonRpcClient.h"

namespace _NET {

// Handlers of incoming notifications by their "_TYPE".
struct CMsgDispatcher {
    // Posts the type's handler with the client and the data to queue 2; a type without a
    // handler is ignored.
    void Dispatch(_OBJ<IJsonRpcClient> client, const std::string& type, const nlohmann::json& data);

    std::map<std::string, IJsonRpcClient::NotificationHandler> m_Handlers;
};

}  // namespace _NET
