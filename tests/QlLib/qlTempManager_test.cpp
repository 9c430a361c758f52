#include "QlLib/qlTempManager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/Platform/qlSystemAPI.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace ql {
namespace {

void WriteFile(const std::u16string& name, const std::string& text) {
    TFileStream f(name, TFileAccess::Write, 0, TFileDisposition::CreateAlways);
    f.WriteAnsi(text);
}

TEST(TempManager, NewFolders_AreUniqueAndCarryTheSeparatorWhenAsked) {
    TTempManager& manager = TTempManager::Instance();
    const size_t before = manager.Count();
    const std::u16string a = manager.NewFolder();
    const std::u16string b = manager.NewFolder(true);
    EXPECT_NE(a + u"/", b);
    EXPECT_EQ(b.back(), u'/');
    EXPECT_NE(a.back(), u'/');
    EXPECT_TRUE(TFileAPI::DirectoryExists(a));
    EXPECT_TRUE(TFileAPI::DirectoryExists(b));
    EXPECT_EQ(manager.Count(), before + 2);
    EXPECT_TRUE(manager.RemoveAll());
    EXPECT_FALSE(TFileAPI::DirectoryExists(a));
    EXPECT_FALSE(TFileAPI::DirectoryExists(b));
    EXPECT_EQ(manager.Count(), 0u);
}

TEST(TempManager, RemoveAll_DeletesContentsButNotWhatLinksPointAt) {
    int error = 0;
    const std::u16string outside = platform::CreateUniqueFolder(platform::TempBaseFolder(), &error);
    ASSERT_FALSE(outside.empty());
    WriteFile(outside + u"/keep.txt", "keep");

    std::u16string folder;
    {
        TTempFolderScope scope;
        folder = TTempManager::Instance().NewFolder();
        ASSERT_TRUE(TFileAPI::CreateDirectory(folder + u"/sub"));
        WriteFile(folder + u"/sub/data.bin", "data");
        ASSERT_EQ(::symlink(ToUtf8(outside).c_str(), ToUtf8(folder + u"/link").c_str()), 0);
    }
    EXPECT_FALSE(TFileAPI::DirectoryExists(folder));
    EXPECT_TRUE(TFileAPI::FileExists(outside + u"/keep.txt"));
    EXPECT_TRUE(TFileAPI::RemoveTree(outside));
}

TEST(TempManager, UnusableBase_GivesUpWithAnError) {
    const char* saved = std::getenv("TMPDIR");
    const std::string savedText = saved ? saved : "";
    // A base that is a file, not a folder, falls back to /tmp; a read-only
    // folder cannot take new folders and must not make us loop.
    int error = 0;
    const std::u16string readOnly = platform::CreateUniqueFolder(u"/tmp", &error);
    ASSERT_FALSE(readOnly.empty());
    ASSERT_EQ(::chmod(ToUtf8(readOnly).c_str(), 0500), 0);
    ::setenv("TMPDIR", ToUtf8(readOnly).c_str(), 1);
    if (::geteuid() != 0) {
        EXPECT_THROW(TTempManager::Instance().NewFolder(), EFileError);
    }
    if (saved) ::setenv("TMPDIR", savedText.c_str(), 1); else ::unsetenv("TMPDIR");
    ::chmod(ToUtf8(readOnly).c_str(), 0700);
    EXPECT_TRUE(TFileAPI::RemoveTree(readOnly));
}

}  // namespace
}  // namespace ql
