#include "Platform/Code_RegDatabase.h"

namespace _OS::ENV {

_OBJ<IRegDatabase> Code_RegDatabase::Create(const _OBJ<ILevelDb>& store) {
    return _OBJ<IRegDatabase>(new Code_RegDatabase(store));
}

std::optional<std::string> Code_RegDatabase::Get(const std::string& key) {
    if (!m_Store)
        return std::nullopt;
    return m_Store->Get(key);
}

void Code_RegDatabase::Put(const std::string& key, const std::string& value) {
    if (m_Store)
        m_Store->Put(key, value);
}

}  // namespace _OS::ENV
