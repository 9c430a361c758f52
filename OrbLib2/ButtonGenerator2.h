// Button faces from button themes. A theme is a folder holding a description
// ("btn.ini") and small picture sheets; the description says which rectangle
// of which picture is each of the nine parts of a face (corners, edges,
// centre) in the normal, hover and click states. A face of any width is
// composed from the parts (only the width stretches), shifted in hue,
// saturation and lightness, and handed back as a picture named after what it
// shows, so equal faces share one stored picture.
//
// One producer exists per theme; the host keeps them, with the cache of part
// pictures they share.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/SysObj.h"
#include "QlLib/qpFileStream.h"

namespace orb {

inline constexpr char16_t kButtonPicturePrefix[] = u"Button: ";
inline constexpr char16_t kButtonThemeDescription[] = u"btn.ini";

enum TButtonState : int32_t { bsNormal = 0, bsHover = 1, bsClick = 2 };

// Index of each part in a state's array, in the order the description lists them.
enum TButtonPart : int32_t {
    bpLeftTop = 0,
    bpTop = 1,
    bpRightTop = 2,
    bpRight = 3,
    bpRightBottom = 4,
    bpBottom = 5,
    bpLeftBottom = 6,
    bpLeft = 7,
    bpCenter = 8,
};
inline constexpr int32_t kButtonPartCount = 9;

// One part: a rectangle (right and bottom exclusive) of a picture of the theme.
struct TBtnIniString {
    std::u16string FileName;
    ql::TRect Rect;
};

// What a face picture shows; its name carries these fields.
struct TButtonFaceRequest {
    std::u16string Theme;  // the theme folder
    int32_t State = bsNormal;
    int32_t Width = 0;
    int32_t Hue = 0, Saturation = 0, Lightness = 0;
};

// "Button: THEME:STATE:WIDTH:HUE:SATURATION:LIGHTNESS".
std::u16string ButtonFacePictureName(const TButtonFaceRequest& request);
// Reads a face name back. The five numbers are taken from the right, so a
// theme folder holding ":" (a drive letter) survives; a field that is not a
// number reads as 0. false when the name lacks the prefix or the five fields.
bool ParseButtonFacePictureName(std::u16string_view name, TButtonFaceRequest& request);

// How a producer host reaches the files of its themes (package entries or
// files on disk). Names are "FOLDER\FILE".
struct TButtonThemeFiles {
    // nullptr when the file is absent.
    std::function<std::unique_ptr<ql::TStream>(const std::u16string& name)> OpenFile;
    // Nothing when the picture is absent or cannot be decoded.
    std::function<ql::TRef<ql::TBitmapStore>(const std::u16string& name)> OpenPicture;
};

// A face as its distinct columns: every column between the left-anchored
// parts and the right-anchored ones is the same, so a face thousands of pixels
// wide is kept as one such column between its sides, and any level of it is
// made from that without composing the whole face.
struct TButtonFaceStrip {
    // The composed and colour-shifted columns: the face's first
    // FixedColumns, one middle column, then the face's columns from
    // InnerRight on (the whole face when it is no wider than that).
    std::shared_ptr<const ql::TBitmap> Columns;
    int32_t Width = 0;         // the face's width
    int32_t FixedColumns = 0;  // face columns before this are Columns' own
    int32_t InnerRight = 0;    // face columns from this on are Columns' right side
};

// The face of a strip halved level times (MipLevelSize of its size), bit for
// bit as a picture store halves the whole face level by level, at the cost
// of the strip. Nothing for an empty strip.
std::unique_ptr<ql::TBitmap> ButtonFaceLevel(const TButtonFaceStrip& strip, int32_t level);

// A made face: the picture, and the error picture's text when the face could
// not be made (empty for a real face).
struct TButtonFace {
    ql::TRef<ql::TBitmapStore> Picture;
    // A real face's columns (MakeFaceStrip); empty for an error picture.
    TButtonFaceStrip Strip;
    std::u16string ErrorText;
    // The progress handler stopped the colour shift part way: the picture is
    // only partly shifted and must not be kept under the face's name.
    bool Cancelled = false;
};

// Faces are at most this wide; a theme whose face would be taller than the
// height limit gives the error picture for kButtonSizeError.
inline constexpr int32_t kMaxButtonFaceWidth = 16384;
inline constexpr int32_t kMaxButtonFaceHeight = 4096;
inline constexpr char16_t kButtonFileOpenError[] = u"FileOpenError";
inline constexpr char16_t kButtonImageError[] = u"Incorrect Image: ";
inline constexpr char16_t kButtonSizeError[] = u"Incorrect Button Size";
inline constexpr int64_t kDefaultButtonCacheBytes = int64_t(64) << 20;

// The part pictures of a host's themes by full name ("FOLDER\FILE"), each
// kept as its full-size level in "A8R8G8B8". A miss asks the opener once and
// keeps what it got, a missing picture too. The pictures held are bounded in
// bytes: past the limit the least recently used go first. Safe from any
// thread (faces are made on the slide loader's thread).
class THashBitmaps {
public:
    using TOpener = std::function<ql::TRef<ql::TBitmapStore>(const std::u16string& name)>;
    explicit THashBitmaps(TOpener opener, int64_t byteLimit = kDefaultButtonCacheBytes);
    ~THashBitmaps();

    // nullptr when the picture is missing or cannot be decoded. The bitmap
    // stays valid for the caller after it leaves the cache.
    std::shared_ptr<const ql::TBitmap> Get(const std::u16string& name);

    void SetByteLimit(int64_t bytes);
    int64_t ByteLimit() const;
    int64_t Bytes() const;  // pixel bytes held now, with a small charge per entry
    size_t Count() const;   // entries, missing pictures included
    void Clear();

private:
    struct TEntry {
        std::shared_ptr<const ql::TBitmap> Bitmap;
        int64_t Bytes = 0;
        std::list<std::u16string>::iterator Use;
    };
    void Trim(const std::u16string* keep);  // under m_lock

    TOpener m_opener;
    mutable std::mutex m_lock;  // guards everything below
    int64_t m_limit;
    int64_t m_bytes = 0;
    std::list<std::u16string> m_uses;  // most recently used first
    std::unordered_map<std::u16string, TEntry> m_entries;
};

class TButtonProducer : public ql::TObj {
public:
    // Made by the host; cache may be null (every face is then "FileOpenError").
    TButtonProducer(std::u16string theme, THashBitmaps* cache, TButtonThemeFiles files);
    ~TButtonProducer() override;

    // Reads the description; the theme text names the folder the part
    // pictures are in.
    void LoadTheme(ql::TStream& description);

    bool Loaded() const { return m_loaded; }
    const std::u16string& Theme() const { return m_theme; }
    // Width: the right edge of the normal "Right" part; height: the bottom
    // edge of the normal "Bottom" part.
    ql::TPoint NaturalSize() const { return m_naturalSize; }
    uint32_t CaptionColour() const { return m_captionColour; }  // 0xFFRRGGBB
    float BtnOffset() const { return m_btnOffset; }
    float BtnMinWidth() const { return m_btnMinWidth; }
    int32_t Filtering() const { return m_filtering; }  // 0 Nearest, 1 Bilinear, 2 Default
    // A state outside 0 .. 2 reads as the normal state.
    const std::array<TBtnIniString, kButtonPartCount>& Parts(int32_t state) const;

    // A face of the natural height and the given width; an error picture
    // instead when the face cannot be made. Never without a picture.
    //
    // The width is clamped to [sides, kMaxButtonFaceWidth], sides being the
    // room the left part ends at plus the right part's width (at least 1):
    // a width of 0, a negative one or one narrower than the sides gives the
    // narrowest whole face; the picture is named after the width asked for.
    // A state outside 0 .. 2 is the normal state. Error pictures:
    // "FileOpenError" without a cache or when the description was not read,
    // "Incorrect Image: FOLDER\FILE" for a missing part picture,
    // kButtonSizeError when the natural height is not in 1 .. 4096 or the
    // sides alone are wider than the width limit. Part rectangles are clipped
    // to their pictures; one with right < left or bottom < top is empty.
    TButtonFace MakeFace(int32_t state, int32_t width, int32_t lightness, int32_t saturation,
                         int32_t hue, const ql::TProgressHandler& progress = {}) const;
    // The same face as its strip alone (Picture is set only for an error
    // picture): what it costs follows the theme's parts, not the face's width.
    TButtonFace MakeFaceStrip(int32_t state, int32_t width, int32_t lightness, int32_t saturation,
                              int32_t hue, const ql::TProgressHandler& progress = {}) const;

    // The one-line picture that stands in for a face.
    static TButtonFace ErrorFace(const std::u16string& text, const std::u16string& name);

private:
    std::u16string m_theme;
    THashBitmaps* m_cache;
    TButtonThemeFiles m_files;
    std::array<std::array<TBtnIniString, kButtonPartCount>, 3> m_parts;
    uint32_t m_captionColour = 0xFF000000;
    float m_btnOffset = 0, m_btnMinWidth = 0;
    int32_t m_filtering = 2;
    ql::TPoint m_naturalSize;
    bool m_loaded = false;
};

class TButtonProducerHost : public ql::TObj {
public:
    explicit TButtonProducerHost(TButtonThemeFiles files);
    ~TButtonProducerHost() override;

    // The producer for a theme folder (exact text); the first request loads
    // the folder's "btn.ini". A theme without a description gives a producer
    // that is not Loaded(). Safe from any thread; producers live as long as
    // the host.
    TButtonProducer& ProducerFor(const std::u16string& themeFolder);

    // The picture a "Button: " name describes (a face or an error picture);
    // nothing when the name is not a face name.
    ql::TRef<ql::TBitmapStore> MakePicture(const std::u16string& faceName);

    // The part-picture cache; nullptr when the files give no picture opener.
    THashBitmaps* Cache() const { return m_cache.get(); }

private:
    TButtonThemeFiles m_files;
    std::unique_ptr<THashBitmaps> m_cache;
    std::mutex m_lock;  // guards m_producers
    std::vector<std::unique_ptr<TButtonProducer>> m_producers;
};

}  // namespace orb
