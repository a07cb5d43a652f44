#include "Platform/Code_LevelDb.h"

#include <memory>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <utility>

#include <leveldb/db.h>

#ifdef _WIN32
#include <windows.h>
#endif

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

#ifdef _WIN32
// The name in the code page of the file APIs (ANSI or OEM), through which LevelDB opens its
// files; none when a character has no spelling there.
std::optional<std::string> ToFileApiCodePage(const std::wstring& name) {
    const bool ansi = AreFileApisANSI();
    const UINT codePage = ansi ? CP_ACP : CP_OEMCP;
    // UTF-8 spells every character and takes neither flags nor a default character.
    const bool utf8 = (ansi ? GetACP() : GetOEMCP()) == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = utf8 ? nullptr : &usedDefault;
    const int size = static_cast<int>(name.size());
    const int length =
        WideCharToMultiByte(codePage, flags, name.data(), size, nullptr, 0, nullptr, used);
    if (length <= 0 || usedDefault)
        return std::nullopt;
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, flags, name.data(), size, out.data(), length, nullptr, used);
    return out;
}

unsigned long ShortPathName(const wchar_t* name, wchar_t* out, unsigned long size) {
    return GetShortPathNameW(name, out, size);
}

Code_LevelDb::SHORT_NAME_CALL g_ShortName = ShortPathName;

// The programs' manifest makes the code page UTF-8 (Windows 10 1903 and later), which spells
// every folder. On older systems, a folder that the code page cannot spell (a Chinese folder
// name on a Western system) is opened by its short name, which it can. Only an existing folder
// has a short name, and only on a volume that keeps 8.3 names.
std::optional<std::string> NarrowName(const std::filesystem::path& folder) {
    if (std::optional<std::string> name = ToFileApiCodePage(folder.native()))
        return name;
    std::error_code ec;
    std::filesystem::create_directory(folder, ec);
    const DWORD size = g_ShortName(folder.c_str(), nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::wstring shortName(size, L'\0');
    const DWORD length = g_ShortName(folder.c_str(), shortName.data(), size);
    if (length == 0 || length >= size)
        return std::nullopt;
    shortName.resize(length);
    return ToFileApiCodePage(shortName);
}
#else
// POSIX file names are bytes: the native name is the narrow name.
std::optional<std::string> NarrowName(const std::filesystem::path& folder) {
    return folder.native();
}
#endif

}  // namespace

_OBJ<ILevelDb> Code_LevelDb::Create(const std::filesystem::path& folder) {
    auto* p = new Code_LevelDb();
    if (!p->Open(folder)) {
        delete p;
        return {};
    }
    return _OBJ<ILevelDb>(p);
}

#ifdef _WIN32
Code_LevelDb::SHORT_NAME_CALL Code_LevelDb::SetShortNameCall(SHORT_NAME_CALL call) {
    return std::exchange(g_ShortName, call);
}
#endif

bool Code_LevelDb::Open(const std::filesystem::path& folder) {
    // LevelDB takes the name in the platform's narrow file-name encoding; a folder that
    // encoding cannot spell is a folder we cannot open.
    const std::optional<std::string> name = NarrowName(folder);
    if (!name)
        return false;
    leveldb::Options options;
    options.create_if_missing = true;
    return leveldb::DB::Open(options, *name, &m_Db).ok();
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
