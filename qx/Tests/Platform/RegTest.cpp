#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Env.h"
#include "Platform/Json.h"
#include "Platform/Reg.h"
#include "Support/ChildScenario.h"
#include "Support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// A setting type that takes any JSON: it shows whether a stored text reached the conversion.
struct ANY_JSON {
    bool m_Converted = false;
};

}  // namespace

namespace _OS::ENV {

template <>
std::optional<ANY_JSON> RegValueFromJson<ANY_JSON>(const nlohmann::json&) {
    return ANY_JSON{true};
}

}  // namespace _OS::ENV

namespace {

constexpr int kDefault = 99;

// Stored text and the value a setting with default kDefault loads from it.
const std::vector<std::pair<std::string, int>> kCases = {
    {"480", 480},        {"-7", -7},           {"true", 1},
    {"false", 0},        {"12.9", 12},         {"-12.9", -12},
    {"4294967297", 1},   {" \t480\r\n ", 480}, {"\"480\"", kDefault},
    {"null", kDefault},  {"[480]", kDefault},  {"", kDefault},
    {"480x", kDefault},  {"{}", kDefault},     {"480 // note", kDefault},
    {"1e300", kDefault},
};

struct RegTest : ::testing::Test {
    SUPPORT::TEMP_DIR m_Dir;

    SUPPORT::CHILD_RESULT RunProgram(const std::function<void()>& afterInit) {
        const fs::path work = m_Dir.m_Path / "bin";
        return SUPPORT::RunChild([&] {
            fs::create_directories(work);
            fs::current_path(work);
            _OS::ENV::Initialize("Mes", 0, nullptr);
            afterInit();
            return 0;
        });
    }
};

TEST_F(RegTest, StoredTextsLoadInANewProcess) {
    const SUPPORT::CHILD_RESULT writer = RunProgram([] {
        for (size_t i = 0; i < kCases.size(); ++i) {
            _OS::ENV::GetRegDatabase()->Put("case/" + std::to_string(i), kCases[i].first);
        }
    });
    ASSERT_EQ(writer.m_ExitCode, 0) << writer.m_Err;
    ASSERT_EQ(writer.m_Out, "");

    const SUPPORT::CHILD_RESULT reader = RunProgram([] {
        for (size_t i = 0; i <= kCases.size(); ++i) {
            std::cout << _OS::ENV::REG<int>("case/" + std::to_string(i), kDefault).Get() << "\n";
        }
    });
    ASSERT_EQ(reader.m_ExitCode, 0) << reader.m_Err;
    std::istringstream lines(reader.m_Out);
    for (const auto& [text, expected] : kCases) {
        int loaded = 0;
        ASSERT_TRUE(lines >> loaded);
        EXPECT_EQ(loaded, expected) << "stored text: '" << text << "'";
    }
    int unwritten = 0;
    ASSERT_TRUE(lines >> unwritten);
    EXPECT_EQ(unwritten, kDefault);
}

TEST_F(RegTest, SetWritesJsonTextAndSettingsAreIndependent) {
    const SUPPORT::CHILD_RESULT result = RunProgram([] {
        const _OBJ<_OS::ENV::IRegDatabase> registry = _OS::ENV::GetRegDatabase();
        _OS::ENV::REG<int> a("Qt/Win_Main/WindowW", 3);
        a.Set(-1);
        std::cout << registry->Get("Qt/Win_Main/WindowW").value_or("<none>") << "\n";
        _OS::ENV::REG<int> b("Qt/Win_Main/WindowW", 100);
        std::cout << b.Get() << "\n";
        a.Set(8);
        std::cout << b.Get() << "\n";
        b.Load();
        std::cout << b.Get() << "\n";
        registry->Put("Qt/Win_Main/WindowW", "junk");
        a.Set(8);  // unchanged value, written again
        std::cout << registry->Get("Qt/Win_Main/WindowW").value_or("<none>") << "\n";
        registry->Put("Qt/Win_Main/WindowW", "junk");
        b.Load();
        std::cout << b.Get() << "\n";
    });
    ASSERT_EQ(result.m_ExitCode, 0) << result.m_Err;
    EXPECT_EQ(result.m_Out, "-1\n-1\n-1\n8\n8\n100\n");
}

TEST_F(RegTest, ValueNestedBeyondTheBoundKeepsTheDefault) {
    const SUPPORT::CHILD_RESULT result = RunProgram([] {
        const _OBJ<_OS::ENV::IRegDatabase> registry = _OS::ENV::GetRegDatabase();
        for (const int depth : {_OS::MAX_JSON_DEPTH, _OS::MAX_JSON_DEPTH + 1}) {
            registry->Put("deep", std::string(depth, '[') + std::string(depth, ']'));
            std::cout << _OS::ENV::REG<ANY_JSON>("deep", ANY_JSON{}).Get().m_Converted << "\n";
        }
    });
    ASSERT_EQ(result.m_ExitCode, 0) << result.m_Err;
    EXPECT_EQ(result.m_Out, "1\n0\n");
}

TEST(RegValue, ConvertsByKindOfJson) {
    using nlohmann::json;
    const auto convert = [](const std::string& text) {
        return _OS::ENV::RegValueFromJson<int>(json::parse(text));
    };
    EXPECT_EQ(convert("2147483647"), 2147483647);
    EXPECT_EQ(convert("2147483648"), -2147483647 - 1);
    EXPECT_EQ(convert("18446744073709551615"), -1);
    EXPECT_EQ(convert("-4294967297"), -1);
    EXPECT_EQ(convert("-0.5"), 0);
    EXPECT_EQ(convert("2147483647.9"), 2147483647);
    EXPECT_EQ(convert("-2147483648.9"), -2147483647 - 1);
    EXPECT_EQ(convert("2147483648.0"), std::nullopt);
    EXPECT_EQ(convert("-2147483649.0"), std::nullopt);
    EXPECT_EQ(convert("\"1\""), std::nullopt);
}

}  // namespace
