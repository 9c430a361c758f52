// The decoder registry: decoders register the file extensions they read, and
// a load tries the registered decoders in registration order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qpFileStream.h"

namespace ql {

// Returns a store, or nothing (with the stream where it was) for data it does
// not know. May raise for damaged data; the loader swallows that.
using TImageDecoderFunc = TRef<TBitmapStore> (*)(TStream& stream, const std::u16string& name,
                                                 TTransformHook hook, void* hookContext);

// Skips leading characters below 33 and one "*", and puts a "." in front when
// missing: "*.JPG", "jpg" and ".jpg" all become ".jpg" (lower case).
std::u16string NormaliseExtension(std::u16string_view extension);

// Adds a decoder behind those registered so far. The built-in decoders are
// registered before the first load or registration: the container, BMP,
// JPEG, GIF and PNG decoders, in that order.
void RegisterDecoder(const char* name, TImageDecoderFunc decoder,
                     const std::vector<std::u16string>& extensions);

// A decoder registered for the guard's life (tests and plug-ins that go
// before the program ends): at its end the registration is taken back.
class TDecoderRegistration {
public:
    TDecoderRegistration(const char* name, TImageDecoderFunc decoder,
                         const std::vector<std::u16string>& extensions);
    ~TDecoderRegistration();
    TDecoderRegistration(const TDecoderRegistration&) = delete;
    TDecoderRegistration& operator=(const TDecoderRegistration&) = delete;

private:
    const char* m_name;
    TImageDecoderFunc m_decoder;
};

// The hook used when a load names none (none by default).
void SetDefaultTransformHook(TTransformHook hook, void* context);

struct TLoadResult {
    TImage Image;
    const char* DecoderName = nullptr;  // the decoder that read it
};

// The first store that a decoder accepting the name's extension returns; a
// ".bmp" holding PNG data counts as ".png", and with no extension every
// decoder is asked. Nothing when none reads it; decoder errors are swallowed.
TLoadResult LoadImageFromStream(TStream& stream, const std::u16string& name);
TLoadResult LoadImageFromStream(TStream& stream, const std::u16string& name, TTransformHook hook,
                                void* hookContext);
// Takes the stream: it is freed on return, as no store keeps it.
TLoadResult LoadImageFromStream(std::unique_ptr<TStream> stream, const std::u16string& name);
// Nothing when the file is missing or cannot be opened.
TLoadResult LoadImageFromFile(const std::u16string& path);

}  // namespace ql
