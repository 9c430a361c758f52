#include "OrbLib2/OrbClasses/qlOrbTextPicture.h"

#include <cmath>

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
                                                const ql::TEntryOpener& opener, ql::TFontCache& fonts,
                                                TVectorTextOrigin* origin) {
    if (origin) *origin = TVectorTextOrigin::None;
    const std::vector<std::u16string> bounded = BoundedLines(lines);
    if (opener) {
        if (std::unique_ptr<ql::TStream> entry = opener(VectorTextName(params.FontName, params.Style, bounded))) {
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

ql::TRef<ql::TBitmapStore> MakeTextPicture(const std::u16string& name, const ql::TEntryOpener& opener,
                                           ql::TFontCache& fonts, const ql::TProgressHandler& progress) {
    std::optional<TTextPictureRequest> request = ParseTextPictureName(name);
    if (!request) return nullptr;
    std::unique_ptr<ql::TVectorText> text = MakeVectorText(request->Params, request->Lines, opener, fonts);
    if (!text) return nullptr;
    // A text without height has nothing to draw; the picture would be empty.
    if (!(LaidOutSize(*text, request->Params).y > 0)) return nullptr;
    const float scale = float(request->Scale);
    if (!(scale > 0) || !std::isfinite(scale)) return nullptr;

    ql::TTextProducer producer;
    producer.SetText(text.get());
    producer.LineSpacing = request->Params.LineSpacing;
    producer.Alignment = request->Params.Alignment;
    bool cancelled = false;
    ql::TProgressHandler watch;
    if (progress) {
        watch = [&](float fraction) {
            cancelled = !progress(fraction);
            return !cancelled;
        };
    }
    const uint32_t colour = request->Params.Color;
    std::unique_ptr<ql::TBitmap> bitmap;
    try {
        bitmap = producer.Render(colour, colour & 0x00FFFFFF,
                                 {float(request->OffsetX), float(request->OffsetY)},
                                 (request->Params.Style & kFontUnderline) != 0,
                                 (request->Params.Style & kFontStrikeOut) != 0, scale, watch);
    } catch (const ql::TCommonException& error) {
        ql::GlobalLog().WriteLine(u"Text not drawn: " + ql::FromUtf8(error.what()));
        return nullptr;
    }
    if (cancelled || !bitmap) return nullptr;
    return ql::MakeRef<ql::TWrapperBitmapStore>(std::move(bitmap), name);
}

}  // namespace orb
