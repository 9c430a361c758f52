// Show objects on a slide of a generated package, and the software screen
// they are drawn to: what the tests of the object kinds share.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "../OrbViewer/PackageTestSupport.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/qlIniStorage.h"

namespace orb::test {

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kYellow = 0xFFFFFF00;

// A picture in four plain quadrants: red, green above; blue, yellow below.
inline std::unique_ptr<ql::TBitmap> Quadrants(int32_t width, int32_t height) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(width, height, ql::PfARGB32());
    for (int32_t y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(bitmap->Row(y));
        for (int32_t x = 0; x < width; ++x)
            row[x] = y < height / 2 ? (x < width / 2 ? kRed : kGreen)
                                    : (x < width / 2 ? kBlue : kYellow);
    }
    return bitmap;
}

inline std::string Png(const ql::TBitmap& bitmap) {
    const std::vector<uint8_t> bytes = ql::EncodePng(bitmap);
    return std::string(bytes.begin(), bytes.end());
}

inline std::string StreamBytes(ql::TMemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.Memory()), size_t(stream.GetSize()));
}

// The package's directory opened over its bytes.
inline std::unique_ptr<TOrbUnpack> OpenTestPackage(const std::string& package) {
    auto unpack = std::make_unique<TOrbUnpack>();
    EXPECT_EQ(
        unpack->Open([package] { return std::make_unique<ql::TStringStream>(package); }, u"show"),
        TUnpackResult::Ok);
    return unpack;
}

// Slide-host callbacks for a 96 x 64 screen seen from far in front.
inline TSlideHostCallbacks TestHostCallbacks() {
    TSlideHostCallbacks callbacks;
    callbacks.CameraPosition = [] { return TCamera3D{48, 32, -1000}; };
    callbacks.Progress = [](float) { return true; };
    callbacks.SlideChanged = [](TOrbSlide&) {};
    callbacks.Drawing = [] {};
    return callbacks;
}

// A show package with a project section "[Slide1]" of the given lines, a
// slide host over it and the slide loaded from the section: 96 x 64 pixels
// centred on a 96 x 64 screen, seen from far in front.
class TShow {
public:
    TShow(std::vector<TTestEntry> entries, const std::vector<std::u16string>& keys,
          double begin = 0) {
        RegisterImageObjects();
        // A fresh show identity drops the glyph caches of earlier tests.
        static std::atomic<int> shows{0};
        entries.push_back({u"ExeGUID", "{image-objects-test-" + std::to_string(++shows) + "}", 0});
        m_accessor = std::make_unique<TFileAccessor>(
            ql::MakeRef<TPackedFileSource>(OpenTestPackage(BuildPackage("player", entries))));
        m_host = std::make_unique<TOrbSlideHost>(*m_accessor, TestHostCallbacks());

        std::vector<std::u16string> lines{u"[Slide1]"};
        lines.insert(lines.end(), keys.begin(), keys.end());
        m_document.LoadFromLines(lines);
        Slide = std::make_unique<TOrbSlide>(m_host.get(), 0);
        Slide->SetSize(96, 64);
        Slide->SetScreenCentre({48, 32});
        Slide->LoadFromDocument(*m_document.FindSection(u"Slide1"), false);
        Slide->SetTimes(begin, begin + 10000, 0, 0);
    }
    ~TShow() { Slide.reset(); }

    TOrbImage& Image(int index) {
        auto* image = dynamic_cast<TOrbImage*>(&Slide->Child(index));
        EXPECT_NE(image, nullptr);
        return *image;
    }
    TOrbText& Text(int index) {
        auto* text = dynamic_cast<TOrbText*>(&Slide->Child(index));
        EXPECT_NE(text, nullptr);
        return *text;
    }
    // Loads every picture and sets the slide to t (which runs the pre-scan).
    void LoadAt(double t) {
        LoadObjectPictures(*Slide);
        Slide->SetTime(true, t);
    }

    TFileAccessor& Accessor() { return *m_accessor; }

    std::unique_ptr<TOrbSlide> Slide;

private:
    std::unique_ptr<TFileAccessor> m_accessor;
    std::unique_ptr<TOrbSlideHost> m_host;
    ql::TIniFile m_document;
};

// The software device and its drawer at the screen size of TShow.
struct TScreen {
    TSoftDevice device{{96, 64}};
    T3DDrawer drawer{device};
    TScreen() {
        drawer.Init({96, 64, false});
        drawer.SetCaptureMode(true);
    }
    std::unique_ptr<ql::TDirectBitmap> Frame(TDrawScene& scene) {
        EXPECT_TRUE(drawer.DrawScene(scene));
        auto bitmap = std::make_unique<ql::TDirectBitmap>(96, 64, ql::PfARGB32());
        EXPECT_TRUE(drawer.CaptureFrame(*bitmap));
        return bitmap;
    }
};

inline uint32_t Pixel(const ql::TBitmap& bitmap, int32_t x, int32_t y) {
    return reinterpret_cast<const uint32_t*>(bitmap.Row(y))[x] | 0xFF000000u;
}

}  // namespace orb::test
