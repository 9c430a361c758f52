// Text macros on a slide whose main picture is a 24-megapixel JPEG with EXIF
// and IPTC records in a package: the cost of a text holding every macro when
// the records are read (the first text on the picture) and when they are
// kept. bytes_read counts what was read from the package entry per replacement;
// a walk that reads the picture data would read megabytes.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlMTParser.h"
#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbClasses/qlOrbTextMacros.h"
#include "OrbLib2/OrbPackage/qlOrbPackWriter.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "QlLib/Graphics/qlJpegWriter.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qlIniStorage.h"
#include "tests/QlLib/Graphics/MetadataTestSupport.h"

namespace {

using namespace orb;

constexpr char16_t kPicture[] = u"C:\\Photos\\Trip\\big.jpg";

// Counts the bytes read through it.
class TCountingStream : public ql::TStream {
public:
    TCountingStream(std::unique_ptr<ql::TStream> inner, std::atomic<int64_t>& count)
        : m_inner(std::move(inner)), m_count(count) {}
    int64_t GetPosition() override { return m_inner->GetPosition(); }
    void SetPosition(int64_t position) override { m_inner->SetPosition(position); }
    int64_t GetSize() override { return m_inner->GetSize(); }
    void SetSize(int64_t size) override { m_inner->SetSize(size); }
    size_t Read(void* buffer, size_t count) override {
        const size_t got = m_inner->Read(buffer, count);
        m_count += int64_t(got);
        return got;
    }
    size_t Write(const void* buffer, size_t count) override { return 0; }

private:
    std::unique_ptr<ql::TStream> m_inner;
    std::atomic<int64_t>& m_count;
};

class TCountingSource : public TPackedFileSource {
public:
    using TPackedFileSource::TPackedFileSource;
    std::atomic<int64_t> BytesRead{0};

protected:
    std::unique_ptr<ql::TStream> OpenUnmapped(const std::u16string& name) override {
        std::unique_ptr<ql::TStream> stream = TPackedFileSource::OpenUnmapped(name);
        if (!stream) return stream;
        return std::make_unique<TCountingStream>(std::move(stream), BytesRead);
    }
};

std::string BigJpegWithRecords() {
    ql::TDirectBitmap bitmap(6000, 4000, ql::PfRGB24());
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        uint8_t* row = bitmap.Row(y);
        for (int32_t x = 0; x < bitmap.Width() * 3; ++x) row[x] = uint8_t((x >> 4) ^ (y >> 3));
    }
    const std::vector<uint8_t> bytes = ql::EncodeJpeg(bitmap, 85);
    using namespace ql::test;
    TExifSpec exif;
    exif.Ifd0 = {{kTagDescription, kTiffAscii, std::string("Harbour at dusk\0", 16)},
                 {kTagDateTime, kTiffAscii, std::string("2010:05:01 12:34:56\0", 20)}};
    exif.SubIfd = {{kTagUserComment, kTiffUndefined, std::string("ASCII\0\0\0Evening light", 21)}};
    std::string iim = IimUtf8();
    for (uint8_t dataset : kIptcMacroDatasets)
        iim += IimDataset(2, dataset, "Dataset " + std::to_string(dataset));
    // A large ICC profile and a thumbnail-sized segment that the walk skips.
    const std::string others =
        JpegSegment(0xE2, std::string(60000, 'p')) +
        JpegSegment(0xE1, "http://ns.adobe.com/xap/1.0/" + std::string(30000, 'x'));
    return SpliceAfterSoi(
        std::string(bytes.begin(), bytes.end()),
        others + JpegSegment(0xE1, ExifPayload(exif)) + JpegSegment(0xED, PhotoshopPayload(iim)));
}

// The package, its host and a slide with a text before its main image.
struct TBenchShow {
    TBenchShow() {
        RegisterImageObjects();
        ql::TStringStream out;
        {
            TOrbPackWriter writer(out);
            writer.AddEntry(kPicture, BigJpegWithRecords(), 0);
            writer.Finish({});
        }
        const std::string package = out.DataString();
        PictureBytes = int64_t(package.size());
        auto unpack = std::make_unique<TOrbUnpack>();
        unpack->Open([package] { return std::make_unique<ql::TStringStream>(package); }, u"show");
        Source = ql::MakeRef<TCountingSource>(std::move(unpack));
        Accessor = std::make_unique<TFileAccessor>(Source);
        TSlideHostCallbacks callbacks;
        callbacks.CameraPosition = [] { return TCamera3D{960, 540, -1000}; };
        callbacks.Progress = [](float) { return true; };
        callbacks.SlideChanged = [](TOrbSlide&) {};
        callbacks.Drawing = [] {};
        Host = std::make_unique<TOrbSlideHost>(*Accessor, callbacks);
        Host->SetSlideCount(36);
        Document.LoadFromLines({u"[Slide1]", u"object T : text", u"end", u"object M : mainimage",
                                u"  ImageName=" + std::u16string(kPicture), u"end"});
        Slide = std::make_unique<TOrbSlide>(Host.get(), 0);
        Slide->SetSize(1920, 1080);
        Slide->SetIndex(2);
        Slide->LoadFromDocument(*Document.FindSection(u"Slide1"), false);
        // The loader opens the main picture anyway; its decoding is not measured.
        dynamic_cast<TOrbImage&>(Slide->Child(1)).LoadPicture();
        for (std::u16string_view token : kBaseMacros) EveryMacro += token;
        for (const TDerivedMacroInfo& derived : kDerivedMacros) EveryMacro += derived.Token;
    }
    ~TBenchShow() { Slide.reset(); }

    const TOrbText& Text() const { return dynamic_cast<const TOrbText&>(Slide->Child(0)); }

    ql::TRef<TCountingSource> Source;
    std::unique_ptr<TFileAccessor> Accessor;
    std::unique_ptr<TOrbSlideHost> Host;
    ql::TIniFile Document;
    std::unique_ptr<TOrbSlide> Slide;
    std::u16string EveryMacro;
    int64_t PictureBytes = 0;
};

TBenchShow& Show() {
    static TBenchShow show;
    return show;
}

void Replace(benchmark::State& state, bool readRecords) {
    TBenchShow& show = Show();
    const std::vector<std::u16string> lines{show.EveryMacro};
    int64_t bytes = 0, iterations = 0;
    size_t length = 0;
    for (auto _ : state) {
        if (readRecords) show.Text().Host()->PictureMetadata().Clear();
        const int64_t before = show.Source->BytesRead;
        const std::vector<std::u16string> replaced = ReplaceTextMacros(show.Text(), lines);
        bytes += show.Source->BytesRead - before;
        ++iterations;
        length = replaced[0].size();
        benchmark::DoNotOptimize(replaced.data());
    }
    state.counters["bytes_read"] = double(bytes) / double(iterations ? iterations : 1);
    state.counters["package_bytes"] = double(show.PictureBytes);
    state.counters["text_chars"] = double(length);
}

void BM_MacrosEveryMacro24MPReadingRecords(benchmark::State& state) {
    Replace(state, true);
}
BENCHMARK(BM_MacrosEveryMacro24MPReadingRecords)->Unit(benchmark::kMicrosecond);

void BM_MacrosEveryMacro24MPRecordsKept(benchmark::State& state) {
    Replace(state, false);
}
BENCHMARK(BM_MacrosEveryMacro24MPRecordsKept)->Unit(benchmark::kMicrosecond);

}  // namespace
