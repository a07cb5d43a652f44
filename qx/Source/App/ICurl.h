#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "Platform/IRoot.h"

namespace _NET {

// Posts one JSON document to a fixed URL and returns the reply parsed as JSON.
struct ICurl : IRoot {
    struct RESULT {
        bool ok = false;      // transfer completed and the reply body is JSON
        int32_t status = 0;   // HTTP status of the last response, 0 without one
        nlohmann::json data;  // the parsed reply, null unless ok
        std::string body;     // the raw reply body
        std::string error;    // empty when ok
    };

    // Blocks the calling thread for at most timeoutMs for the whole transfer.
    virtual RESULT Post(const nlohmann::json& body, int timeoutMs) = 0;
    virtual ~ICurl() = default;
};

}  // namespace _NET
