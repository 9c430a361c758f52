#include "OrbLib2/OrbPackage/qlOrbUnpack.h"

#include <gtest/gtest.h>

#include "OrbLib2/OrbPackage/qlOrbPackFormat.h"
#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "QlLib/qlZStreams.h"
#include "QlLib/qpExceptions.h"

namespace orb {
namespace {

using test::BuildPackage;
using test::Noise;
using test::ReadAll;
using test::TTestEntry;

// Opens package bytes held in memory.
TUnpackResult OpenBytes(TOrbUnpack& unpack, const std::string& bytes) {
    return unpack.Open([bytes] { return std::make_unique<ql::TStringStream>(bytes); }, u"memory");
}

std::string EntryText(TOrbUnpack& unpack, const std::u16string& name) {
    std::unique_ptr<ql::TStream> stream = unpack.OpenEntry(name);
    return stream ? ReadAll(*stream) : "<absent>";
}

const std::string kPlayer = Noise(3000, 7);

std::vector<TTestEntry> SampleEntries() {
    return {{u"Project.orb", "[Main]\r\nOrbVersion=9.1\r\n", 1},
            {u"C:\\pics\\a.jpg", Noise(70000, 2), 0},
            {u"music.mp3", std::string(50000, 'm') + Noise(100, 3), 1},
            {u"secret.bin", Noise(100, 4), 2}};
}

TEST(Unpack, CurrentForm_EveryMethodReadsBack) {
    TOrbUnpack unpack;
    const std::string package = BuildPackage(kPlayer, SampleEntries());
    ASSERT_EQ(OpenBytes(unpack, package), TUnpackResult::Ok);
    EXPECT_EQ(unpack.Shift(), 0);
    EXPECT_EQ(unpack.BaseOffset(), 0);
    EXPECT_EQ(unpack.EndPosition(), static_cast<int64_t>(package.size()) - 8);
    EXPECT_EQ(unpack.OrbVersion(), u"1.0.0.0");
    for (const TTestEntry& entry : SampleEntries())
        EXPECT_EQ(EntryText(unpack, entry.Name), entry.Data);
    const auto player = unpack.FindEntry(u"orbviewer");
    ASSERT_TRUE(player);
    EXPECT_EQ(player->Position, 0);
    EXPECT_EQ(player->Size, static_cast<int64_t>(kPlayer.size()));
    EXPECT_EQ(EntryText(unpack, u"missing"), "<absent>");
    const std::vector<std::u16string> sections = unpack.EntrySections();
    ASSERT_EQ(sections.size(), 5u);
    EXPECT_EQ(sections[0], u"orbviewer");
    EXPECT_EQ(sections[2], u"C:\\pics\\a.jpg");
}

TEST(Unpack, OldForm_ReadWithShiftZero) {
    TPackFinishOptions options;
    options.OldTrailer = true;
    const std::string package = BuildPackage(kPlayer, SampleEntries(), options);
    ASSERT_EQ(package.substr(package.size() - 4), ".dne");
    TOrbUnpack unpack;
    ASSERT_EQ(OpenBytes(unpack, package), TUnpackResult::Ok);
    EXPECT_EQ(unpack.EndPosition(), static_cast<int64_t>(package.size()));
    EXPECT_EQ(EntryText(unpack, u"secret.bin"), Noise(100, 4));
}

TEST(Unpack, OldFormMarkerAlsoTwelveBeforeEnd_OldFormWins) {
    // The directory position's low four bytes spell ".dne", so the marker
    // stands both at S-4 and at S-12. A sparse file puts the directory there.
    test::TTestFolder folder;
    const std::u16string name = folder.File("both.bin");
    constexpr int64_t kDirectory = 0x656E642E;
    {
        ql::TFileStream out(name, ql::TFileAccess::ReadWrite, 0,
                            ql::TFileDisposition::CreateAlways);
        TOrbPackWriter writer(out);
        writer.AddEntry(u"Project.orb", "[Main]\r\n", 0);
        out.SetSize(kDirectory);
        out.SetPosition(kDirectory);
        TPackFinishOptions options;
        options.OldTrailer = true;
        ASSERT_EQ(writer.Finish(options), kDirectory);
    }
    const std::string tail = [&] {
        ql::TFileStream in(name, ql::TFileAccess::Read, ql::kShareRead,
                           ql::TFileDisposition::OpenExisting);
        in.SetPosition(in.GetSize() - 12);
        std::string t(12, '\0');
        in.ReadBuffer(t.data(), 12);
        return t;
    }();
    ASSERT_EQ(tail.substr(0, 4), ".dne");
    ASSERT_EQ(tail.substr(8), ".dne");
    TOrbUnpack unpack;
    ASSERT_EQ(unpack.Open(name), TUnpackResult::Ok);
    EXPECT_EQ(unpack.Shift(), 0);
    EXPECT_EQ(unpack.DirectoryPosition(), kDirectory);
    EXPECT_EQ(EntryText(unpack, u"Project.orb"), "[Main]\r\n");
}

TEST(Unpack, PackageBehindOtherPlayer_EntriesFoundAtPositionPlusShift) {
    const std::string package = BuildPackage(kPlayer, SampleEntries());
    const int64_t delta = 1234;
    const std::string moved = Noise(kPlayer.size() + delta, 9) + package.substr(kPlayer.size());
    TOrbUnpack original, unpack;
    ASSERT_EQ(OpenBytes(original, package), TUnpackResult::Ok);
    ASSERT_EQ(OpenBytes(unpack, moved), TUnpackResult::Ok);
    EXPECT_EQ(unpack.Shift(), delta);
    EXPECT_EQ(unpack.BaseOffset(), delta);
    for (const TTestEntry& entry : SampleEntries()) {
        EXPECT_EQ(unpack.FindEntry(entry.Name)->Position,
                  original.FindEntry(entry.Name)->Position + delta);
        EXPECT_EQ(EntryText(unpack, entry.Name), entry.Data);
    }
}

TEST(Unpack, PackageBehindShorterPlayer_IsDamagedByItsStrucPos) {
    // The directory now stands before the position strucpos records.
    const std::string package = BuildPackage(kPlayer, SampleEntries());
    const std::string moved = Noise(kPlayer.size() - 1000, 9) + package.substr(kPlayer.size());
    TOrbUnpack unpack;
    EXPECT_EQ(OpenBytes(unpack, moved), TUnpackResult::Damaged);
}

TEST(Unpack, StrucPos_EqualGivesBaseZeroGreaterIsDamaged) {
    int64_t directory = 0;
    const std::string plain = BuildPackage(kPlayer, SampleEntries());
    {
        TOrbUnpack unpack;
        ASSERT_EQ(OpenBytes(unpack, plain), TUnpackResult::Ok);
        directory = unpack.DirectoryPosition();
    }
    auto withStrucPos = [&](const std::string& text) {
        TPackFinishOptions options;
        options.StrucPos = text;
        return BuildPackage(kPlayer, SampleEntries(), options);
    };
    TOrbUnpack unpack;
    EXPECT_EQ(OpenBytes(unpack, withStrucPos(std::to_string(directory))), TUnpackResult::Ok);
    EXPECT_EQ(unpack.BaseOffset(), 0);
    EXPECT_EQ(OpenBytes(unpack, withStrucPos(std::to_string(directory + 1))),
              TUnpackResult::Damaged);
    EXPECT_EQ(unpack.LastError(), kFileDamagedText);
    EXPECT_EQ(OpenBytes(unpack, withStrucPos("12abc")), TUnpackResult::Damaged);
    EXPECT_EQ(OpenBytes(unpack, withStrucPos("-9223372036854775808")), TUnpackResult::Damaged);
    // Without strucpos the positions stand as written.
    EXPECT_EQ(OpenBytes(unpack, withStrucPos("")), TUnpackResult::Ok);
    EXPECT_EQ(unpack.BaseOffset(), 0);
    // A smaller strucpos moves every entry by the difference.
    EXPECT_EQ(OpenBytes(unpack, withStrucPos(std::to_string(directory - 10))), TUnpackResult::Ok);
    EXPECT_EQ(unpack.BaseOffset(), 10);
}

TEST(Unpack, EntryWithoutPositionOrSize_IsAbsent) {
    const std::string package = BuildPackage(kPlayer, SampleEntries(), {}, [](auto& records) {
        records[1].Position = -1;
        records[2].WriteSize = false;
        records[3].WritePosition = false;
    });
    TOrbUnpack unpack;
    ASSERT_EQ(OpenBytes(unpack, package), TUnpackResult::Ok);
    EXPECT_FALSE(unpack.FindEntry(u"Project.orb"));
    EXPECT_FALSE(unpack.FindEntry(u"C:\\pics\\a.jpg"));
    EXPECT_FALSE(unpack.FindEntry(u"music.mp3"));
    EXPECT_TRUE(unpack.FindEntry(u"secret.bin"));
}

TEST(Unpack, HostileRanges_AreAbsent) {
    const std::string package = BuildPackage(kPlayer, SampleEntries(), {}, [](auto& records) {
        records[1].Size = -5;              // negative size
        records[2].Size = 0x7FFFFFFF;      // far past the end
        records[3].Position = 0x7FFFFFF0;  // starts past the end
        records[4].Method = 7;             // unknown method
    });
    TOrbUnpack unpack;
    ASSERT_EQ(OpenBytes(unpack, package), TUnpackResult::Ok);
    for (const char16_t* name : {u"Project.orb", u"C:\\pics\\a.jpg", u"music.mp3", u"secret.bin"}) {
        EXPECT_FALSE(unpack.FindEntry(name)) << ql::ToUtf8(name);
        EXPECT_EQ(unpack.OpenEntry(name), nullptr);
    }
    EXPECT_TRUE(unpack.FindEntry(u"orbviewer"));
}

TEST(Unpack, BracketNames_FoundUnderAngleSections) {
    const std::string package = BuildPackage("", {{u"VectTxt2: [Arial] x]", "vector", 0}});
    TOrbUnpack unpack;
    ASSERT_EQ(OpenBytes(unpack, package), TUnpackResult::Ok);
    EXPECT_EQ(unpack.EntrySections().front(), u"VectTxt2: <Arial> x>");
    EXPECT_EQ(EntryText(unpack, u"VectTxt2: [Arial] x]"), "vector");
    EXPECT_EQ(EntryText(unpack, u"VectTxt2: <Arial> x>"), "vector");
}

TEST(Unpack, ScrambledEntryReadFromPosition40_XorsWithKeyByte8) {
    const std::string plain = Noise(100, 11);
    const std::string package = BuildPackage(kPlayer, {{u"s.bin", plain, 2}});
    TOrbUnpack unpack;
    ASSERT_EQ(OpenBytes(unpack, package), TUnpackResult::Ok);
    const TUnpackEntry entry = *unpack.FindEntry(u"s.bin");
    const uint8_t stored = static_cast<uint8_t>(package[entry.Position + 40]);
    EXPECT_EQ(static_cast<uint8_t>(stored ^ kPackageKey[8]), static_cast<uint8_t>(plain[40]));
    std::unique_ptr<ql::TStream> stream = unpack.OpenEntry(u"s.bin");
    stream->SetPosition(40);
    EXPECT_EQ(stream->ReadByte(), static_cast<uint8_t>(plain[40]));
}

TEST(Unpack, EntryStreams_StayInsideTheirWindowAndReadIndependently) {
    TOrbUnpack unpack;
    ASSERT_EQ(OpenBytes(unpack, BuildPackage(kPlayer, SampleEntries())), TUnpackResult::Ok);
    auto a = unpack.OpenEntry(u"C:\\pics\\a.jpg");
    auto b = unpack.OpenEntry(u"secret.bin");
    EXPECT_EQ(a->GetSize(), 70000);
    a->SetPosition(69990);
    EXPECT_EQ(b->ReadByte(), static_cast<uint8_t>(Noise(100, 4)[0]));
    char buffer[64];
    EXPECT_EQ(a->Read(buffer, sizeof buffer), 10u);
    EXPECT_EQ(a->Read(buffer, sizeof buffer), 0u);
    EXPECT_THROW(a->SetPosition(70001), ql::EStreamError);
}

TEST(Unpack, MissingFile_IsFileNotFound) {
    TOrbUnpack unpack;
    EXPECT_EQ(unpack.Open(u"/nonexistent/show.exe"), TUnpackResult::FileNotFound);
    EXPECT_EQ(unpack.LastError(), kFileNotFoundText);
}

TEST(Unpack, TruncatedPackages_NeverOpenWrongly) {
    const std::string package = BuildPackage(kPlayer, SampleEntries());
    for (size_t cut : {size_t(0), size_t(3), size_t(4), size_t(11), size_t(19), package.size() / 2,
                       package.size() - 1, package.size() - 9}) {
        TOrbUnpack unpack;
        const TUnpackResult result = OpenBytes(unpack, package.substr(0, cut));
        EXPECT_NE(result, TUnpackResult::Ok) << cut;
    }
    TOrbUnpack unpack;
    EXPECT_EQ(OpenBytes(unpack, ".dne"), TUnpackResult::Damaged);
    EXPECT_EQ(OpenBytes(unpack, std::string(8, '\0') + ".dne"), TUnpackResult::Damaged);
    EXPECT_EQ(OpenBytes(unpack, "no package here"), TUnpackResult::NoPackage);
}

std::string WithTrailerDirectory(const std::string& package, int64_t directory) {
    std::string bytes = package;
    const size_t at = bytes.size() - 20;
    for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<char>(uint64_t(directory) >> (8 * i));
    return bytes;
}

TEST(Unpack, DirectoryPositionOutsideFile_IsDamaged) {
    const std::string package = BuildPackage(kPlayer, SampleEntries());
    TOrbUnpack unpack;
    for (int64_t directory : {int64_t(-1), int64_t(package.size()), INT64_MAX, INT64_MIN,
                              int64_t(package.size()) - 19}) {
        EXPECT_EQ(OpenBytes(unpack, WithTrailerDirectory(package, directory)),
                  TUnpackResult::Damaged)
            << directory;
    }
    // A trailer claiming a huge shift must not overflow.
    std::string bytes = package;
    for (int i = 0; i < 8; ++i) bytes[bytes.size() - 8 + i] = i == 7 ? '\x80' : '\0';
    EXPECT_EQ(OpenBytes(unpack, bytes), TUnpackResult::Damaged);
}

// Raw deflate of `zeros` zero bytes.
std::string ZeroBomb(size_t zeros) {
    ql::TStringStream source(std::string(zeros, '\0')), out;
    ql::TDeflator::Deflate(source, out, 9);
    return out.DataString();
}

TEST(Unpack, DeflateBombEntry_RaisesInsteadOfExhaustingMemory) {
    // A method-0 entry holding compressed zeros, relabelled as method 1.
    const std::string package = BuildPackage(kPlayer, {{u"bomb", ZeroBomb(8 << 20), 0}}, {},
                                             [](auto& records) { records[1].Method = 1; });
    TOrbUnpack unpack;
    ASSERT_EQ(OpenBytes(unpack, package), TUnpackResult::Ok);
    unpack.SetMaxInflatedEntry(1 << 20);
    EXPECT_THROW(unpack.OpenEntry(u"bomb"), ql::EStreamReadError);
    unpack.SetMaxInflatedEntry(16 << 20);
    EXPECT_EQ(unpack.OpenEntry(u"bomb")->GetSize(), 8 << 20);
}

TEST(Unpack, DirectoryBomb_IsDamaged) {
    // Replace the directory by 80 MB of compressed zeros.
    const std::string bomb = ZeroBomb(80 << 20);
    ql::TStringStream out;
    out.WriteBuffer(bomb.data(), bomb.size());
    out.WriteInt64(0);
    out.WriteAnsi(".dne");
    TOrbUnpack unpack;
    EXPECT_EQ(OpenBytes(unpack, out.DataString()), TUnpackResult::Damaged);
}

}  // namespace
}  // namespace orb
