#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Code_LevelDb.h"
#include "Support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> Collect(const _OBJ<_OS::ILevelDb>& db) {
    std::map<std::string, std::string> pairs;
    int calls = 0;
    db->ForEach([&](const std::string& key, const std::string& value) {
        ++calls;
        pairs[key] = value;
    });
    EXPECT_EQ(calls, static_cast<int>(pairs.size()));
    return pairs;
}

TEST(LevelDb, GetPutDeleteAndReopen) {
    SUPPORT::TEMP_DIR dir;
    const fs::path folder = dir.m_Path / "db";
    {
        _OBJ<_OS::ILevelDb> db = _OS::Code_LevelDb::Create(folder);
        ASSERT_TRUE(db);
        EXPECT_TRUE(Collect(db).empty());
        EXPECT_FALSE(db->Get("never").has_value());
        db->Put("empty", "");
        EXPECT_EQ(db->Get("empty"), std::optional<std::string>(""));
        db->Put("k", "1");
        db->Put("k", "2");
        EXPECT_EQ(db->Get("k"), std::optional<std::string>("2"));
        db->Delete("missing");
        db->Put("gone", "x");
        db->Delete("gone");
        EXPECT_FALSE(db->Get("gone").has_value());
        db->Put(std::string("bin\0key", 7), std::string("v\0\xff", 3));
    }
    _OBJ<_OS::ILevelDb> db = _OS::Code_LevelDb::Create(folder);
    ASSERT_TRUE(db);
    EXPECT_EQ(db->Get("k"), std::optional<std::string>("2"));
    EXPECT_EQ(db->Get(std::string("bin\0key", 7)),
              std::optional<std::string>(std::string("v\0\xff", 3)));
    const std::map<std::string, std::string> expected{
        {"empty", ""}, {"k", "2"}, {std::string("bin\0key", 7), std::string("v\0\xff", 3)}};
    EXPECT_EQ(Collect(db), expected);
}

TEST(LevelDb, FolderThatCannotBeMadeGivesNoStore) {
    SUPPORT::TEMP_DIR dir;
    std::ofstream(dir.m_Path / "file") << "x";
    EXPECT_FALSE(_OS::Code_LevelDb::Create(dir.m_Path / "file" / "db"));
}

TEST(LevelDb, ForEachAfterIterationErrorCallsNothing) {
    SUPPORT::TEMP_DIR dir;
    const fs::path folder = dir.m_Path / "db";
    {
        _OBJ<_OS::ILevelDb> db = _OS::Code_LevelDb::Create(folder);
        ASSERT_TRUE(db);
        db->Put("a", "1");
        db->Put("b", "2");
    }
    // Reopening moves the logged writes into a table file.
    ASSERT_TRUE(_OS::Code_LevelDb::Create(folder));
    int tables = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".ldb") {
            fs::resize_file(entry.path(), 0);
            ++tables;
        }
    }
    ASSERT_GT(tables, 0);

    _OBJ<_OS::ILevelDb> db = _OS::Code_LevelDb::Create(folder);
    ASSERT_TRUE(db);
    db->Put("c", "3");  // readable, but the pass over the broken table fails
    int calls = 0;
    db->ForEach([&](const std::string&, const std::string&) { ++calls; });
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(db->Get("c"), std::optional<std::string>("3"));
}

TEST(LevelDb, EmptyFunctionThrowsAndLeavesStoreUsable) {
    SUPPORT::TEMP_DIR dir;
    _OBJ<_OS::ILevelDb> db = _OS::Code_LevelDb::Create(dir.m_Path / "db");
    ASSERT_TRUE(db);
    db->ForEach({});  // nothing to call
    db->Put("k", "v");
    EXPECT_THROW(db->ForEach({}), std::bad_function_call);
    EXPECT_EQ(db->Get("k"), std::optional<std::string>("v"));
}

TEST(LevelDb, ConcurrentWritersAndReaders) {
    SUPPORT::TEMP_DIR dir;
    _OBJ<_OS::ILevelDb> db = _OS::Code_LevelDb::Create(dir.m_Path / "db");
    ASSERT_TRUE(db);
    constexpr int kThreads = 4;
    constexpr int kKeys = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([db, t] {
            for (int i = 0; i < kKeys; ++i) {
                const std::string key = std::to_string(t) + "/" + std::to_string(i);
                db->Put(key, key);
                if (db->Get(key) != std::optional<std::string>(key))
                    std::abort();
                if (i % 100 == 0)
                    db->ForEach([](const std::string&, const std::string&) {});
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    const auto pairs = Collect(db);
    ASSERT_EQ(pairs.size(), static_cast<size_t>(kThreads * kKeys));
    for (const auto& [key, value] : pairs)
        EXPECT_EQ(key, value);
}

#ifdef _WIN32
unsigned long NoShortName(const wchar_t*, wchar_t*, unsigned long) {
    return 0;
}

// Through the manifest the code page is UTF-8: a folder that no legacy code page spells opens
// by its own name, with no short name to fall back on (as on a volume without 8.3 names).
TEST(LevelDb, FolderOutsideEveryLegacyCodePageOpensThroughUtf8) {
    EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
    const auto real = _OS::Code_LevelDb::SetShortNameCall(NoShortName);
    SUPPORT::TEMP_DIR dir;
    const fs::path folder = dir.m_Path / fs::u8path("工厂공장") / "db";
    fs::create_directories(folder.parent_path());
    {
        _OBJ<_OS::ILevelDb> db = _OS::Code_LevelDb::Create(folder);
        _OS::Code_LevelDb::SetShortNameCall(real);
        ASSERT_TRUE(db);
        db->Put("k", "v");
    }
    EXPECT_TRUE(fs::exists(folder / "CURRENT"));
    _OBJ<_OS::ILevelDb> db = _OS::Code_LevelDb::Create(folder);
    ASSERT_TRUE(db);
    EXPECT_EQ(db->Get("k"), std::optional<std::string>("v"));
}
#endif

}  // namespace
