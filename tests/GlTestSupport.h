// Comparing frames across devices: the headless GL device and the peak
// signal-to-noise ratio by which its frames are held against the reference.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "QlLib/Platform/qlGlApi.h"

namespace ql::test {

// The PSNR of b against a in dB over their bytes; 99 when they are equal, 0
// when their sizes differ.
inline double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    const double mse = sum / double(a.size());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// A headless context whose driver reports a reset when a test says so. It
// answers as a robust context that loses itself on a reset, whatever the
// real driver offers, so that the way a real reset is noticed and survived
// can be tested on any GL.
class TResettableContext : public TGlContext {
public:
    // The status every such context reports from now on: 0 for none, or
    // 0x8253 (guilty), 0x8254 (innocent), 0x8255 (unknown) for a reset.
    static inline std::atomic<uint32_t> ResetStatus{0};

    // Null with the reason in error where there is no headless GL.
    static std::unique_ptr<TGlContext> Create(std::string& error) {
        std::unique_ptr<TGlContext> inner = TGlContext::CreateHeadless(error);
        if (!inner) return nullptr;
        return std::unique_ptr<TGlContext>(new TResettableContext(std::move(inner)));
    }

    void* ProcAddress(const char* name) const override {
        if (std::strncmp(name, "glGetGraphicsResetStatus", 24) == 0)
            return reinterpret_cast<void*>(&GetResetStatus);
        if (std::strcmp(name, "glGetIntegerv") == 0) {
            s_getIntegerv = reinterpret_cast<TGetIntegerv>(m_inner->ProcAddress(name));
            return s_getIntegerv ? reinterpret_cast<void*>(&GetIntegerv) : nullptr;
        }
        return m_inner->ProcAddress(name);
    }
    bool HasWindow() const override { return false; }
    void DrawableSize(int32_t& width, int32_t& height) const override { width = height = 0; }
    void SwapBuffers() override {}
    bool MakeCurrent() override { return m_inner->MakeCurrent(); }
    void ReleaseCurrent() override { m_inner->ReleaseCurrent(); }

private:
    using TGetIntegerv = void (*)(uint32_t, int32_t*);
    explicit TResettableContext(std::unique_ptr<TGlContext> inner) : m_inner(std::move(inner)) {}

    static uint32_t GetResetStatus() { return ResetStatus.load(); }
    static void GetIntegerv(uint32_t name, int32_t* value) {
        constexpr uint32_t kResetNotificationStrategy = 0x8256, kLoseContextOnReset = 0x8252;
        if (name == kResetNotificationStrategy)
            *value = int32_t(kLoseContextOnReset);
        else
            s_getIntegerv(name, value);
    }

    static inline TGetIntegerv s_getIntegerv = nullptr;
    std::unique_ptr<TGlContext> m_inner;
};

}  // namespace ql::test

namespace orb::test {

// A GL device on a headless context, or nullptr with the reason in error
// (a machine without GL).
inline std::unique_ptr<TGlDevice> HeadlessGlDevice(int32_t width, int32_t height,
                                                   std::string& error) {
    return TGlDevice::CreateHeadless(width, height, error);
}

}  // namespace orb::test
