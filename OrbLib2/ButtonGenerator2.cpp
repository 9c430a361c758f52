#include "OrbLib2/ButtonGenerator2.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "OrbLib2/qlHslShift.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/VectorGraphics/qlTextProducer2.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

constexpr const char16_t* kStateSections[3] = {u"NormalState", u"HoverState", u"ClickState"};
constexpr const char16_t* kPartKeys[kButtonPartCount] = {u"LeftTop",    u"Top",         u"RightTop",
                                                         u"Right",      u"RightBottom", u"Bottom",
                                                         u"LeftBottom", u"Left",        u"Center"};
// Error pictures are set in the default font at this size.
constexpr float kErrorTextPixels = 12;
// Each cache entry costs its name and bookkeeping as well as its pixels, so
// that a flood of missing pictures is bounded too.
constexpr int64_t kEntryOverhead = 256;

int32_t NumberOrZero(std::u16string_view text) {
    return ql::TryStrToInt(ql::TrimBlanks(text)).value_or(0);
}

// "file,left,top,right,bottom": a field that is not a number reads as 0,
// fields after the fifth are ignored.
TBtnIniString ParsePart(std::u16string_view value) {
    std::vector<std::u16string_view> fields;
    size_t start = 0;
    while (fields.size() < 5) {
        const size_t comma = value.find(u',', start);
        fields.push_back(value.substr(
            start, comma == std::u16string_view::npos ? std::u16string_view::npos : comma - start));
        if (comma == std::u16string_view::npos) break;
        start = comma + 1;
    }
    fields.resize(5);
    TBtnIniString part;
    part.FileName = ql::TrimBlanks(fields[0]);
    part.Rect = {NumberOrZero(fields[1]), NumberOrZero(fields[2]), NumberOrZero(fields[3]),
                 NumberOrZero(fields[4])};
    return part;
}

// "r,g,b" (each clamped to 0..255) or one Windows colour value (red in the
// low byte); anything else keeps black. 0xFFRRGGBB.
uint32_t ParseColour(std::u16string_view text) {
    const uint32_t black = 0xFF000000;
    if (text.find(u',') == std::u16string_view::npos) {
        const std::optional<int64_t> value = ql::TryStrToInt64(ql::TrimBlanks(text));
        if (!value || *value < 0 || *value > 0xFFFFFFFFll) return black;
        const uint32_t v = uint32_t(*value);
        return black | (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF);
    }
    int32_t c[3];
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t comma = text.find(u',', start);
        if ((i < 2) == (comma == std::u16string_view::npos)) return black;
        const auto v = ql::TryStrToInt(ql::TrimBlanks(text.substr(start, comma - start)));
        if (!v) return black;
        c[i] = std::clamp(*v, 0, 255);
        start = comma + 1;
    }
    return black | uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | uint32_t(c[2]);
}

int32_t PartWidth(const ql::TRect& r) {
    return std::max(0, int32_t(std::clamp<int64_t>(int64_t(r.right) - r.left, 0, INT32_MAX)));
}
int32_t PartHeight(const ql::TRect& r) {
    return std::max(0, int32_t(std::clamp<int64_t>(int64_t(r.bottom) - r.top, 0, INT32_MAX)));
}

inline uint32_t Pixel(const ql::TBitmap& b, int32_t x, int32_t y) {
    uint32_t p;
    std::memcpy(&p, b.Row(y) + size_t(x) * 4, 4);
    return p;
}

// Source rows [rows.top, rows.bottom) of column `column`, each repeated over
// target columns [x0, x1) at target row y + dy. Clipped on both sides.
void StretchColumn(const ql::TBitmap& src, int32_t column, int32_t y0, int32_t y1, int64_t dy,
                   ql::TBitmap& dst, int32_t x0, int32_t x1) {
    if (column < 0 || column >= src.Width()) return;
    x0 = std::max(x0, 0);
    x1 = std::min(x1, dst.Width());
    if (x1 <= x0) return;
    y0 = std::max(y0, 0);
    y1 = std::min(y1, src.Height());
    for (int32_t y = y0; y < y1; ++y) {
        const int64_t ty = y + dy;
        if (ty < 0 || ty >= dst.Height()) continue;
        const uint32_t p = Pixel(src, column, y);
        uint32_t* out = reinterpret_cast<uint32_t*>(dst.Row(int32_t(ty)));
        std::fill(out + x0, out + x1, p);
    }
}

// Source pixels of columns [x0, x1) and rows [y0, y1) copied to (x + dx, y + dy).
void CopyBlock(const ql::TBitmap& src, int32_t x0, int32_t x1, int32_t y0, int32_t y1, int64_t dx,
               int64_t dy, ql::TBitmap& dst) {
    x0 = int32_t(std::max<int64_t>({x0, 0, -dx}));
    x1 = int32_t(std::min<int64_t>({x1, src.Width(), dst.Width() - dx}));
    y0 = int32_t(std::max<int64_t>({y0, 0, -dy}));
    y1 = int32_t(std::min<int64_t>({y1, src.Height(), dst.Height() - dy}));
    if (x1 <= x0) return;
    for (int32_t y = y0; y < y1; ++y)
        std::memcpy(dst.Row(int32_t(y + dy)) + size_t(x0 + dx) * 4, src.Row(y) + size_t(x0) * 4,
                    size_t(x1 - x0) * 4);
}

std::unique_ptr<ql::TBitmap> RenderErrorText(const std::u16string& text) {
    try {
        ql::TTextProducer producer;
        // An empty font name is the default font (DejaVu Sans when nothing
        // else is configured).
        producer.SetText(std::make_unique<ql::TSimpleVectorText>(std::vector<std::u16string>{text},
                                                                 u"", kErrorTextPixels));
        std::unique_ptr<ql::TBitmap> picture =
            producer.Render(0xFF000000, 0x00000000, {0, 0}, false, false, 1);
        if (picture && picture->Width() > 0 && picture->Height() > 0) return picture;
    } catch (const ql::Exception&) {
    }
    // Without any font the button still gets a picture: one clear pixel.
    auto pixel = std::make_unique<ql::TDirectBitmap>(1, 1, ql::PfARGB32());
    pixel->FillRect(pixel->Bounds(), 0);
    return pixel;
}

}  // namespace

std::u16string ButtonFacePictureName(const TButtonFaceRequest& r) {
    std::u16string name = kButtonPicturePrefix;
    name += r.Theme;
    for (int32_t v : {r.State, r.Width, r.Hue, r.Saturation, r.Lightness}) {
        name += u':';
        name += ql::IntToStr(v);
    }
    return name;
}

// Names are split at ":", but a theme folder may hold one itself
// ("C:\Themes\aqua"); the five numbers are the last five fields, so they are
// taken from the right and whatever is left is the theme.
bool ParseButtonFacePictureName(std::u16string_view name, TButtonFaceRequest& request) {
    const std::u16string_view prefix = kButtonPicturePrefix;
    if (name.substr(0, prefix.size()) != prefix) return false;
    std::u16string_view rest = name.substr(prefix.size());
    int32_t fields[5];
    for (int i = 4; i >= 0; --i) {
        const size_t colon = rest.rfind(u':');
        if (colon == std::u16string_view::npos) return false;
        fields[i] = NumberOrZero(rest.substr(colon + 1));
        rest = rest.substr(0, colon);
    }
    request.Theme = std::u16string(rest);
    request.State = fields[0];
    request.Width = fields[1];
    request.Hue = fields[2];
    request.Saturation = fields[3];
    request.Lightness = fields[4];
    return true;
}

// ---------------------------------------------------------------------------

THashBitmaps::THashBitmaps(TOpener opener, int64_t byteLimit)
    : m_opener(std::move(opener)), m_limit(std::max<int64_t>(0, byteLimit)) {}

THashBitmaps::~THashBitmaps() = default;

std::shared_ptr<const ql::TBitmap> THashBitmaps::Get(const std::u16string& name) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const auto found = m_entries.find(name);
        if (found != m_entries.end()) {
            m_uses.splice(m_uses.begin(), m_uses, found->second.Use);
            return found->second.Bitmap;
        }
    }
    // Opening and decoding happen outside the lock, so that one slow picture
    // does not hold up faces of other themes; a second thread asking for the
    // same picture meanwhile decodes it too and the first one stored wins.
    std::shared_ptr<const ql::TBitmap> bitmap;
    try {
        if (m_opener) {
            if (ql::TRef<ql::TBitmapStore> store = m_opener(name)) {
                if (const auto level = store->ShareBitmap(0, ql::PfARGB32()))
                    bitmap = ql::CreateBitmap(level->Width(), level->Height(), ql::PfARGB32(), {},
                                              level.get(), ql::TBitmapClass::DirectBitmap);
            }
        }
    } catch (const ql::Exception&) {
        bitmap.reset();  // a damaged picture is a missing one
    }
    if (bitmap && bitmap->PixelFormat() != ql::PfARGB32()) bitmap.reset();

    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_entries.find(name);
    if (found != m_entries.end()) {
        m_uses.splice(m_uses.begin(), m_uses, found->second.Use);
        return found->second.Bitmap;
    }
    TEntry entry;
    entry.Bitmap = bitmap;
    entry.Bytes = kEntryOverhead + int64_t(name.size()) * 2 +
                  (bitmap ? int64_t(bitmap->Width()) * bitmap->Height() * 4 : 0);
    m_uses.push_front(name);
    entry.Use = m_uses.begin();
    m_bytes += entry.Bytes;
    m_entries.emplace(name, std::move(entry));
    Trim(&name);
    return bitmap;
}

// Drops the least recently used entries until the bytes fit; `keep` goes
// last, and is not kept either when it alone is over the limit.
void THashBitmaps::Trim(const std::u16string* keep) {
    auto drop = [this](std::list<std::u16string>::iterator use) {
        const auto found = m_entries.find(*use);
        m_bytes -= found->second.Bytes;
        m_entries.erase(found);
        m_uses.erase(use);
    };
    while (m_bytes > m_limit && !m_uses.empty()) {
        auto oldest = std::prev(m_uses.end());
        if (keep && *oldest == *keep && m_uses.size() > 1) oldest = std::prev(oldest);
        drop(oldest);
    }
}

void THashBitmaps::SetByteLimit(int64_t bytes) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_limit = std::max<int64_t>(0, bytes);
    Trim(nullptr);
}

int64_t THashBitmaps::ByteLimit() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_limit;
}

int64_t THashBitmaps::Bytes() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bytes;
}

size_t THashBitmaps::Count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_entries.size();
}

void THashBitmaps::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_entries.clear();
    m_uses.clear();
    m_bytes = 0;
}

// ---------------------------------------------------------------------------

TButtonProducer::TButtonProducer(std::u16string theme, THashBitmaps* cache, TButtonThemeFiles files)
    : m_theme(std::move(theme)), m_cache(cache), m_files(std::move(files)) {}

TButtonProducer::~TButtonProducer() = default;

void TButtonProducer::LoadTheme(ql::TStream& description) {
    ql::TIniFile ini;
    ini.LoadFromStream(description);
    for (int32_t state = 0; state < 3; ++state)
        for (int32_t part = 0; part < kButtonPartCount; ++part)
            m_parts[size_t(state)][size_t(part)] =
                ParsePart(ini.ReadString(kStateSections[state], kPartKeys[part], u""));
    m_captionColour = ParseColour(ini.ReadString(u"TextParams", u"Color", u""));
    const auto real = [&](const char16_t* key) {
        const double v = ini.ReadReal(u"TextParams", key, 0);
        return std::isfinite(v) && std::fabs(v) < 1e9 ? float(v) : 0.0f;
    };
    m_btnOffset = real(u"BtnOffset");
    m_btnMinWidth = real(u"BtnMinWidth");
    const std::u16string filtering =
        ql::TrimBlanks(ini.ReadString(u"TextParams", u"Filtering", u"Default"));
    m_filtering = ql::SameTextIgnoringCase(filtering, u"Nearest")    ? 0
                  : ql::SameTextIgnoringCase(filtering, u"Bilinear") ? 1
                                                                     : 2;
    m_naturalSize = {m_parts[bsNormal][bpRight].Rect.right,
                     m_parts[bsNormal][bpBottom].Rect.bottom};
    m_loaded = true;
}

const std::array<TBtnIniString, kButtonPartCount>& TButtonProducer::Parts(int32_t state) const {
    return m_parts[size_t(state >= bsNormal && state <= bsClick ? state : bsNormal)];
}

TButtonFace TButtonProducer::ErrorFace(const std::u16string& text, const std::u16string& name) {
    TButtonFace face;
    face.ErrorText = text;
    face.Picture = ql::MakeRef<ql::TWrapperBitmapStore>(RenderErrorText(text), name);
    return face;
}

TButtonFace TButtonProducer::MakeFace(int32_t state, int32_t width, int32_t lightness,
                                      int32_t saturation, int32_t hue,
                                      const ql::TProgressHandler& progress) const {
    TButtonFace face = MakeFaceStrip(state, width, lightness, saturation, hue, progress);
    if (!face.Picture && face.Strip.Columns)
        face.Picture = ql::MakeRef<ql::TWrapperBitmapStore>(
            ButtonFaceLevel(face.Strip, 0),
            ButtonFacePictureName({m_theme, state, width, hue, saturation, lightness}));
    face.Strip = {};
    return face;
}

TButtonFace TButtonProducer::MakeFaceStrip(int32_t state, int32_t width, int32_t lightness,
                                           int32_t saturation, int32_t hue,
                                           const ql::TProgressHandler& progress) const {
    const std::u16string name =
        ButtonFacePictureName({m_theme, state, width, hue, saturation, lightness});
    if (!m_cache || !m_loaded) return ErrorFace(kButtonFileOpenError, name);
    const auto& parts = Parts(state);
    const auto rect = [&](TButtonPart p) { return parts[size_t(p)].Rect; };

    const int32_t height = m_naturalSize.y;
    const int64_t leftSide = std::clamp<int64_t>(rect(bpLeft).right, 0, kMaxButtonFaceWidth + 1);
    const int64_t sides = leftSide + PartWidth(rect(bpRight));
    if (height < 1 || height > kMaxButtonFaceHeight || sides > kMaxButtonFaceWidth)
        return ErrorFace(kButtonSizeError, name);
    const int32_t w =
        int32_t(std::clamp<int64_t>(width, std::max<int64_t>(sides, 1), kMaxButtonFaceWidth));

    std::array<std::shared_ptr<const ql::TBitmap>, kButtonPartCount> pictures;
    for (int32_t p = 0; p < kButtonPartCount; ++p) {
        const std::u16string full = m_theme + u"\\" + parts[size_t(p)].FileName;
        pictures[size_t(p)] = m_cache->Get(full);
        if (!pictures[size_t(p)]) return ErrorFace(kButtonImageError + full, name);
    }

    // The left-anchored parts reach no further than `fixed` whatever the
    // width, the right-anchored ones start at the inner right edge, and the
    // stretched parts repeat one column between: a face wider than its sides
    // and one middle column is that narrow face with the column repeated.
    int64_t fixed = leftSide;
    for (TButtonPart p : {bpLeft, bpLeftTop, bpLeftBottom})
        fixed = std::max<int64_t>(fixed, rect(p).right);
    const int64_t rightWidth = PartWidth(rect(bpRight));
    const bool narrowed = fixed + 1 + rightWidth < w;
    const int32_t composed = narrowed ? int32_t(fixed + 1 + rightWidth) : w;

    auto face = std::make_unique<ql::TDirectBitmap>(composed, height, ql::PfARGB32());
    face->FillRect(face->Bounds(), 0);
    const int32_t innerLeft = int32_t(std::min<int64_t>(leftSide, composed));
    const int32_t innerTop = std::clamp(rect(bpTop).bottom, 0, height);
    const int32_t innerRight = std::clamp(composed - PartWidth(rect(bpRight)), innerLeft, composed);
    const int32_t innerBottom = std::clamp(height - PartHeight(rect(bpBottom)), innerTop, height);

    // Parts in order, later ones over earlier ones. The copies clip to the
    // part's picture and to the face, so a rectangle reaching outside its
    // picture copies only what exists; one turned inside out copies nothing.
    // Offsets come from the rectangles as written.
    for (TButtonPart p : {bpCenter, bpTop, bpBottom, bpLeft, bpRight, bpLeftTop, bpRightTop,
                          bpRightBottom, bpLeftBottom}) {
        const ql::TRect r = rect(p);
        if (r.right <= r.left || r.bottom <= r.top) continue;
        const ql::TBitmap& src = *pictures[size_t(p)];
        const int64_t toRight = int64_t(innerRight) - r.left,
                      toBottom = int64_t(innerBottom) - r.top;
        switch (p) {
            case bpCenter:  // one source column, at the face's own rows
                StretchColumn(src, r.left, innerTop, innerBottom, 0, *face, innerLeft, innerRight);
                break;
            case bpTop:
                StretchColumn(src, r.left, r.top, r.bottom, 0, *face, innerLeft, innerRight);
                break;
            case bpBottom:
                StretchColumn(src, r.left, r.top, r.bottom, toBottom, *face, innerLeft, innerRight);
                break;
            case bpLeft:  // the part's columns at the face's inner rows
                CopyBlock(src, r.left, r.right, innerTop, innerBottom, 0, 0, *face);
                break;
            case bpRight:
                CopyBlock(src, r.left, r.right, innerTop, innerBottom, toRight, 0, *face);
                break;
            case bpLeftTop:
                CopyBlock(src, r.left, r.right, r.top, r.bottom, 0, 0, *face);
                break;
            case bpRightTop:
                CopyBlock(src, r.left, r.right, r.top, r.bottom, toRight, 0, *face);
                break;
            case bpRightBottom:
                CopyBlock(src, r.left, r.right, r.top, r.bottom, toRight, toBottom, *face);
                break;
            case bpLeftBottom:
                CopyBlock(src, r.left, r.right, r.top, r.bottom, 0, toBottom, *face);
                break;
        }
    }

    TButtonFace result;
    // The shift goes pixel by pixel, so shifting the distinct columns shifts
    // the face.
    result.Cancelled = !HslShiftBitmap(*face, {hue, saturation, lightness}, progress);
    result.Strip.Width = w;
    result.Strip.FixedColumns = narrowed ? int32_t(fixed) : w;
    result.Strip.InnerRight = narrowed ? w - int32_t(rightWidth) : w;
    result.Strip.Columns = std::move(face);
    return result;
}

namespace {

// The strip column face column x comes from.
int32_t StripColumn(const TButtonFaceStrip& strip, int64_t x) {
    if (x < strip.FixedColumns) return int32_t(x);
    if (x < strip.InnerRight) return strip.FixedColumns;
    return int32_t(x - strip.InnerRight + strip.FixedColumns + 1);
}

// The face of a strip halved as the picture store halves a level (a 1 2 1
// filter each way, sides rounded up), kept as a strip again: output columns
// whose three source columns all lie in the repeated middle are alike, so
// only those on either side and one middle column are worked out.
TButtonFaceStrip HalveStrip(const TButtonFaceStrip& strip) {
    const ql::TBitmap& columns = *strip.Columns;
    const int32_t w = strip.Width, h = columns.Height(), n = columns.Width();
    const int32_t halfW = (w + 1) / 2, halfH = (h + 1) / 2;
    TButtonFaceStrip half;
    half.Width = halfW;
    half.FixedColumns = half.InnerRight = halfW;
    if (strip.FixedColumns < strip.InnerRight) {
        // The first column whose left source is in the middle, and the first
        // whose right source is past it.
        const int32_t fixed = (strip.FixedColumns + 2) / 2, innerRight = strip.InnerRight / 2;
        if (fixed < innerRight) {
            half.FixedColumns = fixed;
            half.InnerRight = innerRight;
        }
    }
    const bool narrowed = half.FixedColumns < half.InnerRight;
    const int32_t made = narrowed ? half.FixedColumns + 1 + (halfW - half.InnerRight) : halfW;
    auto out = std::make_unique<ql::TDirectBitmap>(made, halfH, ql::PfARGB32());
    std::vector<uint16_t> sums(size_t(n) * 4);
    for (int32_t y = 0; y < halfH; ++y) {
        const int32_t cy = 2 * y;
        const uint8_t* up = columns.Row(std::max(cy - 1, 0));
        const uint8_t* mid = columns.Row(cy);
        const uint8_t* down = columns.Row(std::min(cy + 1, h - 1));
        for (size_t i = 0; i < sums.size(); ++i) sums[i] = uint16_t(up[i] + 2 * mid[i] + down[i]);
        uint8_t* target = out->Row(y);
        for (int32_t j = 0; j < made; ++j) {
            // The face column this strip column stands for.
            const int64_t x = !narrowed || j <= half.FixedColumns
                                  ? j
                                  : int64_t(j) - half.FixedColumns - 1 + half.InnerRight;
            const int64_t cx = 2 * x;
            const uint16_t* left =
                &sums[size_t(StripColumn(strip, std::max<int64_t>(cx - 1, 0))) * 4];
            const uint16_t* centre = &sums[size_t(StripColumn(strip, cx)) * 4];
            const uint16_t* right =
                &sums[size_t(StripColumn(strip, std::min<int64_t>(cx + 1, w - 1))) * 4];
            for (size_t c = 0; c < 4; ++c)
                target[size_t(j) * 4 + c] = uint8_t((left[c] + 2 * centre[c] + right[c]) >> 4);
        }
    }
    half.Columns = std::move(out);
    return half;
}

}  // namespace

std::unique_ptr<ql::TBitmap> ButtonFaceLevel(const TButtonFaceStrip& strip, int32_t level) {
    if (!strip.Columns || strip.Width < 1 || strip.Columns->Width() < 1 ||
        strip.Columns->Height() < 1)
        return nullptr;
    TButtonFaceStrip face = strip;
    for (int32_t i = 0; i < level && (face.Width > 1 || face.Columns->Height() > 1); ++i)
        face = HalveStrip(face);
    const int32_t w = face.Width, h = face.Columns->Height();
    auto out = std::make_unique<ql::TDirectBitmap>(w, h, ql::PfARGB32());
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* in = face.Columns->Row(y);
        uint8_t* target = out->Row(y);
        for (int32_t x = 0; x < w; ++x)
            std::memcpy(target + size_t(x) * 4, in + size_t(StripColumn(face, x)) * 4, 4);
    }
    return out;
}

// ---------------------------------------------------------------------------

TButtonProducerHost::TButtonProducerHost(TButtonThemeFiles files) : m_files(std::move(files)) {
    if (m_files.OpenPicture) m_cache = std::make_unique<THashBitmaps>(m_files.OpenPicture);
}

TButtonProducerHost::~TButtonProducerHost() = default;

TButtonProducer& TButtonProducerHost::ProducerFor(const std::u16string& themeFolder) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_producers.rbegin(); it != m_producers.rend(); ++it)
        if ((*it)->Theme() == themeFolder) return **it;
    auto producer = std::make_unique<TButtonProducer>(themeFolder, m_cache.get(), m_files);
    try {
        if (m_files.OpenFile) {
            if (std::unique_ptr<ql::TStream> description =
                    m_files.OpenFile(themeFolder + u"\\" + kButtonThemeDescription))
                producer->LoadTheme(*description);
        }
    } catch (const ql::Exception&) {
        // A description that cannot be read leaves the theme unloaded; its
        // faces are error pictures.
    }
    m_producers.push_back(std::move(producer));
    return *m_producers.back();
}

ql::TRef<ql::TBitmapStore> TButtonProducerHost::MakePicture(const std::u16string& faceName) {
    TButtonFaceRequest request;
    if (!ParseButtonFacePictureName(faceName, request)) return nullptr;
    return ProducerFor(request.Theme)
        .MakeFace(request.State, request.Width, request.Lightness, request.Saturation, request.Hue)
        .Picture;
}

}  // namespace orb
