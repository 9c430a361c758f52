#include "examples/demo/DemoLandscape.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "examples/demo/DemoNoise.h"

namespace orb::demo {

namespace {

float Smooth(float e0, float e1, float x) {
    const float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

TRgb Mix(const TRgb& a, const TRgb& b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

TRgb Scale(const TRgb& a, float k) { return {a.r * k, a.g * k, a.b * k}; }

struct TPine {
    float X, Base, Top, HalfWidth;  // pixels
};

// Everything the painter works out once per picture, so that the per-pixel
// work is a few noise lookups.
class TPainter {
public:
    explicit TPainter(const TLandscapeSpec& spec) : m_spec(spec), m_h(float(spec.Height)) {
        const int32_t w = spec.Width;
        m_waterY = spec.Water * m_h;
        const float bottom = std::min(m_waterY, m_h);
        m_ridges.assign(size_t(spec.HillLayers), std::vector<float>(size_t(w)));
        for (int32_t layer = 0; layer < spec.HillLayers; ++layer) {
            const float depth = spec.HillLayers > 1 ? float(layer) / float(spec.HillLayers - 1) : 1.0f;
            const float base = spec.Horizon * m_h + depth * (bottom - spec.Horizon * m_h) * 0.55f;
            const float amplitude = m_h * (0.20f - 0.07f * depth);
            const uint32_t seed = spec.Seed * 31 + uint32_t(layer) * 7919;
            for (int32_t x = 0; x < w; ++x) {
                const float u = float(x) / m_h;
                // Noise sits near 0.5; stretching it gives peaks and saddles rather
                // than a gently rolling line.
                const float n = Fbm(u * (1.2f + depth * 1.5f), 0.37f, 6, seed);
                m_ridges[size_t(layer)][size_t(x)] = base - amplitude * 2.2f * std::max(0.0f, n - 0.25f);
            }
        }
        // Pines stand on the nearest ridge, spread by a seeded generator.
        TRandom random(spec.Seed * 977 + 13);
        for (int32_t i = 0; i < spec.Pines; ++i) {
            const float x = random.Next() * float(w);
            const float base = m_ridges.empty() ? m_h : m_ridges.back()[size_t(std::clamp(int32_t(x), 0, w - 1))] + m_h * 0.02f;
            const float height = m_h * (0.12f + 0.18f * random.Next());
            m_pines.push_back({x, base, base - height, height * 0.22f});
        }
        std::sort(m_pines.begin(), m_pines.end(), [](const TPine& a, const TPine& b) { return a.Base < b.Base; });
    }

    TRgb Pixel(int32_t x, int32_t y) const {
        if (float(y) < m_waterY) return Land(x, float(y));
        // The lake mirrors the land about the shore line, broken by ripples
        // that grow towards the viewer.
        const float below = float(y) - m_waterY;
        const float u = float(x) / m_h, v = float(y) / m_h;
        const float ripple = (Fbm(u * 6.0f, v * 60.0f, 3, m_spec.Seed + 5) - 0.5f) * (4.0f + below * 0.08f);
        const float mirrored = std::clamp(m_waterY - below - 1.0f + ripple, 0.0f, m_waterY - 1.0f);
        const int32_t mx = std::clamp(int32_t(float(x) + ripple * 0.5f), 0, m_spec.Width - 1);
        TRgb colour = Land(mx, mirrored);
        const float depth = std::min(1.0f, below / std::max(1.0f, m_h - m_waterY));
        colour = Mix(colour, m_spec.WaterTint, 0.25f + 0.45f * depth);
        // Glints on the path from the sun to the viewer.
        const float sunX = m_spec.SunX * float(m_spec.Width);
        const float off = (float(x) - sunX) / (m_h * (0.03f + 0.12f * depth));
        const float path = std::exp(-off * off);
        if (path < 0.002f) return colour;  // the noise below would not show
        const float sparkle = Smooth(0.62f, 0.8f, Fbm(u * 30.0f, v * 160.0f, 2, m_spec.Seed + 9));
        return Mix(colour, m_spec.Sun, path * sparkle * 0.8f);
    }

private:
    TRgb Land(int32_t x, float y) const {
        for (auto pine = m_pines.rbegin(); pine != m_pines.rend(); ++pine) {
            if (y < pine->Top || y > pine->Base) continue;
            const float along = (y - pine->Top) / (pine->Base - pine->Top);
            // Tiers of branches: the outline widens in steps down the trunk.
            const float tier = along * 4.0f - std::floor(along * 4.0f);
            const float half = pine->HalfWidth * (0.25f + 0.75f * along) * (0.55f + 0.45f * tier);
            if (std::fabs(float(x) - pine->X) < half)
                return Mix(Scale(m_spec.NearHill, 0.35f), m_spec.SkyHorizon, 0.05f);
        }
        for (int32_t layer = m_spec.HillLayers - 1; layer >= 0; --layer) {
            const float ridge = m_ridges[size_t(layer)][size_t(x)];
            if (y < ridge) continue;
            const float depth = m_spec.HillLayers > 1 ? float(layer) / float(m_spec.HillLayers - 1) : 1.0f;
            TRgb colour = Mix(m_spec.FarHill, m_spec.NearHill, depth);
            const float u = float(x) / m_h, v = y / m_h;
            const float grain = Fbm(u * 25.0f, v * 25.0f, 3, m_spec.Seed + 17 + uint32_t(layer));
            colour = Scale(colour, 0.78f + 0.4f * grain * (0.4f + 0.6f * depth));
            // Light falls from above: slopes just under the ridge are brightest.
            colour = Scale(colour, 1.08f - 0.25f * Smooth(0.0f, m_h * 0.25f, y - ridge));
            // Haze: far ridges take the colour of the horizon.
            return Mix(colour, m_spec.SkyHorizon, (1.0f - depth) * 0.45f);
        }
        return Sky(x, y);
    }

    TRgb Sky(int32_t x, float y) const {
        const float horizonY = std::max(1.0f, m_spec.Horizon * m_h + m_h * 0.1f);
        const float t = std::clamp(y / horizonY, 0.0f, 1.0f);
        TRgb colour = Mix(m_spec.SkyTop, m_spec.SkyHorizon, std::pow(t, 0.8f));
        const float u = float(x) / m_h, v = y / m_h;
        if (m_spec.Stars) {
            const uint32_t h = Hash(x, int32_t(y), m_spec.Seed);
            if ((h & 0xFFFF) < 40) colour = Mix(colour, {255, 250, 235}, float((h >> 16) & 0xFF) / 255.0f * (1 - t));
        }
        const float dx = float(x) - m_spec.SunX * float(m_spec.Width), dy = y - m_spec.SunY * m_h;
        const float d = std::sqrt(dx * dx + dy * dy) / m_h;
        colour = Mix(colour, m_spec.Sun, 0.55f * std::exp(-d / (m_spec.SunRadius * 4.0f)));
        if (m_spec.Clouds > 0) {
            const float n = Fbm(u * 2.5f, v * 7.0f, 5, m_spec.Seed + 3);
            const float cover = Smooth(0.64f - m_spec.Clouds * 0.3f, 0.84f - m_spec.Clouds * 0.3f, n) * (1.0f - 0.6f * t);
            const TRgb cloud = Mix(Mix(m_spec.SkyHorizon, {250, 250, 252}, 0.7f), m_spec.Sun, 0.15f);
            colour = Mix(colour, Scale(cloud, 0.85f + 0.3f * n), cover * 0.85f);
        }
        // The disc goes over thin clouds, with a soft rim.
        colour = Mix(colour, m_spec.Sun, Smooth(m_spec.SunRadius, m_spec.SunRadius * 0.85f, d));
        return colour;
    }

    const TLandscapeSpec& m_spec;
    float m_h;
    float m_waterY;
    std::vector<std::vector<float>> m_ridges;  // per layer, the ridge's row for every column
    std::vector<TPine> m_pines;                 // farthest first
};

uint8_t ToByte(float value) { return uint8_t(std::clamp(value + 0.5f, 0.0f, 255.0f)); }

}  // namespace

std::unique_ptr<ql::TBitmap> PaintLandscape(const TLandscapeSpec& spec) {
    auto bitmap = ql::CreateBitmap(spec.Width, spec.Height, ql::PfRGB24());
    const TPainter painter(spec);
    for (int32_t y = 0; y < spec.Height; ++y) {
        uint8_t* row = bitmap->Row(y);
        for (int32_t x = 0; x < spec.Width; ++x, row += 3) {
            const TRgb c = painter.Pixel(x, y);
            // A faint grain, as film or a sensor would leave.
            const float grain = float(Hash(x, y, spec.Seed ^ 0x5A5A5A5Au) & 0xFF) / 255.0f * 6.0f - 3.0f;
            row[0] = ToByte(c.b + grain);
            row[1] = ToByte(c.g + grain);
            row[2] = ToByte(c.r + grain);
        }
    }
    return bitmap;
}

}  // namespace orb::demo
