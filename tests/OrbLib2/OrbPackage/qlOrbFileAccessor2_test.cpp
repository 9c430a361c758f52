#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include "LogCapture.h"
#include "OrbLib2/OrbPackage/qlOrbLoadCallback.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "QlLib/SysLock.h"
#include "QlLib/qlLog.h"

namespace orb {
namespace {

using test::ReadAll;
using test::TTestFolder;
using test::WriteBytes;

std::string OpenText(TFileAccessor& accessor, const std::u16string& name) {
    std::unique_ptr<ql::TStream> stream = accessor.OpenStream(name);
    return stream ? ReadAll(*stream) : "<absent>";
}

TEST(FileAccessor, WindowsNames_FoundBySlashCaseAndBaseFolder) {
    TTestFolder folder;
    ASSERT_TRUE(ql::TFileAPI::CreateDirectory(folder.File("Pics")));
    WriteBytes(folder.File("Pics/Photo.JPG"), "photo");
    TFileAccessor accessor(ql::MakeRef<TRealFileSource>());
    const std::u16string backslashed = folder.Path() + u"\\pics\\photo.jpg";
    EXPECT_EQ(OpenText(accessor, folder.File("Pics/Photo.JPG")), "photo");
    EXPECT_EQ(OpenText(accessor, backslashed), "photo");
    EXPECT_EQ(OpenText(accessor, u"C:\\Users\\me\\PHOTO.jpg"), "<absent>");
    accessor.SetBaseFolder(folder.File("Pics"));
    EXPECT_EQ(accessor.BaseFolder().back(), u'/');
    EXPECT_EQ(OpenText(accessor, u"C:\\Users\\me\\PHOTO.jpg"), "photo");
    EXPECT_EQ(accessor.ResolveFileName(u"C:\\Users\\me\\PHOTO.jpg"), folder.File("Pics/Photo.JPG"));
    EXPECT_EQ(accessor.ResolveFileName(u"C:\\nothing.jpg"), u"");
    // The copy shares source and base folder.
    std::unique_ptr<TFileAccessor> copy = accessor.Copy();
    EXPECT_EQ(&copy->Source(), &accessor.Source());
    EXPECT_EQ(OpenText(*copy, u"D:\\photo.jpg"), "photo");
}

TEST(FileAccessor, OnlyPlainFilesOpenFromTheDisk) {
    TTestFolder folder;
    ASSERT_EQ(::mkfifo(ql::ToUtf8(folder.File("pipe.mp3")).c_str(), 0600), 0);
    TFileAccessor accessor(ql::MakeRef<TRealFileSource>());
    EXPECT_EQ(OpenText(accessor, folder.File("pipe.mp3")), "<absent>");
    EXPECT_EQ(OpenText(accessor, folder.Path()), "<absent>");
}

TEST(FileAccessor, StreamFilterAndFallbackOpener) {
    TTestFolder folder;
    WriteBytes(folder.File("a.txt"), "content");
    TFileAccessor accessor(ql::MakeRef<TRealFileSource>());
    accessor.SetStreamFilter([](const std::u16string& name, std::unique_ptr<ql::TStream> stream) {
        return std::make_unique<ql::TStringStream>("filtered " + ReadAll(*stream));
    });
    accessor.SetFallbackOpener([](const std::u16string& name) {
        return std::make_unique<ql::TStringStream>("fallback " + ql::ToUtf8(name));
    });
    EXPECT_EQ(OpenText(accessor, folder.File("a.txt")), "filtered content");
    EXPECT_EQ(OpenText(accessor, u"zzz"), "fallback zzz");
}

TEST(FileAccessor, LoadCallbackStopMode_EndsLongReads) {
    TTestFolder folder;
    WriteBytes(folder.File("big.bin"), test::Noise(200000));
    TFileAccessor accessor(ql::MakeRef<TRealFileSource>());
    std::unique_ptr<ql::TStream> stream = accessor.OpenStream(folder.File("big.bin"));
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->GetSize(), 200000);
    std::string buffer(200000, '\0');
    SetLoadCallbackMode(kLoadStop);
    const size_t got = stream->Read(buffer.data(), buffer.size());
    SetLoadCallbackMode(kLoadRun);
    EXPECT_EQ(got, 32768u);
    EXPECT_EQ(stream->Read(buffer.data() + got, buffer.size() - got), buffer.size() - got);
}

TEST(MappedFileSource, FileMapLines_SplitAtFirstUnquotedEquals) {
    auto source = ql::MakeRef<TMappedFileSource>();
    source->LoadFileMap({u";\"C:\\a=b.jpg\" = \"D:\\x=y.jpg\"", u"\"plain\"=\"second\"",
                         u";\"plain\"=\"third\"", u";\"nothing\"=", u";=\"empty source\"",
                         u"; no equals sign"});
    EXPECT_EQ(source->MappedName(u"c:\\A=B.JPG"), u"D:\\x=y.jpg");
    EXPECT_EQ(source->MappedName(u"plain"), u"second");
    EXPECT_EQ(source->MappedName(u"nothing"), u"");
    EXPECT_EQ(source->MappedName(u""), u"");
}

TEST(MappedFileSource, MappedNamesOpenTheirTarget_CyclesReadAsAbsent) {
    TTestFolder folder;
    WriteBytes(folder.File("real.txt"), "real");
    auto source = ql::MakeRef<TMappedFileSource>();
    const std::u16string real = folder.File("real.txt");
    source->LoadFileMap({u";\"alias\"=\"" + real + u"\"", u";\"chain\"=\"alias\"",
                         u";\"self\"=\"self\"", u";\"ping\"=\"pong\"", u";\"pong\"=\"ping\""});
    TFileAccessor accessor(source);
    EXPECT_EQ(OpenText(accessor, u"ALIAS"), "real");
    EXPECT_EQ(OpenText(accessor, u"chain"), "real");
    EXPECT_EQ(OpenText(accessor, u"self"), "<absent>");
    EXPECT_EQ(OpenText(accessor, u"ping"), "<absent>");
}

TEST(MappedFileSource, RotationState_KeepsExifCodesAndSwapsQuarterTurns) {
    auto source = ql::MakeRef<TMappedFileSource>();
    EXPECT_FALSE(source->HasOrientationHook());
    source->LoadRotationState({u";\"C:\\a.jpg\"=6", u";\"b.jpg\"=3", u";\"c \"quoted\".jpg\"=8",
                               u";\"d.jpg\"=5", u"\"e.jpg\"=3", u";\"f.jpg\"=x", u";\"g.jpg\"=1"});
    EXPECT_TRUE(source->HasOrientationHook());
    int32_t w = 40, h = 30;
    EXPECT_EQ(source->Orientation(u"c:\\A.JPG", w, h), TImageOrientation::RotateClockwise);
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 40);
    EXPECT_EQ(source->Orientation(u"b.jpg", w, h), TImageOrientation::Rotate180);
    EXPECT_EQ(w, 30);
    EXPECT_EQ(source->OrientationCode(u"c \"quoted\".jpg"), 8);
    EXPECT_EQ(source->OrientationCode(u"d.jpg"), 0);
    EXPECT_EQ(source->OrientationCode(u"e.jpg"), 0);
    EXPECT_EQ(source->OrientationCode(u"f.jpg"), 0);
    EXPECT_EQ(source->OrientationCode(u"g.jpg"), 1);
    EXPECT_EQ(source->Orientation(u"g.jpg", w, h), TImageOrientation::None);
}

TEST(ImageCache, SameSourceSharesOneHandle_TwoSourcesTwo) {
    TFileAccessor first(ql::MakeRef<TRealFileSource>());
    TFileAccessor second(ql::MakeRef<TRealFileSource>());
    const auto live = [&] { return first.Source().LiveImageHandleCount(); };
    EXPECT_NE(first.Source().SourceId(), second.Source().SourceId());
    auto a = first.OpenImage(u"Pictures\\Missing.jpg");
    auto b = first.OpenImage(u"pictures\\missing.JPG");
    auto c = second.OpenImage(u"Pictures\\Missing.jpg");
    EXPECT_EQ(&a->Handle(), &b->Handle());
    EXPECT_NE(&a->Handle(), &c->Handle());
    EXPECT_EQ(live(), 1);
    EXPECT_EQ(second.Source().LiveImageHandleCount(), 1);
    // Another accessor on the same source shares the pictures.
    auto copy = first.Copy();
    EXPECT_EQ(&copy->OpenImage(u"PICTURES\\MISSING.JPG")->Handle(), &a->Handle());
    auto clone = a->Clone();
    EXPECT_EQ(&clone->Handle(), &a->Handle());
    a.reset();
    b.reset();
    EXPECT_EQ(live(), 1);
    clone.reset();
    EXPECT_EQ(live(), 0);
    // A new request after the last image went builds a new handle.
    auto again = first.OpenImage(u"Pictures\\Missing.jpg");
    EXPECT_EQ(live(), 1);
    // An image outlives the accessor and the source it came from.
    std::unique_ptr<access::TOrbImage> kept;
    {
        TFileAccessor alone(ql::MakeRef<TRealFileSource>());
        kept = alone.OpenImage(u"kept.jpg");
    }
    EXPECT_FALSE(PlaceholderTextOf(*kept->BitmapStore()).empty());
}

TEST(ImageCache, Placeholders_NameWhatFailed) {
    TTestFolder folder;
    WriteBytes(folder.File("broken.jpg"), "not a picture");
    TFileAccessor accessor(ql::MakeRef<TRealFileSource>());
    auto missing = accessor.OpenImage(u"C:\\pics\\gone.jpg");
    EXPECT_EQ(PlaceholderTextOf(*missing->BitmapStore()),
              u"Image not found:\ngone.jpg\nPath:\nC:\\pics");
    auto broken = accessor.OpenImage(folder.File("broken.jpg"));
    EXPECT_EQ(PlaceholderTextOf(*broken->BitmapStore()),
              u"Image load error:\nbroken.jpg\nPath:\n" + folder.Path());
    EXPECT_EQ(PlaceholderMessage(u"clip.MP4", false), u"Video not found:");
    EXPECT_EQ(PlaceholderMessage(u"clip.avi", true), u"Video load error:");
    EXPECT_TRUE(broken->BitmapStore()->HasProgress());
}

TEST(ImageCache, PlaceholderPicture_YellowLinesOnBlue) {
    TFileAccessor accessor(ql::MakeRef<TRealFileSource>());
    auto missing = accessor.OpenImage(u"/nowhere/gone.jpg");
    ql::TBitmap* picture = missing->BitmapStore()->GetBitmap(0);
    ASSERT_TRUE(picture);
    // Four lines of text at a quarter of the 64-pixel font.
    EXPECT_GT(picture->Height(), 4 * 16);
    EXPECT_GT(picture->Width(), 30);
    int32_t yellow = 0, blue = 0;
    for (int32_t y = 0; y < picture->Height(); ++y)
        for (int32_t x = 0; x < picture->Width(); ++x) {
            const uint8_t* p = picture->Row(y) + x * 4;  // B, G, R, A
            EXPECT_EQ(p[3], 255);
            yellow += p[0] == 0 && p[1] == 255 && p[2] == 255;
            blue += p[0] == 255 && p[1] == 0 && p[2] == 0;
        }
    EXPECT_GT(yellow, 50);
    EXPECT_GT(blue, yellow);
}

ql::TRef<TBitmapStore> ProvideRed(const std::u16string& name, void* calls) {
    ++*static_cast<int*>(calls);
    if (name != u"red") return nullptr;
    return ql::MakeRef<ql::TWrapperBitmapStore>(ql::CreateBitmap(7, 1, ql::PfRGB24()));
}

TEST(ImageCache, ProvidersAnswerFirst_UntilTheirHandleGoes) {
    auto source = ql::MakeRef<TRealFileSource>();
    TFileAccessor accessor(source);
    int calls = 0;
    {
        std::unique_ptr<TCallbackHandle> provider =
            source->RegisterImageProvider(&ProvideRed, &calls);
        EXPECT_EQ(accessor.OpenImage(u"red")->BitmapStore()->Width(), 7);
        EXPECT_EQ(calls, 1);
    }
    EXPECT_FALSE(PlaceholderTextOf(*accessor.OpenImage(u"red")->BitmapStore()).empty());
    EXPECT_EQ(calls, 1);
}

// A picture a provider makes (a generated mask, a text, a shadow) that passes
// the whole budget stands in as one from a file does, and the log says why.
TEST(ImageCache, ProvidedPicturePastTheWholeBudget_GetsTheStandInAndALogLine) {
    ql::test::TCapturedLog log;
    struct TCase {
        int64_t budget;
        bool shown;
    };
    for (const TCase& c : {TCase{28, true}, TCase{27, false}}) {  // 7 x 1 in 32-bit pixels
        auto source = ql::MakeRef<TRealFileSource>();
        TFileAccessor accessor(source);
        int calls = 0;
        auto provider = source->RegisterImageProvider(&ProvideRed, &calls);
        ql::TPictureMemoryBudgetScope budget(c.budget);
        log.Lines().clear();
        const std::u16string text = PlaceholderTextOf(*accessor.OpenImage(u"red")->BitmapStore());
        EXPECT_EQ(text.empty(), c.shown) << c.budget;
        EXPECT_EQ(text.rfind(u"Image load error:", 0) == 0, !c.shown) << c.budget;
        size_t budgetLines = 0;
        for (const std::u16string& line : log.Lines())
            budgetLines += line.find(u"budget") != std::u16string::npos;
        EXPECT_EQ(budgetLines, c.shown ? 0u : 1u) << c.budget;
    }
}

TEST(ImageCache, ConcurrentRequests_DecodeOnce) {
    TTestFolder folder;
    WriteBytes(folder.File("p.img"), "pixels");
    std::atomic<int> decodes{0};
    TFileAccessor accessor(ql::MakeRef<TRealFileSource>());
    accessor.Source().SetImageDecoder(
        [&](ql::TStream& stream, const std::u16string&, const TFileSource&) {
            ++decodes;
            return ql::TRef<TBitmapStore>(ql::MakeRef<ql::TWrapperBitmapStore>(
                ql::CreateBitmap(static_cast<int32_t>(stream.GetSize()), 1, ql::PfRGB24())));
        });
    std::vector<std::unique_ptr<access::TOrbImage>> images(8);
    std::vector<std::thread> threads;
    for (auto& image : images) {
        threads.emplace_back([&] { image = accessor.OpenImage(folder.File("p.img")); });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(decodes.load(), 1);
    for (auto& image : images) {
        EXPECT_EQ(&image->Handle(), &images[0]->Handle());
        EXPECT_EQ(image->BitmapStore()->Width(), 6);
    }
}

// ---- providers running beside other loads ----

// Generous: every wait below ends at once unless providers are serialised.
constexpr uint32_t kBoundMs = 10000;

ql::TRef<TBitmapStore> PictureOfWidth(int32_t width) {
    return ql::MakeRef<ql::TWrapperBitmapStore>(ql::CreateBitmap(width, 1, ql::PfRGB24()));
}

// Runs work on a thread of its own; a run that does not end in time is a
// deadlock, and the test program stops rather than hang. Longer than the
// waits inside the work, which end on their own.
void MustFinish(const char* what, const std::function<void()>& work) {
    constexpr uint32_t kDeadlockMs = 6 * kBoundMs;
    ql::TEvent done;
    std::thread runner([&] {
        work();
        done.Set();
    });
    if (!done.Wait(kDeadlockMs)) {
        std::fprintf(stderr, "%s: still running after %u ms, deadlocked\n", what, kDeadlockMs);
        std::abort();
    }
    runner.join();
}

// "shadow" is made from "text", loaded through the same accessor.
struct TShadowMaker {
    TFileAccessor* Accessor = nullptr;
    ql::TEvent ShadowEntered;
    ql::TEvent TextEntered;
    ql::TEvent OpeningText;
    std::atomic<bool> TextReachedMeanwhile{false};
};

ql::TRef<TBitmapStore> MakeShadowOfText(const std::u16string& name, void* data) {
    auto& maker = *static_cast<TShadowMaker*>(data);
    if (name == u"text") {
        maker.TextEntered.Set();
        // Holding the text's handle while the shadow's maker asks for it.
        maker.OpeningText.Wait(kBoundMs);
        return PictureOfWidth(5);
    }
    if (name == u"shadow") {
        maker.ShadowEntered.Set();
        // A maker that held up every other load of its source would wait
        // here in vain, and the text's loader would then hold the text's
        // handle while waiting for this maker.
        if (!maker.TextEntered.Wait(kBoundMs)) {
            maker.OpeningText.Set();  // the text's maker need not wait then
            return nullptr;
        }
        maker.TextReachedMeanwhile = true;
        maker.OpeningText.Set();
        auto text = maker.Accessor->OpenImage(u"text");
        return PictureOfWidth(text->BitmapStore()->Width() + 1);
    }
    return nullptr;
}

TEST(ImageProviders, MakerLoadingAPicture_AnotherThreadLoadingItMeanwhile_BothFinish) {
    auto source = ql::MakeRef<TRealFileSource>();
    TFileAccessor accessor(source);
    TShadowMaker maker;
    maker.Accessor = &accessor;
    auto registration = source->RegisterImageProvider(&MakeShadowOfText, &maker);
    std::unique_ptr<access::TOrbImage> shadow, text, shadowAgain;
    MustFinish("a text and its shadow loaded at once", [&] {
        std::thread shadowLoader([&] { shadow = accessor.OpenImage(u"shadow"); });
        std::thread textLoader([&] {
            maker.ShadowEntered.Wait(kBoundMs);
            text = accessor.OpenImage(u"text");
            shadowAgain = accessor.OpenImage(u"shadow");
        });
        shadowLoader.join();
        textLoader.join();
    });
    EXPECT_TRUE(maker.TextReachedMeanwhile) << "the text's load waited for the shadow's maker";
    ASSERT_TRUE(shadow && text && shadowAgain);
    EXPECT_EQ(text->BitmapStore()->Width(), 5);
    EXPECT_EQ(shadow->BitmapStore()->Width(), 6);
    EXPECT_EQ(&shadowAgain->Handle(), &shadow->Handle());
}

struct TSlowProvider {
    ql::TEvent* Entered = nullptr;
    ql::TEvent* Release = nullptr;
    std::atomic<bool>* Finished = nullptr;
    int32_t Width = 4;
};

ql::TRef<TBitmapStore> ProvideSlowly(const std::u16string&, void* data) {
    auto* provider = static_cast<TSlowProvider*>(data);
    ql::TEvent* release = provider->Release;
    provider->Entered->Set();
    release->Wait(kBoundMs);
    // Freed by the test as soon as the registration is gone.
    const int32_t width = provider->Width;
    provider->Finished->store(true);
    return PictureOfWidth(width);
}

TEST(ImageProviders, LeavingARegistration_WaitsForTheCallRunningOnAnotherThread) {
    auto source = ql::MakeRef<TRealFileSource>();
    TFileAccessor accessor(source);
    ql::TEvent entered, release, left;
    std::atomic<bool> finished{false};
    auto provider = std::make_unique<TSlowProvider>();
    provider->Entered = &entered;
    provider->Release = &release;
    provider->Finished = &finished;
    auto registration = source->RegisterImageProvider(&ProvideSlowly, provider.get());

    std::unique_ptr<access::TOrbImage> image;
    bool finishedWhenLeft = false;
    MustFinish("leaving a provider during its call", [&] {
        std::thread loader([&] { image = accessor.OpenImage(u"slow"); });
        EXPECT_TRUE(entered.Wait(kBoundMs));
        std::thread leaver([&] {
            registration.reset();
            finishedWhenLeft = finished;
            provider.reset();
            left.Set();
        });
        // Leaving must still be waiting: the call has not been let go.
        EXPECT_FALSE(left.Wait(200));
        release.Set();
        leaver.join();
        loader.join();
    });
    EXPECT_TRUE(finishedWhenLeft);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->BitmapStore()->Width(), 4);
}

struct TSelfLeavingProvider {
    std::unique_ptr<TCallbackHandle> Registration;
    int32_t Calls = 0;
};

ql::TRef<TBitmapStore> LeaveWhileProviding(const std::u16string&, void* data) {
    auto& provider = *static_cast<TSelfLeavingProvider*>(data);
    ++provider.Calls;
    provider.Registration.reset();
    return nullptr;
}

TEST(ImageProviders, ProviderLeavingItsOwnRegistration_GoesOnAndTheNextIsStillAsked) {
    auto source = ql::MakeRef<TRealFileSource>();
    TFileAccessor accessor(source);
    TSelfLeavingProvider leaving;
    leaving.Registration = source->RegisterImageProvider(&LeaveWhileProviding, &leaving);
    int redCalls = 0;
    auto red = source->RegisterImageProvider(&ProvideRed, &redCalls);
    std::unique_ptr<access::TOrbImage> first, second;
    MustFinish("a provider leaving itself", [&] {
        first = accessor.OpenImage(u"red");
        second = accessor.OpenImage(u"other");
    });
    EXPECT_FALSE(leaving.Registration);
    EXPECT_EQ(leaving.Calls, 1);
    EXPECT_EQ(redCalls, 2);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->BitmapStore()->Width(), 7);
    EXPECT_FALSE(PlaceholderTextOf(*second->BitmapStore()).empty());
}

// A BMP of 24 bits, bottom-up.
std::string SmallBmp(uint32_t width = 3, uint32_t height = 2) {
    const uint32_t bytes = (width * 3 + 3) / 4 * 4 * height;
    std::string b = "BM";
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) b += char(v >> (8 * i));
    };
    auto put16 = [&](uint32_t v) {
        b += char(v);
        b += char(v >> 8);
    };
    put32(54 + bytes);
    put32(0);
    put32(54);
    put32(40);
    put32(width);
    put32(height);
    put16(1);
    put16(24);
    for (int i = 0; i < 6; ++i) put32(0);
    b += std::string(bytes, '\x40');
    return b;
}

TEST(ImageCache, Pictures_DecodeThroughTheRegistryWithTheirOrientation) {
    TTestFolder folder;
    WriteBytes(folder.File("pic.bmp"), SmallBmp());
    WriteBytes(folder.File("bad.bmp"), "BM" + std::string(60, '\xFF'));
    auto source = ql::MakeRef<TMappedFileSource>();
    source->LoadRotationState({u";\"" + folder.File("pic.bmp") + u"\"=6"});
    TFileAccessor accessor(source);
    auto image = accessor.OpenImage(folder.File("pic.bmp"));
    ql::TRef<TBitmapStore> store = image->BitmapStore();
    EXPECT_TRUE(PlaceholderTextOf(*store).empty());
    EXPECT_EQ(store->Width(), 2);
    EXPECT_EQ(store->Height(), 3);
    EXPECT_EQ(store->GetBitmap(0)->Width(), 2);
    auto bad = accessor.OpenImage(folder.File("bad.bmp"));
    EXPECT_EQ(PlaceholderTextOf(*bad->BitmapStore()).rfind(u"Image load error:", 0), 0u);
}

// A picture whose full size passes the whole picture memory budget gets the
// stand-in at once instead of failing when it is first drawn; one that fits
// the budget but not what others hold now is opened, for the budget to make
// room when it is drawn.
TEST(ImageCache, PicturesPastTheWholeMemoryBudget_GetTheStandIn) {
    TTestFolder folder;
    WriteBytes(folder.File("pic.bmp"), SmallBmp());  // 3 x 2: 24 bytes in 32-bit pixels
    struct TCase {
        int64_t budget;
        bool othersHoldIt;  // another picture holds all of it
        bool shown;
    };
    for (const TCase& c :
         {TCase{24, false, true}, TCase{23, false, false}, TCase{24, true, true}}) {
        TFileAccessor accessor(ql::MakeRef<TRealFileSource>());
        // With another picture holding it, the budget is what others held
        // before plus that picture's 24 bytes: nothing is left.
        ql::TPictureMemoryBudgetScope budget(c.othersHoldIt ? ql::PictureMemoryHeld() + c.budget
                                                            : c.budget);
        auto other = ql::MakeRef<ql::TWrapperBitmapStore>(ql::CreateBitmap(3, 2, ql::PfARGB32()));
        if (c.othersHoldIt) ASSERT_NE(other->GetBitmap(0), nullptr);
        auto image = accessor.OpenImage(folder.File("pic.bmp"));
        EXPECT_EQ(PlaceholderTextOf(*image->BitmapStore()).empty(), c.shown) << c.budget;
    }
}

TEST(ImageCache, LoadStoppedByTheCallback_IsDecodedAgain) {
    TTestFolder folder;
    // Larger than one piece of the window stream, so that the stop is seen.
    WriteBytes(folder.File("pic.bmp"), SmallBmp(200, 100));
    TFileAccessor accessor(ql::MakeRef<TRealFileSource>());
    SetLoadCallbackMode(kLoadStop);
    auto stopped = accessor.OpenImage(folder.File("pic.bmp"));
    SetLoadCallbackMode(kLoadRun);
    EXPECT_FALSE(PlaceholderTextOf(*stopped->BitmapStore()).empty());
    auto again = accessor.OpenImage(folder.File("pic.bmp"));
    EXPECT_TRUE(PlaceholderTextOf(*again->BitmapStore()).empty());
}

TEST(PackedFileSource, EntriesOpenThroughMappingAndKnowTheirSize) {
    const std::string package = test::BuildPackage(
        "player", {{u"C:\\show\\a.jpg", "jpeg bytes", 0}, {u"b.txt", std::string(100000, 'b'), 1}});
    auto unpack = std::make_unique<TOrbUnpack>();
    ASSERT_EQ(
        unpack->Open([package] { return std::make_unique<ql::TStringStream>(package); }, u"m"),
        TUnpackResult::Ok);
    auto source = ql::MakeRef<TPackedFileSource>(std::move(unpack));
    source->LoadFileMap({u";\"D:\\moved\\a.jpg\"=\"C:\\show\\a.jpg\""});
    TFileAccessor accessor(source);
    EXPECT_FALSE(source->OpensPlainFiles());
    EXPECT_EQ(OpenText(accessor, u"D:\\MOVED\\a.jpg"), "jpeg bytes");
    std::unique_ptr<ql::TStream> b = accessor.OpenStream(u"B.TXT");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->GetSize(), 100000);
    EXPECT_EQ(OpenText(accessor, u"/etc/hostname"), "<absent>");
}

}  // namespace
}  // namespace orb
