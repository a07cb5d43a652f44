#include "Platform/Code_LevelDb.h"

#include <memory>
#include <system_error>
#include <unordered_map>

#include <leveldb/db.h>

namespace _OS {

namespace {

leveldb::ReadOptions MakeReadOptions() {
    leveldb::ReadOptions options;
    options.verify_checksums = false;
    options.fill_cache = true;
    options.snapshot = nullptr;
    return options;
}

leveldb::WriteOptions MakeWriteOptions() {
    leveldb::WriteOptions options;
    options.sync = false;
    return options;
}

}  // namespace

_OBJ<ILevelDb> Code_LevelDb::Create(const std::filesystem::path& folder) {
    auto* p = new Code_LevelDb();
    if (!p->Open(folder)) {
        delete p;
        return {};
    }
    return _OBJ<ILevelDb>(p);
}

bool Code_LevelDb::Open(const std::filesystem::path& folder) {
    std::string name;
    try {
        // LevelDB takes the name in the platform's narrow file-name encoding; a folder that
        // encoding cannot spell is a folder we cannot open.
        name = folder.string();
    } catch (const std::system_error&) {
        return false;
    }
    leveldb::Options options;
    options.create_if_missing = true;
    return leveldb::DB::Open(options, name, &m_Db).ok();
}

Code_LevelDb::~Code_LevelDb() {
    delete m_Db;
}

void Code_LevelDb::Put(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Db->Put(MakeWriteOptions(), key, value);
}

std::optional<std::string> Code_LevelDb::Get(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    std::string value;
    if (!m_Db->Get(MakeReadOptions(), key, &value).ok())
        return std::nullopt;
    return value;
}

void Code_LevelDb::Delete(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Db->Delete(MakeWriteOptions(), key);
}

void Code_LevelDb::ForEach(std::function<void(const std::string&, const std::string&)> fn) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    std::unordered_map<std::string, std::string> pairs;
    {
        std::unique_ptr<leveldb::Iterator> it(m_Db->NewIterator(MakeReadOptions()));
        for (it->SeekToFirst(); it->Valid(); it->Next()) {
            pairs[it->key().ToString()] = it->value().ToString();
        }
        // Half a store is worse than none: callers would take the missing keys as absent.
        if (!it->status().ok())
            pairs.clear();
    }
    for (const auto& [key, value] : pairs)
        fn(key, value);
}

}  // namespace _OS
