#include "QlLib/Platform/qlSystemAPI.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"

namespace ql::platform {
namespace {

TEST(SystemApi, IsRegularFile_OnlyForPlainFiles) {
    test::TTestFolder folder;
    std::ofstream(folder.File("plain.txt")) << "x";
    ASSERT_EQ(::mkfifo(folder.File("pipe").c_str(), 0600), 0);
    EXPECT_TRUE(IsRegularFile(folder.WideFile("plain.txt")));
    EXPECT_FALSE(IsRegularFile(folder.WideFile("pipe")));
    EXPECT_FALSE(IsRegularFile(FromUtf8(folder.Path())));
    EXPECT_FALSE(IsRegularFile(folder.WideFile("missing")));
}

}  // namespace
}  // namespace ql::platform
