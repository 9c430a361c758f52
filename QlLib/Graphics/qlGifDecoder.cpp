#include "QlLib/Graphics/qlGifDecoder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <vector>

#include "QlLib/Graphics/qlImageBytes.h"

namespace ql {

namespace {

std::atomic<bool> g_animation{false};

constexpr int kMaxCodeBits = 12;
constexpr int kTableSize = 1 << kMaxCodeBits;

using TColourTable = std::array<uint32_t, 256>;  // 0xAARRGGBB, opaque black past the file's entries

struct TFrame {
    int32_t left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    const TColourTable* colours = nullptr;
    TColourTable local{};
    bool hasLocal = false;
    int32_t transparent = -1;
    int32_t disposal = 0;
    int32_t delayCs = 0;  // hundredths of a second
    uint8_t minCodeSize = 0;
    std::vector<uint8_t> data;  // the joined sub-blocks of LZW codes
};

void ReadColourTable(TByteCursor& in, int32_t entries, TColourTable& table) {
    table.fill(0xFF000000u);
    const uint8_t* p = in.Take(size_t(entries) * 3);
    for (int32_t i = 0; i < entries; ++i)
        table[size_t(i)] =
            0xFF000000u | (uint32_t(p[i * 3]) << 16) | (uint32_t(p[i * 3 + 1]) << 8) | p[i * 3 + 2];
}

// The sub-blocks up to the zero-length terminator, appended to out (or dropped).
void ReadSubBlocks(TByteCursor& in, std::vector<uint8_t>* out) {
    for (uint8_t length = in.U8(); length != 0; length = in.U8()) {
        const uint8_t* p = in.Take(length);
        if (out) out->insert(out->end(), p, p + length);
    }
}

// The row of the frame that the n-th decoded row fills.
int32_t InterlacedRow(int32_t n, int32_t height) {
    static const int32_t kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const int32_t rowsInPass =
            height > kStart[pass] ? (height - kStart[pass] + kStep[pass] - 1) / kStep[pass] : 0;
        if (n < rowsInPass) return kStart[pass] + n * kStep[pass];
        n -= rowsInPass;
    }
    return height;  // past the frame
}

// Decodes the frame's codes and draws its pixels into the canvas, clipped to
// the screen; transparent pixels leave the canvas as it is. Codes stop at the
// end code, at the frame's last pixel, or at the first code that cannot be
// valid, keeping what was drawn: browsers show such frames the same way.
void DrawFrame(const TFrame& f, std::vector<uint32_t>& canvas, int32_t screenW, int32_t screenH) {
    const int64_t total = int64_t(f.width) * f.height;
    int64_t produced = 0;
    auto emit = [&](uint8_t index) {
        const int32_t col = int32_t(produced % f.width);
        const int32_t seq = int32_t(produced / f.width);
        ++produced;
        if (index == f.transparent) return;
        const int32_t row = f.interlaced ? InterlacedRow(seq, f.height) : seq;
        const int64_t x = int64_t(f.left) + col, y = int64_t(f.top) + row;
        if (x < screenW && y < screenH) canvas[size_t(y * screenW + x)] = (*f.colours)[index];
    };

    const int clear = 1 << f.minCodeSize, end = clear + 1;
    std::array<uint16_t, kTableSize> prefix{};
    std::array<uint8_t, kTableSize> suffix{};
    std::array<uint8_t, kTableSize + 1> stack{};
    for (int i = 0; i < clear; ++i) suffix[size_t(i)] = uint8_t(i);
    int codeSize = f.minCodeSize + 1, next = clear + 2, previous = -1;
    uint8_t first = 0;
    uint32_t bits = 0;
    int bitCount = 0;
    size_t pos = 0;
    while (produced < total) {
        while (bitCount < codeSize && pos < f.data.size()) {
            bits |= uint32_t(f.data[pos++]) << bitCount;
            bitCount += 8;
        }
        if (bitCount < codeSize) return;
        const int code = int(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        bitCount -= codeSize;
        if (code == clear) {
            codeSize = f.minCodeSize + 1;
            next = clear + 2;
            previous = -1;
            continue;
        }
        if (code == end) return;
        if (previous < 0) {
            if (code >= clear) return;  // the first code after a clear is a literal
            first = uint8_t(code);
            emit(first);
            previous = code;
            continue;
        }
        if (code > next) return;
        int walk = code, depth = 0;
        if (code == next) {  // the string just being defined: previous + its own first byte
            if (next >= kTableSize) return;
            stack[size_t(depth++)] = first;
            walk = previous;
        }
        while (walk >= clear) {
            stack[size_t(depth++)] = suffix[size_t(walk)];
            walk = prefix[size_t(walk)];
        }
        first = uint8_t(walk);
        stack[size_t(depth++)] = first;
        while (depth > 0 && produced < total) emit(stack[size_t(--depth)]);
        if (next < kTableSize) {
            prefix[size_t(next)] = uint16_t(previous);
            suffix[size_t(next)] = first;
            ++next;
            if (next == (1 << codeSize) && codeSize < kMaxCodeBits) ++codeSize;
        }
        previous = code;
    }
}

void ClearRect(std::vector<uint32_t>& canvas, int32_t screenW, int32_t screenH, const TFrame& f) {
    const int32_t right = int32_t(std::min<int64_t>(int64_t(f.left) + f.width, screenW));
    const int32_t bottom = int32_t(std::min<int64_t>(int64_t(f.top) + f.height, screenH));
    for (int32_t y = f.top; y < bottom; ++y)
        for (int32_t x = f.left; x < right; ++x)
            canvas[size_t(y) * size_t(screenW) + size_t(x)] = 0;
}

}  // namespace

void SetGifAnimation(bool on) {
    g_animation = on;
}
bool GifAnimation() {
    return g_animation;
}

std::optional<TGifPicture> ReadGif(const uint8_t* data, size_t size, bool animate) {
    if (size < 13 || std::memcmp(data, "GIF", 3) != 0 ||
        (std::memcmp(data + 3, "87a", 3) != 0 && std::memcmp(data + 3, "89a", 3) != 0))
        return std::nullopt;
    TByteCursor in(data, size, kGifDamagedText);
    in.Skip(6);
    const int32_t screenW = in.U16(), screenH = in.U16();
    const uint8_t packed = in.U8();
    in.Skip(2);  // background index and aspect: the background shows as transparent
    CheckImageSize(screenW, screenH);
    TColourTable global;
    global.fill(0xFF000000u);
    if (packed & 0x80) ReadColourTable(in, 2 << (packed & 7), global);

    // First the block structure, without decoding: the number of frames must
    // be known, and bounded, before the strip is allocated.
    std::vector<TFrame> frames;
    int32_t loopCount = 0;
    // The strip of all frames is one level in the picture memory budget: an
    // animation keeps no more frames than the whole budget holds.
    const int64_t frameBytes = int64_t(screenW) * screenH * 4;
    const int64_t maxFrames =
        animate ? std::max<int64_t>(1, std::min({int64_t(kMaxBitmapSide / screenW),
                                                 ImagePixelLimit() / (int64_t(screenW) * screenH),
                                                 PictureMemoryBudget() / frameBytes}))
                : 1;
    int64_t framePixels = 0;
    TFrame pending;  // carries the graphic control block to the next image
    try {
        while (!in.AtEnd() && int64_t(frames.size()) < maxFrames) {
            const uint8_t kind = in.U8();
            if (kind == 0x3B) break;  // trailer
            if (kind == 0x21) {
                const uint8_t label = in.U8();
                if (label == 0xF9) {
                    const uint8_t length = in.U8();
                    if (length < 4) in.Fail();
                    const uint8_t* p = in.Take(length);
                    pending.disposal = (p[0] >> 2) & 7;
                    pending.delayCs = p[1] | (p[2] << 8);
                    pending.transparent = p[0] & 1 ? p[3] : -1;
                    ReadSubBlocks(in, nullptr);
                } else if (label == 0xFF) {
                    const uint8_t length = in.U8();
                    const uint8_t* id = in.Take(length);
                    std::vector<uint8_t> body;
                    ReadSubBlocks(in, &body);
                    if (length == 11 && std::memcmp(id, "NETSCAPE2.0", 11) == 0 &&
                        body.size() >= 3 && body[0] == 1)
                        loopCount = body[1] | (body[2] << 8);
                } else {
                    ReadSubBlocks(in, nullptr);
                }
                continue;
            }
            if (kind != 0x2C) in.Fail();
            TFrame frame = std::move(pending);
            pending = TFrame{};
            frame.left = in.U16();
            frame.top = in.U16();
            frame.width = in.U16();
            frame.height = in.U16();
            const uint8_t framePacked = in.U8();
            frame.interlaced = framePacked & 0x40;
            if (framePacked & 0x80) {
                ReadColourTable(in, 2 << (framePacked & 7), frame.local);
                frame.hasLocal = true;
            }
            frame.minCodeSize = in.U8();
            if (frame.minCodeSize < 1 || frame.minCodeSize > kMaxCodeBits - 1) in.Fail();
            ReadSubBlocks(in, &frame.data);
            // Decoding costs a step per pixel of the frame's own rectangle, which
            // may be far larger than the screen: those count against the limit too.
            framePixels += int64_t(frame.width) * frame.height;
            if (framePixels > ImagePixelLimit()) in.Fail();
            if (frame.width == 0 || frame.height == 0) continue;
            frames.push_back(std::move(frame));
        }
    } catch (const EImageError&) {
        if (frames.empty()) throw;
    }
    if (frames.empty()) throw EImageError(kGifDamagedText);

    const int32_t count = int32_t(frames.size());
    for (TFrame& f : frames) f.colours = f.hasLocal ? &f.local : &global;
    std::vector<uint32_t> canvas(size_t(screenW) * size_t(screenH), 0);
    std::vector<uint32_t> saved;  // the canvas after the last frame whose disposal was 1
    TGifPicture picture;
    picture.Bitmap = CreateBitmap(screenW * count, screenH, PfARGB32());
    for (int32_t k = 0; k < count; ++k) {
        if (k > 0) {
            const TFrame& before = frames[size_t(k - 1)];
            if (before.disposal == 2) ClearRect(canvas, screenW, screenH, before);
            if (before.disposal == 3) {
                if (saved.empty())
                    std::fill(canvas.begin(), canvas.end(), 0);
                else
                    canvas = saved;
            }
        }
        DrawFrame(frames[size_t(k)], canvas, screenW, screenH);
        if (frames[size_t(k)].disposal == 1) saved = canvas;
        for (int32_t y = 0; y < screenH; ++y)
            std::memcpy(picture.Bitmap->Row(y) + size_t(k) * size_t(screenW) * 4,
                        &canvas[size_t(y) * size_t(screenW)], size_t(screenW) * 4);
    }
    if (count > 1) {
        TTilesTag tag;
        tag.CellWidth = screenW;
        tag.CellHeight = screenH;
        tag.Columns = count;
        tag.Rows = 1;
        tag.Frames = count;
        for (int32_t k = 0; k < count; ++k) {
            const int64_t ms = int64_t(frames[size_t(k)].delayCs) * 10;
            tag.TotalMs += ms;
            if (k > 0) tag.DelaysMs += ',';
            tag.DelaysMs += std::to_string(ms);
        }
        tag.AverageMs = tag.TotalMs / count;
        tag.LoopCount = loopCount;
        picture.Tiles = std::move(tag);
    }
    return picture;
}

TRef<TBitmapStore> DecodeGif(TStream& stream, const std::u16string& name, TTransformHook hook,
                             void* hookContext) {
    const int64_t start = stream.GetPosition();
    char magic[6];
    if (PeekBytes(stream, magic, 6) != 6 || std::memcmp(magic, "GIF", 3) != 0 ||
        (std::memcmp(magic + 3, "87a", 3) != 0 && std::memcmp(magic + 3, "89a", 3) != 0))
        return nullptr;
    try {
        std::vector<uint8_t> data = ReadRemaining(stream, kMaxImageFileBytes);
        const bool animate = GifAnimation();
        std::optional<TGifPicture> picture = ReadGif(data.data(), data.size(), animate);
        if (!picture) throw EImageError(kGifDamagedText);
        auto store = MakeRef<TGifBitmapStore>(std::move(data), animate, std::move(*picture), name,
                                              hook, hookContext);
        // The frames decoded count in the budget from now on; when there is no
        // room for them they go, and are decoded again when drawn.
        if (!store->GetBitmap(0)) store->ForgetDecoded();
        return store;
    } catch (const Exception&) {
        stream.SetPosition(start);
        throw;
    }
}

// ---- TGifBitmapStore ----

TGifBitmapStore::TGifBitmapStore(std::vector<uint8_t> data, bool animate, TGifPicture picture,
                                 std::u16string name, TTransformHook hook, void* hookContext)
    // A strip must not be turned: its cells would no longer line up.
    : TSysBitmapStore(
          {std::move(name), picture.Bitmap->Width(), picture.Bitmap->Height(), PfARGB32()},
          picture.Tiles ? nullptr : hook, hookContext),
      m_data(std::move(data)),
      m_animate(animate),
      m_decoded(std::move(picture.Bitmap)) {
    if (picture.Tiles) SetTilesTag(std::move(*picture.Tiles));
    SetLevelsRemade();
}

void TGifBitmapStore::ForgetDecoded() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_decoded = nullptr;
}

TLevelResult TGifBitmapStore::DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) {
    if (level != 0) return TLevelResult::Done;
    if (m_decoded) {
        out = std::move(m_decoded);
        return TLevelResult::Done;
    }
    std::optional<TGifPicture> picture = ReadGif(m_data.data(), m_data.size(), m_animate);
    if (!picture || picture->Bitmap->Width() != DecodedWidth() ||
        picture->Bitmap->Height() != DecodedHeight())
        throw EImageError(kGifDamagedText);
    out = std::move(picture->Bitmap);
    return TLevelResult::Done;
}

}  // namespace ql
