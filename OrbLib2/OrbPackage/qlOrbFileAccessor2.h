// The file-access layer: sources that open files by name (plain files, a
// project's mapped names, package entries), the accessor every consumer opens
// streams and images through, and the shared image cache.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "OrbLib2/OrbPackage/qlOrbImageStandIn.h"
#include "QlLib/SysObj.h"
#include "QlLib/qpFileStream.h"

namespace orb {

class TFileSource;
class TOrbUnpack;
class TImageCache;

// Decodes a picture in place of the image decoders' registry (for tests and
// tools). Nothing when the stream holds no picture it knows.
using TImageDecoder = std::function<ql::TRef<TBitmapStore>(
    ql::TStream& stream, const std::u16string& name, const TFileSource& source)>;

// Returns a picture for the name, or nothing to let the next provider (and at
// last the file) answer.
using TImageProvider = ql::TRef<TBitmapStore> (*)(const std::u16string& name, void* userData);

// One image-provider registration; leaving it removes the provider. Leaving
// waits until calls of the provider running on other threads are over, so the
// user data may go right after; a provider may drop its own registration from
// inside its call. Not to be left while holding a lock that a running call of
// the provider may wait for.
class TCallbackHandle : public ql::TObj {
public:
    ~TCallbackHandle() override;

private:
    friend class TFileSource;
    struct TEntry;
    TCallbackHandle(TFileSource* source, ql::TRef<TEntry> entry);

    ql::TRef<TFileSource> m_source;
    ql::TRef<TEntry> m_entry;  // shared with the source's list and the calls running
};

// Something that opens streams by name. Opens are serialised per source.
class TFileSource : public ql::TRefObj {
public:
    TFileSource();
    ~TFileSource() override;

    // Unique among all sources of the process.
    uint32_t SourceId() const { return m_id; }

    // The decoded pictures that accessors on this source share; images keep
    // it alive past the source.
    TImageCache& ImageCache() const { return *m_imageCache; }
    // Pictures of this source that some image still shows.
    int32_t LiveImageHandleCount() const;
    // Replaces the decoders' registry for this source's pictures; nullptr
    // puts the registry back.
    void SetImageDecoder(TImageDecoder decoder);
    TImageDecoder ImageDecoder() const;

    // Nothing when the name is unknown here.
    std::unique_ptr<ql::TStream> Open(const std::u16string& name);

    // Providers are asked in registration order before any file is opened.
    std::unique_ptr<TCallbackHandle> RegisterImageProvider(TImageProvider callback, void* userData);
    // The first picture a provider gives; nothing when none does. The
    // providers run without any lock of the source: they load other pictures
    // (a shadow its object's picture), whose loading holds that picture's
    // handle lock, so a lock here would invert the order with a thread that
    // loads that picture first.
    ql::TRef<TBitmapStore> AskImageProviders(const std::u16string& name);

    // The orientation hook: what the decoder must do to the named picture;
    // swaps width and height for the quarter turns.
    virtual bool HasOrientationHook() const { return false; }
    virtual TImageOrientation Orientation(const std::u16string& name, int32_t& width,
                                          int32_t& height) const;
    // Whether names may be plain files, so that the accessor's base folder
    // applies to them.
    virtual bool OpensPlainFiles() const { return false; }

protected:
    virtual std::unique_ptr<ql::TStream> DoOpen(const std::u16string& name) = 0;

private:
    friend class TCallbackHandle;

    // Recursive: a mapped name opens its target through the same source.
    std::recursive_mutex m_lock;  // serialises opens
    uint32_t m_id;
    ql::TRef<TImageCache> m_imageCache;
    mutable std::mutex m_decoderLock;
    TImageDecoder m_decoder;                 // under m_decoderLock
    std::mutex m_providerLock;               // guards m_providers and each entry's call count
    std::condition_variable m_providerIdle;  // a call of a provider ended
    std::vector<ql::TRef<TCallbackHandle::TEntry>> m_providers;  // under m_providerLock
};

// A file of the disk whose read errors read as end of file.
class TFileStreamEx : public ql::TFileStream {
public:
    using TFileStream::TFileStream;
    size_t Read(void* buffer, size_t count) override;
};

// The existing file a show's name stands for: the name as given, then with
// "\" read as "/", then matched component by component without regard to
// case. Empty when none exists.
std::u16string FindPlainFile(const std::u16string& name);

// Plain files of the disk.
class TRealFileSource : public TFileSource {
public:
    bool OpensPlainFiles() const override { return true; }

protected:
    std::unique_ptr<ql::TStream> DoOpen(const std::u16string& name) override;
};

// Plain files after the project's name mapping ([FileMap]) and with its
// orientation table ([RotationState]).
class TMappedFileSource : public TFileSource {
public:
    // A name mapped in a chain longer than this, or in a cycle, is absent.
    static constexpr int kMaxMappingDepth = 8;

    // Each takes the raw lines of its section. Load before sharing the source.
    void LoadFileMap(const std::vector<std::u16string>& lines);
    void LoadRotationState(const std::vector<std::u16string>& lines);

    // The first target of a mapped name; empty when the name is not mapped.
    std::u16string MappedName(const std::u16string& name) const;
    // 1, 3, 6 or 8; 0 when the table has no code for the name.
    int32_t OrientationCode(const std::u16string& name) const;

    bool HasOrientationHook() const override { return !m_rotation.empty(); }
    TImageOrientation Orientation(const std::u16string& name, int32_t& width,
                                  int32_t& height) const override;
    bool OpensPlainFiles() const override { return true; }

protected:
    std::unique_ptr<ql::TStream> DoOpen(const std::u16string& name) final;
    // Opens a name that the map does not redirect.
    virtual std::unique_ptr<ql::TStream> OpenUnmapped(const std::u16string& name);

private:
    std::unique_ptr<ql::TStream> OpenMapped(const std::u16string& name, int depth);

    std::unordered_map<std::u16string, std::vector<std::u16string>> m_fileMap;
    std::unordered_map<std::u16string, int32_t> m_rotation;
};

// Entries of a package.
class TPackedFileSource : public TMappedFileSource {
public:
    explicit TPackedFileSource(std::unique_ptr<TOrbUnpack> unpack);  // owns it
    explicit TPackedFileSource(TOrbUnpack& unpack);                  // must outlive the source
    ~TPackedFileSource() override;

    TOrbUnpack& Unpack() { return *m_unpack; }
    bool OpensPlainFiles() const override { return false; }

protected:
    std::unique_ptr<ql::TStream> OpenUnmapped(const std::u16string& name) override;

private:
    std::unique_ptr<TOrbUnpack> m_owned;
    TOrbUnpack* m_unpack;
};

namespace access {

// One shared decoded picture of the image cache; the last image of it that
// goes takes it out of the cache.
class TImageHandle : public ql::TRefObj {
public:
    TImageHandle(std::u16string key, uint32_t sourceId, ql::TRef<TImageCache> cache);
    ~TImageHandle() override;

    const std::u16string& Key() const { return m_key; }
    uint32_t SourceId() const { return m_sourceId; }

    std::mutex Lock;               // held while the picture is decoded
    ql::TRef<TBitmapStore> Store;  // under Lock
    bool Loaded = false;           // under Lock

private:
    std::u16string m_key;  // lower-cased name
    uint32_t m_sourceId;
    ql::TRef<TImageCache> m_cache;
};

// The image object of the file accessor: presents the bitmap store of one
// cache handle.
class TOrbImage : public TImage {
public:
    explicit TOrbImage(ql::TRef<TImageHandle> handle);
    ~TOrbImage() override;

    ql::TRef<TBitmapStore> BitmapStore() const override;
    // Another image on the same handle.
    std::unique_ptr<TOrbImage> Clone() const;
    const TImageHandle& Handle() const { return *m_handle; }

private:
    ql::TRef<TImageHandle> m_handle;
};

}  // namespace access

// The placeholder's first line for a name, by whether a file was opened.
std::u16string PlaceholderMessage(const std::u16string& name, bool fileOpened);

using TStreamFilter = std::function<std::unique_ptr<ql::TStream>(
    const std::u16string& name, std::unique_ptr<ql::TStream> stream)>;
using TFallbackOpener = std::function<std::unique_ptr<ql::TStream>(const std::u16string& name)>;

// The handle through which every consumer opens named files and pictures.
class TFileAccessor : public ql::TObj {
public:
    explicit TFileAccessor(ql::TRef<TFileSource> source);
    ~TFileAccessor() override;

    // A new accessor on the same source with the same base folder.
    std::unique_ptr<TFileAccessor> Copy() const;

    TFileSource& Source() const { return *m_source; }

    // The stream is the caller's, knows its size and calls the LoadCallback
    // every 32768 bytes. Nothing when no file has the name.
    std::unique_ptr<ql::TStream> OpenStream(const std::u16string& name);
    // Never nothing: a name without provider or file gives a placeholder.
    std::unique_ptr<access::TOrbImage> OpenImage(const std::u16string& name);

    // The plain file for a name: the name itself when it exists, else the base
    // folder plus its last path component. Empty when neither exists.
    std::u16string ResolveFileName(const std::u16string& name) const;

    // Stored with a trailing "/".
    void SetBaseFolder(const std::u16string& folder);
    const std::u16string& BaseFolder() const { return m_baseFolder; }
    void SetStreamFilter(TStreamFilter filter) { m_streamFilter = std::move(filter); }
    void SetFallbackOpener(TFallbackOpener opener) { m_fallbackOpener = std::move(opener); }
    // 0 = none.
    int32_t ImageSizeHint = 0;

private:
    // The source's stream for the name (or the base folder's file), in a
    // window with the LoadCallback.
    std::unique_ptr<ql::TStream> OpenFromSource(const std::u16string& name);

    ql::TRef<TFileSource> m_source;
    TFallbackOpener m_fallbackOpener;
    TStreamFilter m_streamFilter;
    std::u16string m_baseFolder;
};

// The last component of a name written with "/" or "\".
std::u16string LastPathComponent(const std::u16string& name);

}  // namespace orb
