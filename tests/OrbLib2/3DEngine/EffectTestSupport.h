// What the transition tests share: a drawer on the software device, two
// patterned slides, frames captured as bytes, and a sink that records.
#pragma once

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "QlLib/Graphics/qlPixelFormats.h"

namespace orb::test {

// A slide that draws a generated picture over the whole output.
class TPictureSlide : public TDrawScene {
public:
    explicit TPictureSlide(TDrawPicture& picture) : m_picture(picture) {}
    void Draw(TDeviceDrawer& d) override {
        TImageDrawParams params;
        params.filter = TFilter::Point;
        d.DrawImage(m_picture, {0, 0}, params, {1, 0}, {0, 1}, {0, 0});
    }

private:
    TDrawPicture& m_picture;
};

// Opaque pictures that differ everywhere: the old one dark, the new one light.
inline std::unique_ptr<ql::TBitmap> SlideBitmap(int32_t width, int32_t height, bool light) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(width, height, ql::PfARGB32());
    for (int32_t y = 0; y < height; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(bitmap->Row(y));
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t r = uint32_t(x * 3 & 63), g = uint32_t(y * 5 & 63), b = uint32_t((x ^ y) & 63);
            row[x] = light ? 0xFFC0C0C0u + (r << 16 | g << 8 | b) : 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
    return bitmap;
}

// A filter with a fixed time and a chosen effect.
class TTestFilter : public TTransitionFilter {
public:
    TTestFilter(int32_t effectClass, int32_t effectType, double duration = 1000)
        : m_class(effectClass), m_type(effectType), m_duration(duration) {}
    double Time() const override { return m_time; }
    double Duration() const override { return m_duration; }
    int32_t EffectClass() const override { return m_class; }
    int32_t EffectType() const override { return m_type; }
    const TEffectParams& Params() const override { return params; }
    void SetTime(double t) { m_time = t; }
    TEffectParams params;

private:
    int32_t m_class, m_type;
    double m_duration;
    double m_time = 0;
};

struct TEffectRig {
    std::unique_ptr<TRenderDevice> device;
    std::unique_ptr<T3DDrawer> drawer;
    TDrawPicture oldPicture, newPicture;
    std::unique_ptr<TPictureSlide> oldSlide, newSlide;
    int32_t width, height;

    TEffectRig(int32_t w, int32_t h, std::unique_ptr<TRenderDevice> renderDevice = nullptr) : width(w), height(h) {
        device = renderDevice ? std::move(renderDevice) : std::make_unique<TSoftDevice>(TSoftDeviceOptions{w, h});
        drawer = std::make_unique<T3DDrawer>(*device);
        drawer->Init({w, h, false});
        drawer->SetCaptureMode(true);
        oldPicture.store = ql::MakeRef<ql::TWrapperBitmapStore>(SlideBitmap(w, h, false));
        newPicture.store = ql::MakeRef<ql::TWrapperBitmapStore>(SlideBitmap(w, h, true));
        oldSlide = std::make_unique<TPictureSlide>(oldPicture);
        newSlide = std::make_unique<TPictureSlide>(newPicture);
    }
    ~TEffectRig() {
        drawer->ReleaseImage(oldPicture);
        drawer->ReleaseImage(newPicture);
    }

    // The captured frame as 0xAARRGGBB pixels.
    std::vector<uint32_t> Frame() {
        ql::TDirectBitmap bitmap(width, height, ql::PfARGB32());
        std::vector<uint32_t> pixels;
        if (!drawer->CaptureFrame(bitmap)) return pixels;
        for (int32_t y = 0; y < height; ++y) {
            const uint32_t* row = reinterpret_cast<const uint32_t*>(bitmap.Row(y));
            pixels.insert(pixels.end(), row, row + width);
        }
        return pixels;
    }
    std::vector<uint32_t> SlideFrame(bool newOne) {
        drawer->DrawScene(newOne ? *newSlide : *oldSlide);
        return Frame();
    }
    std::vector<uint32_t> TransitionFrame(TTestFilter& filter, double t) {
        filter.SetTime(t);
        drawer->DrawTransition(oldSlide.get(), newSlide.get(), false, &filter);
        return Frame();
    }
};

// The largest difference of any channel between two frames; 256 when they
// differ in size.
inline int32_t MaxDiff(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size() || a.empty()) return 256;
    int32_t most = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int32_t shift = 0; shift < 32; shift += 8)
            most = std::max(most, std::abs(int32_t(a[i] >> shift & 255) - int32_t(b[i] >> shift & 255)));
    return most;
}

// How many pixels differ from the reference by more than tolerance.
inline int32_t Changed(const std::vector<uint32_t>& frame, const std::vector<uint32_t>& reference,
                       int32_t tolerance = 2) {
    int32_t count = 0;
    for (size_t i = 0; i < frame.size() && i < reference.size(); ++i)
        count += MaxDiff({frame[i]}, {reference[i]}) > tolerance;
    return count;
}

// Records what an effect emits, in filter coordinates.
class TRecordingSink : public TMultiTile, public TEffectTarget {
public:
    explicit TRecordingSink(ql::TRect target) : m_target(target) {}
    void Begin() override { triangles.clear(), mesh.clear(), ++begins; }
    void AddTriangles(std::span<const TEffVertex> v) override { triangles.insert(triangles.end(), v.begin(), v.end()); }
    void End() override { ++ends; }
    void AddMesh(std::span<const TMeshVertex> v) override { mesh.insert(mesh.end(), v.begin(), v.end()); }
    void FillMesh(std::span<const TMeshVertex> v) override { mesh.insert(mesh.end(), v.begin(), v.end()); }
    TMultiTile& Sink() override { return *this; }
    ql::TRect TargetRect() const override { return m_target; }

    std::vector<TEffVertex> triangles;
    std::vector<TMeshVertex> mesh;
    int32_t begins = 0, ends = 0;

private:
    ql::TRect m_target;
};

}  // namespace orb::test
