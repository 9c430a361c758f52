#include "QlLib/Graphics/qlImageLoader.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "QlLib/Graphics/qlBmpDecoder.h"
#include "QlLib/Graphics/qlGifDecoder.h"
#include "QlLib/Graphics/qlImageBytes.h"
#include "QlLib/Graphics/qlJpegDecoder.h"
#include "QlLib/Graphics/qlPngDecoder.h"
#include "QlLib/Graphics/qlQlgfxDecoder.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

struct TDecoderRecord {
    const char* name;
    TImageDecoderFunc decoder;
    std::vector<std::u16string> extensions;
};

struct TRegistry {
    std::mutex lock;
    std::vector<TDecoderRecord> decoders;  // under lock
    TTransformHook defaultHook = nullptr;  // under lock
    void* defaultContext = nullptr;
};

void Add(TRegistry& registry, const char* name, TImageDecoderFunc decoder,
         const std::vector<std::u16string>& extensions) {
    TDecoderRecord record{name, decoder, {}};
    for (const std::u16string& extension : extensions)
        record.extensions.push_back(NormaliseExtension(extension));
    if (registry.decoders.size() == registry.decoders.capacity())
        registry.decoders.reserve(std::max<size_t>(8, registry.decoders.capacity() * 2));
    registry.decoders.push_back(std::move(record));
}

// Built on first use, so that the order does not hang on which object files
// the linker happened to initialise first.
TRegistry& Registry() {
    static TRegistry* registry = [] {
        auto* r = new TRegistry;
        Add(*r, "SysGfxLoader", DecodeQlgfx, {u".qlgfx", u".bmp", u".dib", u".png", u".gif"});
        Add(*r, "SysBitmapLoader", DecodeBmp, {u".bmp", u".dib"});
        Add(*r, "winJpegLoader", DecodeJpeg, {u".jpg", u".jpeg", u".jpe", u".jfif"});
        Add(*r, "qlFPReadGIF", DecodeGif, {u".gif"});
        Add(*r, "qlImageLib", DecodePng, {u".png"});
        return r;
    }();
    return *registry;
}

std::u16string ExtensionOf(const std::u16string& name) {
    const size_t dot = name.find_last_of(u'.');
    const size_t separator = name.find_last_of(u"/\\");
    if (dot == std::u16string::npos || (separator != std::u16string::npos && dot < separator))
        return {};
    return LowerCase(name.substr(dot));
}

// The extension of the decoders that the data's signature names: JPEG, PNG,
// GIF, BMP and the picture container; empty when it names none of them.
std::u16string ExtensionBySignature(TStream& stream) {
    uint8_t head[8] = {};
    const size_t got = PeekBytes(stream, head, sizeof head);
    if (got >= 8 && IsPngSignature(head, 8)) return u".png";
    if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return u".jpg";
    if (got >= 6 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0))
        return u".gif";
    if (got >= 4 && std::memcmp(head, "QLGF", 4) == 0) return u".qlgfx";
    if (got >= 6 && head[0] == 'B' && head[1] == 'M') return u".bmp";
    return {};
}

bool Accepts(const TDecoderRecord& record, const std::u16string& extension) {
    return extension.empty() || std::find(record.extensions.begin(), record.extensions.end(),
                                          extension) != record.extensions.end();
}

}  // namespace

std::u16string NormaliseExtension(std::u16string_view extension) {
    size_t i = 0;
    while (i < extension.size() && extension[i] < 33) ++i;
    if (i < extension.size() && extension[i] == u'*') ++i;
    std::u16string result = LowerCase(extension.substr(i));
    if (result.empty() || result[0] != u'.') result.insert(result.begin(), u'.');
    return result;
}

void RegisterDecoder(const char* name, TImageDecoderFunc decoder,
                     const std::vector<std::u16string>& extensions) {
    TRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    Add(registry, name, decoder, extensions);
}

TDecoderRegistration::TDecoderRegistration(const char* name, TImageDecoderFunc decoder,
                                           const std::vector<std::u16string>& extensions)
    : m_name(name), m_decoder(decoder) {
    RegisterDecoder(name, decoder, extensions);
}

TDecoderRegistration::~TDecoderRegistration() {
    TRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    // The latest record of this name and function is ours.
    auto& decoders = registry.decoders;
    for (auto it = decoders.rbegin(); it != decoders.rend(); ++it) {
        if (it->decoder == m_decoder && std::string_view(it->name) == m_name) {
            decoders.erase(std::next(it).base());
            return;
        }
    }
}

void SetDefaultTransformHook(TTransformHook hook, void* context) {
    TRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.defaultHook = hook;
    registry.defaultContext = context;
}

TLoadResult LoadImageFromStream(TStream& stream, const std::u16string& name) {
    TTransformHook hook;
    void* context;
    {
        TRegistry& registry = Registry();
        std::lock_guard<std::mutex> guard(registry.lock);
        hook = registry.defaultHook;
        context = registry.defaultContext;
    }
    return LoadImageFromStream(stream, name, hook, context);
}

TLoadResult LoadImageFromStream(TStream& stream, const std::u16string& name, TTransformHook hook,
                                void* hookContext) {
    const int64_t start = stream.GetPosition();
    // The data's signature decides: pictures saved under another format's
    // extension are common. The name's extension picks the decoders only when
    // the signature is none we know, or when the signature's decoders refuse
    // the data; a name without one lets every decoder try.
    const std::u16string named = ExtensionOf(name);
    const std::u16string sniffed = ExtensionBySignature(stream);
    std::vector<TDecoderRecord> decoders;
    {
        TRegistry& registry = Registry();
        std::lock_guard<std::mutex> guard(registry.lock);
        decoders = registry.decoders;
    }
    std::vector<bool> tried(decoders.size(), false);
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 0 && sniffed.empty()) continue;
        const std::u16string& extension = pass == 0 ? sniffed : named;
        for (size_t i = 0; i < decoders.size(); ++i) {
            const TDecoderRecord& record = decoders[i];
            if (tried[i] || !Accepts(record, extension)) continue;
            tried[i] = true;
            try {
                TRef<TBitmapStore> store = record.decoder(stream, name, hook, hookContext);
                if (store) return {TImage(std::move(store)), record.name};
            } catch (const std::exception&) {
                // damaged data: the next decoder may still know it
            }
            stream.SetPosition(start);
        }
    }
    return {};
}

TLoadResult LoadImageFromStream(std::unique_ptr<TStream> stream, const std::u16string& name) {
    return stream ? LoadImageFromStream(*stream, name) : TLoadResult{};
}

TLoadResult LoadImageFromFile(const std::u16string& path) {
    if (!TFileAPI::FileExists(path)) return {};
    try {
        auto stream = std::make_unique<TFileStream>(path, TFileAccess::Read, kShareRead,
                                                    TFileDisposition::OpenExisting);
        return LoadImageFromStream(std::move(stream), path);
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace ql
