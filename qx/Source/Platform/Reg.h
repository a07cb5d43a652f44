#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "Platform/Env.h"
#include "Platform/IRegDatabase.h"
#include "Platform/Json.h"
#include "Platform/Obj.h"

namespace _OS::ENV {

// The setting's value from a parsed stored text; no value when the JSON is of a kind the
// type does not take.
template <typename T>
std::optional<T> RegValueFromJson(const nlohmann::json& json);

// Booleans give 1 and 0, integers their low 32 bits, floating-point numbers their value
// truncated toward zero (no value outside the range of int); anything else no value.
template <>
std::optional<int> RegValueFromJson<int>(const nlohmann::json& json);

// A typed setting bound to one registry key. Loaded when declared, written only by Set.
// Declare it only after ENV::Initialize.
template <typename T>
struct REG {
    REG(const std::string& key, const T& def) : m_Key(key), m_Default(def), m_Value(def) {
        CheckInitialized();
        m_Registry = GetRegDatabase();
        Load();
    }

    // A missing or unreadable stored value gives the default; so does one nested deeper than
    // MAX_JSON_DEPTH.
    void Load() {
        const std::optional<std::string> text = m_Registry->Get(m_Key);
        if (!text) {
            m_Value = m_Default;
            return;
        }
        try {
            m_Value = RegValueFromJson<T>(ParseJson(*text)).value_or(m_Default);
        } catch (const nlohmann::json::exception&) {
            m_Value = m_Default;
        }
    }

    // Writes on every call, also when the value did not change.
    void Set(const T& value) {
        m_Value = value;
        m_Registry->Put(m_Key, nlohmann::json(value).dump());
    }

    const T& Get() const { return m_Value; }

    _OBJ<IRegDatabase> m_Registry;
    std::string m_Key;
    T m_Default;
    T m_Value;
};

}  // namespace _OS::ENV
