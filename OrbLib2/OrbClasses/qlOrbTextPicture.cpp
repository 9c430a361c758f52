#include "OrbLib2/OrbClasses/qlOrbTextPicture.h"

#include <cmath>
#include <memory>

#include "OrbLib2/OrbClasses/qlOrbGeneratedPicture.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

std::vector<std::u16string> BoundedLines(const std::vector<std::u16string>& lines) {
    if (lines.size() <= kMaxTextLines) return lines;
    return std::vector<std::u16string>(lines.begin(), lines.begin() + kMaxTextLines);
}

}  // namespace

std::unique_ptr<ql::TVectorText> MakeVectorText(const TTextParams& params,
                                                const std::vector<std::u16string>& lines,
                                                const ql::TEntryOpener& opener,
                                                ql::TFontCache& fonts, TVectorTextOrigin* origin) {
    if (origin) *origin = TVectorTextOrigin::None;
    const std::vector<std::u16string> bounded = BoundedLines(lines);
    if (opener) {
        if (std::unique_ptr<ql::TStream> entry =
                opener(VectorTextName(params.FontName, params.Style, bounded))) {
            // A damaged entry or a missing glyph falls back to the installed font.
            if (auto stored = ql::LoadCachedVectorText(*entry, fonts)) {
                if (origin) *origin = TVectorTextOrigin::Stored;
                return stored;
            }
        }
    }
    try {
        auto installed = std::make_unique<ql::TSimpleVectorText>(
            bounded, params.FontName, kInstalledTextSize, (params.Style & kFontBold) != 0,
            (params.Style & kFontItalic) != 0);
        if (origin) *origin = TVectorTextOrigin::InstalledFont;
        return installed;
    } catch (const ql::TCommonException& error) {
        ql::GlobalLog().WriteLine(u"Text not set: " + ql::FromUtf8(error.what()));
        return nullptr;
    }
}

ql::TPointF LaidOutSize(const ql::TVectorText& text, const TTextParams& params) {
    ql::TTextProducer producer;
    producer.SetText(&text);
    producer.LineSpacing = params.LineSpacing;
    producer.Alignment = params.Alignment;
    try {
        const ql::TTextLayout layout = producer.Layout(1);
        return {layout.Width, layout.Height};
    } catch (const ql::TCommonException&) {
        return {0, 0};
    }
}

ql::TRef<ql::TBitmapStore> MakeTextPicture(const std::u16string& name,
                                           const ql::TEntryOpener& opener, ql::TFontCache& fonts,
                                           const ql::TProgressHandler& progress) {
    std::optional<TTextPictureRequest> request = ParseTextPictureName(name);
    if (!request) return nullptr;
    std::unique_ptr<ql::TVectorText> text =
        MakeVectorText(request->Params, request->Lines, opener, fonts);
    if (!text) return nullptr;
    // A text without height has nothing to draw; the picture would be empty.
    if (!(LaidOutSize(*text, request->Params).y > 0)) return nullptr;
    const float scale = float(request->Scale);
    if (!(scale > 0) || !std::isfinite(scale)) return nullptr;

    // The picture is made level by level at the size a drawer asks for, as
    // generated masks are: a long text at a large scale is named at a size
    // that no screen shows whole.
    const std::shared_ptr<const ql::TVectorText> shared(std::move(text));
    const TTextPictureRequest r = *request;
    auto setUp = [shared, r](ql::TTextProducer& producer) {
        producer.SetText(shared.get());
        producer.LineSpacing = r.Params.LineSpacing;
        producer.Alignment = r.Params.Alignment;
    };
    ql::TTextLayout layout;
    try {
        ql::TTextProducer producer;
        setUp(producer);
        layout = producer.Layout(scale);
    } catch (const ql::TCommonException& error) {
        ql::GlobalLog().WriteLine(u"Text not drawn: " + ql::FromUtf8(error.what()));
        return nullptr;
    }
    if (layout.PictureWidth < 1 || layout.PictureHeight < 1) return nullptr;
    if (progress && !progress(0)) return nullptr;
    TLevelMaker maker = [setUp, r, scale](int32_t level, ql::TPoint size,
                                          const ql::TProgressHandler& watch) {
        const float k = std::ldexp(1.0f, -level);
        const uint32_t colour = r.Params.Color;
        std::unique_ptr<ql::TBitmap> made;
        try {
            ql::TTextProducer producer;
            setUp(producer);
            made = producer.Render(colour, colour & 0x00FFFFFF,
                                   {float(r.OffsetX) * k, float(r.OffsetY) * k},
                                   (r.Params.Style & kFontUnderline) != 0,
                                   (r.Params.Style & kFontStrikeOut) != 0, scale * k, watch);
        } catch (const ql::TCommonException& error) {
            ql::GlobalLog().WriteLine(u"Text not drawn: " + ql::FromUtf8(error.what()));
            return std::unique_ptr<ql::TBitmap>();
        }
        if (!made || (made->Width() == size.x && made->Height() == size.y)) return made;
        // Set at a fraction of the scale, the picture's rounding (and its one
        // pixel of margin) may differ by a pixel from the level's halved size.
        std::unique_ptr<ql::TBitmap> fitted = ql::CreateBitmap(size.x, size.y, made->PixelFormat());
        fitted->FillRect(fitted->Bounds(), colour & 0x00FFFFFF);
        fitted->CopyRect(ql::IntersectRect(made->Bounds(), fitted->Bounds()), *made, {0, 0});
        return fitted;
    };
    return ql::MakeRef<TGeneratedBitmapStore>(name,
                                              ql::TPoint{layout.PictureWidth, layout.PictureHeight},
                                              ql::PfARGB32(), std::move(maker));
}

}  // namespace orb
