#pragma once

#include "Platform/ILevelDb.h"
#include "Platform/IRegDatabase.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"

namespace _OS::ENV {

// Without a store every Get yields no value and every Put does nothing, so settings keep
// their defaults when the store could not be opened.
struct Code_RegDatabase : IRegDatabase {
    QX_REFCOUNTED

public:
    static _OBJ<IRegDatabase> Create(const _OBJ<ILevelDb>& store);

    std::optional<std::string> Get(const std::string& key) override;
    void Put(const std::string& key, const std::string& value) override;
    ~Code_RegDatabase() override = default;

private:
    explicit Code_RegDatabase(const _OBJ<ILevelDb>& store) : m_Store(store) {}

    _OBJ<ILevelDb> m_Store;
};

}  // namespace _OS::ENV
