#include "QlLib/Platform/qlInstanceLock.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"

namespace ql {
namespace {

TEST(InstanceLock_Name, StableAndSafeAsAFileName) {
    const std::string name = InstanceLockName(u"/opt/shows/My Show (1).bin");
    EXPECT_EQ(name, InstanceLockName(u"/opt/shows/My Show (1).bin"));
    EXPECT_EQ(name.rfind("Instance_ID", 0), 0u);
    EXPECT_NE(name.find("My_Show__1_.bin"), std::string::npos);
    EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-"),
              std::string::npos);
    EXPECT_NE(name, InstanceLockName(u"/opt/other/My Show (1).bin"));
    EXPECT_LE(InstanceLockName(u"/x/" + std::u16string(1000, u'a')).size(), 200u);
    EXPECT_EQ(InstanceLockName(u"../../x/..").find('/'), std::string::npos);
}

TEST(InstanceLock_Hold, SecondHolderRefusedUntilTheFirstGoes) {
    test::TTestFolder folder;
    auto first = TInstanceLock::TryAcquire("Instance_IDtest", FromUtf8(folder.Path()));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(TInstanceLock::TryAcquire("Instance_IDtest", FromUtf8(folder.Path())), nullptr);
    EXPECT_NE(TInstanceLock::TryAcquire("Instance_IDother", FromUtf8(folder.Path())), nullptr);
    first.reset();
    EXPECT_NE(TInstanceLock::TryAcquire("Instance_IDtest", FromUtf8(folder.Path())), nullptr);
}

TEST(InstanceLock_Hold, NamesThatLeaveTheFolderAreRefused) {
    test::TTestFolder folder;
    EXPECT_EQ(TInstanceLock::TryAcquire("../x", FromUtf8(folder.Path())), nullptr);
    EXPECT_EQ(TInstanceLock::TryAcquire("", FromUtf8(folder.Path())), nullptr);
    EXPECT_EQ(TInstanceLock::TryAcquire("x", FromUtf8(folder.Path() + "/missing")), nullptr);
}

TEST(InstanceLock_Folder, RuntimeFolderFirstThenTemporary) {
    test::TTestFolder folder;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string keep = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", folder.Path().c_str(), 1);
    EXPECT_EQ(InstanceLockFolder(), FromUtf8(folder.Path()));
    ::setenv("XDG_RUNTIME_DIR", (folder.Path() + "/missing").c_str(), 1);
    EXPECT_NE(InstanceLockFolder(), FromUtf8(folder.Path() + "/missing"));
    EXPECT_FALSE(InstanceLockFolder().empty());
    if (saved) ::setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace ql
