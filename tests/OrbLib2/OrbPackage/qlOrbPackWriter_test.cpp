#include "OrbLib2/OrbPackage/qlOrbPackWriter.h"

#include <gtest/gtest.h>

#include "OrbLib2/OrbPackage/qlOrbPackFormat.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "OrbLib2/OrbViewer/PackageTestSupport.h"

namespace orb {
namespace {

using test::Noise;
using test::ReadAll;
using test::TTestFolder;

std::string EntryText(TOrbUnpack& unpack, const std::u16string& name) {
    std::unique_ptr<ql::TStream> stream = unpack.OpenEntry(name);
    return stream ? ReadAll(*stream) : "<absent>";
}

std::string Repetitive(size_t n) {
    std::string text;
    while (text.size() < n) text += "[Slide1]\r\nImageName=picture.jpg\r\n";
    return text;
}

TEST(PackWriter_StoreWhenNotSmaller, IncompressibleEntryIsStoredAndCompressibleOneDeflated) {
    TTestFolder folder;
    const std::u16string fileName = folder.File("show.dat");
    const std::string text = Repetitive(20000), noise = Noise(30000, 3);
    {
        ql::TFileStream out(fileName, ql::TFileAccess::Write, 0,
                            ql::TFileDisposition::CreateAlways);
        TOrbPackWriter writer(out);
        writer.AddEntry(u"text.txt", text, kMethodDeflate, true);
        writer.AddEntry(u"photo.jpg", noise, kMethodDeflate, true);
        // The deflated form ran past the stored one: nothing of it is left.
        EXPECT_EQ(out.GetSize(), out.GetPosition());
        writer.AddEntry(u"empty.txt", "", kMethodDeflate, true);
        // Asked for without the option, deflating is kept even when it grows.
        writer.AddEntry(u"forced.jpg", noise, kMethodDeflate);
        const std::vector<TPackRecord>& records = writer.Records();
        ASSERT_EQ(records.size(), 4u);
        EXPECT_EQ(records[0].Method, kMethodDeflate);
        EXPECT_LT(records[0].Size, int64_t(text.size()) / 10);
        EXPECT_EQ(records[1].Method, kMethodStored);
        EXPECT_EQ(records[1].Size, int64_t(noise.size()));
        EXPECT_EQ(records[2].Method, kMethodStored);
        EXPECT_EQ(records[2].Size, 0);
        EXPECT_EQ(records[3].Method, kMethodDeflate);
        EXPECT_GT(records[3].Size, int64_t(noise.size()));
        writer.Finish();
    }
    TOrbUnpack unpack;
    ASSERT_EQ(unpack.Open(fileName), TUnpackResult::Ok);
    EXPECT_EQ(unpack.FindEntry(u"photo.jpg")->Method, kMethodStored);
    EXPECT_EQ(EntryText(unpack, u"text.txt"), text);
    EXPECT_EQ(EntryText(unpack, u"photo.jpg"), noise);
    EXPECT_EQ(EntryText(unpack, u"empty.txt"), "");
    EXPECT_EQ(EntryText(unpack, u"forced.jpg"), noise);
}

}  // namespace
}  // namespace orb
