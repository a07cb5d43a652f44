#pragma once

#include <filesystem>
#include <mutex>

#include "Platform/ILevelDb.h"
#include "Platform/Obj.h"
#include "Platform/RefCounted.h"

namespace leveldb {
class DB;
}

namespace _OS {

struct Code_LevelDb : ILevelDb {
    QX_REFCOUNTED

public:
    // Opens (creating when missing) the database in folder; empty when it cannot be opened,
    // for example while another store holds it.
    static _OBJ<ILevelDb> Create(const std::filesystem::path& folder);

#ifdef _WIN32
    // GetShortPathNameW's shape: the length written (or needed), 0 on failure.
    using SHORT_NAME_CALL = unsigned long (*)(const wchar_t* name, wchar_t* out,
                                              unsigned long size);
    // Replaces the short-name look-up (a test seam for volumes without 8.3 names); returns
    // the one that was in place.
    static SHORT_NAME_CALL SetShortNameCall(SHORT_NAME_CALL call);
#endif

    void Put(const std::string& key, const std::string& value) override;
    std::optional<std::string> Get(const std::string& key) override;
    void Delete(const std::string& key) override;
    void ForEach(std::function<void(const std::string&, const std::string&)> fn) override;
    ~Code_LevelDb() override;

private:
    Code_LevelDb() = default;
    bool Open(const std::filesystem::path& folder);

    std::mutex m_Mutex;
    leveldb::DB* m_Db = nullptr;
};

}  // namespace _OS
