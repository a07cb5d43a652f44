#pragma once

#include <functional>
#include <optional>
#include <string>

#include "Platform/IRoot.h"

namespace _OS {

// Text keys mapped to text values in one LevelDB database; every operation is serialised.
struct ILevelDb : IRoot {
    // Not synced to disk; a failed write is not reported.
    virtual void Put(const std::string& key, const std::string& value) = 0;
    // No value for a missing key or a failed read.
    virtual std::optional<std::string> Get(const std::string& key) = 0;
    virtual void Delete(const std::string& key) = 0;
    // Copies the whole store first, then calls fn once per pair in no particular order, still
    // under the store's lock: fn must not call back into this store. An iteration error
    // means fn is called for nothing.
    virtual void ForEach(std::function<void(const std::string&, const std::string&)> fn) = 0;
    virtual ~ILevelDb() = default;
};

}  // namespace _OS
