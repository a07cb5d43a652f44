#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "Platform/FolderWalk.h"
#include "Platform/PathStatus.h"
#include "Platform/RemoveTree.h"
#include "Platform/Text.h"
#include "Support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// How often the walk hands over each file, by its path relative to the folder walked.
std::map<std::string, int> WalkedFiles(const fs::path& folder) {
    std::map<std::string, int> seen;
    _OS::WalkFolder(folder, [&](const fs::directory_entry& entry) {
        std::error_code ec;
        if (entry.is_regular_file(ec))
            ++seen[_OS::PathToUtf8(entry.path().lexically_relative(folder).generic_u8string())];
    });
    return seen;
}

// a.btw and sub/b.btw, with sub/up a link back to the top. Windows' junctions look to MinGW's
// library like plain folders, and so do Unix links to Wine: Wine programs cannot make them,
// so the windows stage makes this tree and names it in QX_TEST_LINK_LOOP.
TEST(FileSystemTest, WalkEntersNoFolderTwice) {
    SUPPORT::TEMP_DIR dir;
    fs::path top = dir.m_Path;
#ifdef _WIN32
    const char* made = std::getenv("QX_TEST_LINK_LOOP");
    if (!made)
        GTEST_SKIP() << "no link loop made: QX_TEST_LINK_LOOP is not set";
    top = fs::u8path(made);
#else
    fs::create_directories(top / "sub");
    std::ofstream(top / "a.btw") << "{}";
    std::ofstream(top / "sub" / "b.btw") << "{}";
    fs::create_directory_symlink("..", top / "sub" / "up");
#endif
    EXPECT_EQ(WalkedFiles(top), (std::map<std::string, int>{{"a.btw", 1}, {"sub/b.btw", 1}}));
}

TEST(FileSystemTest, WalkStopsAtItsDepthBound) {
    SUPPORT::TEMP_DIR dir;
    fs::path folder = dir.m_Path;
    for (size_t depth = 1; depth <= _OS::kMaxWalkDepth; ++depth)
        folder /= "d";
    fs::create_directories(folder);
    std::ofstream(folder.parent_path() / "listed.btw") << "{}";
    std::ofstream(folder / "too-deep.btw") << "{}";
    testing::internal::CaptureStdout();
    const std::map<std::string, int> seen = WalkedFiles(dir.m_Path);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen.begin()->first.substr(seen.begin()->first.rfind('/') + 1), "listed.btw");
}

// Windows refuses these names (errors 3 and 123), which MinGW's library reports as an invalid
// argument on Windows and, through Wine's C runtime, as "not found": the library's answer is
// also fed in as Windows gives it. Elsewhere they are plain names of nothing.
TEST(FileSystemTest, NamesTheSystemRefusesAreAbsent) {
    SUPPORT::TEMP_DIR dir;
    const fs::path top = fs::canonical(dir.m_Path);
    fs::create_directories(top / "x");
    std::ofstream(top / "file") << "{}";
    const std::u16string text = _OS::PathToWide(top);
    for (const std::u16string& spelling :
         {text + u"/a<b", text + u"/a:b/c", u"\\\\?\\" + text + u"\\x\\..\\file", text + u"/   /c",
          text + u"/file/c"}) {
        const fs::path name(spelling);
        std::error_code ec;
        EXPECT_EQ(_OS::PathStatus(name, ec).type(), fs::file_type::not_found)
            << _OS::PathToUtf8(name);
        EXPECT_FALSE(ec) << _OS::PathToUtf8(name) << ": " << ec.message();
#ifdef _WIN32
        ec = std::make_error_code(std::errc::invalid_argument);
        const fs::file_status status = _OS::PathStatusOf(name, fs::file_status(), ec);
        EXPECT_EQ(status.type(), fs::file_type::not_found) << _OS::PathToUtf8(name);
        EXPECT_FALSE(ec) << _OS::PathToUtf8(name) << ": " << ec.message();
#endif
    }
#ifdef _WIN32
    // Where Windows finds the name, the library's error stands.
    std::error_code ec = std::make_error_code(std::errc::invalid_argument);
    EXPECT_EQ(_OS::PathStatusOf(top / "file", fs::file_status(), ec).type(), fs::file_type::none);
    EXPECT_EQ(ec, std::errc::invalid_argument);
#endif
}

// The folder to swap for a link to g_Outside when the removal is about to enter it.
fs::path g_Swapped;
fs::path g_Outside;

void SwapForLink(const fs::path& folder) {
    if (folder != g_Swapped)
        return;
    fs::rename(folder, g_Outside.parent_path() / "moved");
    fs::create_directory_symlink(g_Outside, folder);
}

// Another user swapping a folder in a shared temporary folder for a link to ours, between the
// removal reading the folder's type and entering it: the link goes, our files stay. Wine
// programs cannot make links.
TEST(FileSystemTest, RemovalFollowsNoLinkSwappedIn) {
#ifdef _WIN32
    GTEST_SKIP() << "no links here";
#endif
    SUPPORT::TEMP_DIR dir;
    const fs::path top = dir.m_Path / "QtWebEngine-x";
    g_Swapped = top / "sub";
    g_Outside = dir.m_Path / "home" / "own";
    fs::create_directories(g_Swapped);
    fs::create_directories(g_Outside);
    std::ofstream(g_Swapped / "a") << "x";
    std::ofstream(g_Outside / "precious") << "x";

    _OS::SetRemoveTreeHook(SwapForLink);
    const bool removed = _OS::RemoveOwnTree(top);
    _OS::SetRemoveTreeHook(nullptr);

    EXPECT_TRUE(fs::exists(g_Outside / "precious"));
    EXPECT_TRUE(removed);
    EXPECT_FALSE(fs::exists(fs::symlink_status(top)));
}

// In a shared temporary folder another user's entry is theirs. Needs root to make one.
TEST(FileSystemTest, RemovalLeavesAnotherUsersEntry) {
#ifdef _WIN32
    GTEST_SKIP() << "the temporary folder is the user's own here";
#else
    if (::geteuid() != 0)
        GTEST_SKIP() << "not root: cannot give an entry to another user";
    SUPPORT::TEMP_DIR dir;
    const fs::path foreign = dir.m_Path / "QtWebEngine-foreign";
    fs::create_directories(foreign);
    std::ofstream(foreign / "theirs") << "x";
    // Root of a user namespace maps no other user.
    if (::lchown(foreign.c_str(), 4242, 4242) != 0)
        GTEST_SKIP() << "cannot give an entry to another user here";

    EXPECT_FALSE(_OS::RemoveOwnTree(foreign));
    EXPECT_TRUE(fs::exists(foreign / "theirs"));
#endif
}

}  // namespace
