#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "Platform/NormalPath.h"
#include "Platform/Text.h"
#include "Support/TempDir.h"

namespace fs = std::filesystem;

namespace {

TEST(TextTest, EndsWithFoldsOnlyAsciiLettersAndBoundsTheSuffix) {
    EXPECT_TRUE(_OS::EndsWith("label.BTW", ".btw", true));
    EXPECT_FALSE(_OS::EndsWith("label.BTW", ".btw", false));
    EXPECT_TRUE(_OS::EndsWith("label.btw", ".btw", false));
    // "É" (C3 89) and "é" (C3 A9) differ only in case, but not in an ASCII letter.
    EXPECT_FALSE(_OS::EndsWith("caf\xC3\x89", "caf\xC3\xA9", true));
    EXPECT_TRUE(_OS::EndsWith("\xE7\x89\xA9\xE6\x96\x99.Btw", "\xE6\x96\x99.bTW", true));
    // Folding maps letters only: '@' (0x40) and '`' (0x60) stay apart.
    EXPECT_FALSE(_OS::EndsWith("a@", "a`", true));
    EXPECT_TRUE(_OS::EndsWith("", "", false));
    EXPECT_TRUE(_OS::EndsWith("", "", true));
    EXPECT_TRUE(_OS::EndsWith("abc", "", true));
    EXPECT_FALSE(_OS::EndsWith("btw", "xbtw", true));
    EXPECT_FALSE(_OS::EndsWith("", "a", true));
}

TEST(TextTest, WideToUtf8EncodesEveryLength) {
    EXPECT_EQ(_OS::WideToUtf8(u""), "");
    EXPECT_EQ(_OS::WideToUtf8(u"A\u00e9\u4e2d"), "A\xC3\xA9\xE4\xB8\xAD");
    EXPECT_EQ(_OS::WideToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(_OS::WideToUtf8(std::u16string(1, u'\0')), std::string(1, '\0'));
    EXPECT_EQ(_OS::WideToUtf8(u"\U0010FFFF"), "\xF4\x8F\xBF\xBF");
}

TEST(TextTest, WideToUtf8RejectsLoneSurrogates) {
    const std::u16string highAtEnd = {u'a', char16_t(0xD83D)};
    const std::u16string highThenLetter = {char16_t(0xD83D), u'a'};
    const std::u16string lowAlone = {char16_t(0xDE00), u'a'};
    const std::u16string twoHighs = {char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)};
    for (const auto& bad : {highAtEnd, highThenLetter, lowAlone, twoHighs}) {
        try {
            _OS::WideToUtf8(bad);
            ADD_FAILURE() << "no exception";
        } catch (const std::range_error& e) {
            EXPECT_STREQ(e.what(), "bad conversion");
        }
    }
}

TEST(TextTest, Utf8ToWideReplacesEachIllFormedSubpart) {
    EXPECT_EQ(_OS::Utf8ToWide(""), u"");
    EXPECT_EQ(_OS::Utf8ToWide("\xC3\x28"), u"\uFFFD(");
    // Truncated three-byte sequence at the end: one replacement for the whole subpart.
    EXPECT_EQ(_OS::Utf8ToWide("a\xE4\xB8"), u"a\uFFFD");
    // Overlong NUL: each byte replaced.
    EXPECT_EQ(_OS::Utf8ToWide("\xC0\x80"), u"\uFFFD\uFFFD");
    // Stray continuation byte and bytes that never occur in UTF-8.
    EXPECT_EQ(_OS::Utf8ToWide("\x80x\xFF\xFE"), u"\uFFFDx\uFFFD\uFFFD");
    EXPECT_EQ(_OS::Utf8ToWide("\xE6\x9D\xA1\xE7\xA0\x81"), u"条码");
    EXPECT_EQ(_OS::Utf8ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(_OS::Utf8ToWide("\xF0\x9F\x98(").size(), 2u);
}

// An encoded surrogate or a code point above U+10FFFF. Our decoder replaces each byte; the
// Windows conversion may group the bytes otherwise (Wine's does). On both only replacement
// characters come out: a surrogate would make the way back throw.
TEST(TextTest, Utf8ToWideNeverPassesOnEncodedSurrogates) {
    for (const std::string bad : {"\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80"}) {
        const std::u16string wide = _OS::Utf8ToWide("a" + bad + "b");
        ASSERT_GE(wide.size(), 3u);
        EXPECT_EQ(wide.front(), u'a');
        EXPECT_EQ(wide.back(), u'b');
        EXPECT_EQ(wide.find_first_not_of(u'\uFFFD', 1), wide.size() - 1);
    }
#ifndef _WIN32
    EXPECT_EQ(_OS::Utf8ToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(_OS::Utf8ToWide("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
#endif
}

// A Windows name may hold an unpaired surrogate, a POSIX one any bytes: the text shows a
// replacement character and says so, and the standard conversions are not used, as they throw.
TEST(TextTest, PathThatDoesNotConvertShowsAReplacementCharacter) {
#ifdef _WIN32
    const std::filesystem::path bad(std::wstring{L'a', wchar_t(0xD800), L'b'});
#else
    const std::filesystem::path bad(
        std::string("a\xFF"
                    "b"));
#endif
    bool exact = true;
    EXPECT_EQ(_OS::PathToUtf8(bad, &exact),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_FALSE(exact);
    EXPECT_EQ(_OS::PathToWide(bad).size(), 3u);
    const std::filesystem::path good(u"\u6807\U0001F600");
    EXPECT_EQ(_OS::PathToUtf8(good, &exact), "\xE6\xA0\x87\xF0\x9F\x98\x80");
    EXPECT_TRUE(exact);
    EXPECT_EQ(_OS::PathToWide(good), u"\u6807\U0001F600");
}

// The rules as a table: Wine keeps the trailing dots and spaces that Windows drops, and knows a
// share only where one is mapped (a working directory on a share: EnvTest).
TEST(TextTest, NormalPathKeepsTheRootNameAndDropsWhatTheRuleDrops) {
    using RULE = _OS::PATH_RULE;
    struct ROW {
        const char* m_Path;
        const char* m_WorkingDir;
        RULE m_Rule;
        const char* m_Normal;
    };
    const ROW rows[] = {
        {R"(\\srv\share\bin\..\.data\var)", "", RULE::WINDOWS, R"(\\srv\share\.data\var)"},
        {"../.data", R"(\\srv\share\bin)", RULE::WINDOWS, R"(\\srv\share\.data)"},
        {"//srv/share/../../x", "", RULE::WINDOWS, R"(\\srv\share\x)"},
        {R"(\x)", R"(\\srv\share\bin)", RULE::WINDOWS, R"(\\srv\share\x)"},
        {R"(\\srv\share)", "", RULE::WINDOWS, R"(\\srv\share\)"},
        {"../.data", R"(E:\)", RULE::WINDOWS, R"(E:\.data)"},
        {"C:/a//b/./c/", R"(Q:\)", RULE::WINDOWS, R"(C:\a\b\c)"},
        {"d:x", R"(C:\w)", RULE::WINDOWS, R"(d:\x)"},
        {"c:x", R"(C:\w)", RULE::WINDOWS, R"(c:\w\x)"},
        {R"(C:\a. \b.btw. .)", "", RULE::WINDOWS, R"(C:\a. \b.btw)"},
        {R"(C:\a\b. \)", "", RULE::WINDOWS, R"(C:\a\b. )"},
        {R"(\\?\C:\a\b.btw.)", "", RULE::WINDOWS, R"(\\?\C:\a\b.btw.)"},
        {"", R"(C:\w)", RULE::WINDOWS, ""},
        {"a//b/./c/../d", "/w", RULE::POSIX, "/w/a/b/d"},
        {"/../x", "", RULE::POSIX, "/x"},
        {"//x/", "", RULE::POSIX, "/x"},
        {R"(C:\a\b.btw.)", "/w", RULE::POSIX, R"(/w/C:\a\b.btw.)"},
        {"", "/w", RULE::POSIX, ""},
    };
    for (const ROW& row : rows) {
        EXPECT_EQ(_OS::NormalPathText(row.m_Path, row.m_WorkingDir, row.m_Rule), row.m_Normal)
            << row.m_Path;
    }
}

TEST(TextTest, PathKeyTextFoldsSpellingsOnTheText) {
    using RULE = _OS::PATH_RULE;
    const char* work = R"(c:\FORMATS)";
    EXPECT_EQ(_OS::PathKeyText(R"(C:\Formats\A.btw)", work, RULE::WINDOWS), "C:/FORMATS/A.BTW");
    for (const char* spelling : {"c:/formats//./a.BTW", R"(C:\Formats\sub\..\A.btw. )", "a.btw"})
        EXPECT_EQ(_OS::PathKeyText(spelling, work, RULE::WINDOWS), "C:/FORMATS/A.BTW") << spelling;
    // Windows refuses this name (error 123) rather than resolve its "..".
    EXPECT_EQ(_OS::PathKeyText(R"(\\?\C:\Formats\sub\..\A.btw)", work, RULE::WINDOWS),
              "//?/C:/FORMATS/SUB/../A.BTW");
    EXPECT_EQ(_OS::PathKeyText("/f//./sub/../A.btw", "", RULE::POSIX), "/f/A.btw");
    EXPECT_EQ(_OS::PathKeyText("a.btw", "/f", RULE::POSIX), "/f/a.btw");

    const fs::path cwd = fs::current_path();
    EXPECT_EQ(_OS::PathKey(u"sub/../A.btw"), _OS::PathKey(_OS::PathToWide(cwd / "A.btw")));
#ifdef _WIN32
    // Beyond ASCII letters, as the file system folds them.
    EXPECT_EQ(_OS::PathKey(u"C:\\caf\u00e9.btw"), _OS::PathKey(u"c:/CAF\u00c9.BTW"));
#endif
}

// Spellings that only the file system can tell are one file: under Windows a verbatim name, a
// device name, a folder with a trailing dot, the 8.3 short name; elsewhere links.
TEST(TextTest, PathKeyIsTheFileForEverySpelling) {
    SUPPORT::TEMP_DIR dir;
    const fs::path folder = fs::canonical(dir.m_Path) / "Formats of the line";
    fs::create_directories(folder / "sub");
    const fs::path file = folder / "label.btw";
    std::ofstream(file) << "{}";
    const std::u16string text = _OS::PathToWide(file);
    const std::u16string folderText = _OS::PathToWide(folder);
    std::vector<std::u16string> spellings = {_OS::PathToWide(folder / "sub" / ".." / "label.btw")};
#ifdef _WIN32
    spellings.push_back(u"\\\\?\\" + text);
    spellings.push_back(u"\\\\.\\" + text);
    spellings.push_back(folderText + u".\\label.btw");
    wchar_t shortName[1024];
    const DWORD length = GetShortPathNameW(file.c_str(), shortName, 1024);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, 1024u);
    spellings.push_back(std::u16string(reinterpret_cast<const char16_t*>(shortName), length));
    ASSERT_NE(spellings.back(), text) << "no short name";
#else
    fs::create_symlink(file, folder / "link.btw");
    fs::create_directory_symlink(folder, folder.parent_path() / "link");
    fs::create_hard_link(file, folder / "hard.btw");
    spellings.push_back(_OS::PathToWide(folder / "link.btw"));
    spellings.push_back(_OS::PathToWide(folder.parent_path() / "link" / "label.btw"));
    spellings.push_back(_OS::PathToWide(folder / "hard.btw"));
#endif
    const std::string key = _OS::PathKey(text);
    for (const std::u16string& spelling : spellings)
        EXPECT_EQ(_OS::PathKey(spelling), key) << _OS::WideToUtf8(spelling);

    // A name that does not open keeps its text key, apart from every file's.
    const std::u16string missing = folderText + u"/missing.btw";
    EXPECT_EQ(_OS::PathKey(missing), _OS::PathKey(folderText + u"/sub/../missing.btw"));
    EXPECT_NE(_OS::PathKey(missing), key);
}

}  // namespace
