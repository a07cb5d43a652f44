#pragma once

#include <optional>
#include <string>

#include "Platform/IRoot.h"

namespace _OS::ENV {

// The settings registry: text values (the JSON text of each setting) under text keys.
struct IRegDatabase : IRoot {
    virtual std::optional<std::string> Get(const std::string& key) = 0;
    virtual void Put(const std::string& key, const std::string& value) = 0;
    virtual ~IRegDatabase() = default;
};

}  // namespace _OS::ENV
