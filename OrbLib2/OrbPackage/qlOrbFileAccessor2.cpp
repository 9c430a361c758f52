#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"

#include <algorithm>
#include <atomic>

#include "OrbLib2/OrbPackage/qlOrbLoadCallback.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "QlLib/Graphics/qlImageLoader.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/Platform/qlSystemAPI.h"
#include "QlLib/VectorGraphics/qlTextProducer2.h"
#include "QlLib/qlHashUtils.h"
#include "QlLib/qlLog.h"
#include "QlLib/qlPartialStream.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

using ql::TStream;

// ---- the image cache of a file source ----

// The pictures of one source by lower-cased name. The table does not hold
// its handles: each handle takes itself out when its last image goes, and a
// handle found on its way out is passed over for a new one.
class TImageCache : public ql::TRefObj {
public:
    std::mutex Lock;
    std::unordered_map<std::u16string, access::TImageHandle*> Handles;  // under Lock
    std::atomic<int32_t> LiveHandles{0};
};

namespace {
// Only tells sources apart; no other state is shared between them.
std::atomic<uint32_t> g_nextSourceId{0};

bool IsVideoName(const std::u16string& name) {
    static const char16_t* const kVideoExtensions[] = {
        u".avi", u".mp4", u".mov", u".wmv",  u".mpg", u".mpeg", u".mkv",
        u".flv", u".m4v", u".3gp", u".webm", u".mts", u".m2ts", u".vob"};
    const std::u16string lower = ql::LowerCase(name);
    for (const char16_t* ext : kVideoExtensions) {
        const std::u16string e(ext);
        if (lower.size() > e.size() && lower.compare(lower.size() - e.size(), e.size(), e) == 0) {
            return true;
        }
    }
    return false;
}

size_t LastSeparator(const std::u16string& name) {
    return name.find_last_of(u"/\\");
}

std::unique_ptr<TStream> OpenExistingFile(const std::u16string& fileName) {
    // A FIFO or device named by a show would block the opening thread.
    if (!ql::platform::IsRegularFile(fileName)) return nullptr;
    try {
        return std::make_unique<TFileStreamEx>(fileName, ql::TFileAccess::Read,
                                               ql::kShareRead | ql::kShareWrite | ql::kShareDelete,
                                               ql::TFileDisposition::OpenExisting);
    } catch (const ql::Exception&) {
        return nullptr;
    }
}

std::u16string TrimmedUnquoted(std::u16string_view text) {
    std::u16string trimmed = ql::TrimBlanks(text);
    if (trimmed.size() >= 2 && trimmed.front() == u'"' && trimmed.back() == u'"') {
        trimmed = trimmed.substr(1, trimmed.size() - 2);
    }
    return trimmed;
}
}  // namespace

std::u16string LastPathComponent(const std::u16string& name) {
    const size_t separator = LastSeparator(name);
    return separator == std::u16string::npos ? name : name.substr(separator + 1);
}

// ---- TCallbackHandle ----

struct TCallbackHandle::TEntry : ql::TRefObj {
    TEntry(TImageProvider callback, void* userData) : Callback(callback), UserData(userData) {}

    const TImageProvider Callback;
    void* const UserData;
    int32_t Calls = 0;     // under the source's m_providerLock: running now, on all threads
    bool Removed = false;  // under the source's m_providerLock
};

namespace {
// The registrations whose calls run on this thread, innermost last. A
// provider may drop its own registration (or that of a provider it was
// called under) from inside its call; leaving must not wait for those.
thread_local std::vector<const void*> t_runningProviders;
}  // namespace

TCallbackHandle::TCallbackHandle(TFileSource* source, ql::TRef<TEntry> entry)
    : m_source(source), m_entry(std::move(entry)) {}

TCallbackHandle::~TCallbackHandle() {
    const auto ownCalls = std::count(t_runningProviders.begin(), t_runningProviders.end(),
                                     static_cast<const void*>(m_entry.Get()));
    TFileSource& source = *m_source;
    std::unique_lock<std::mutex> guard(source.m_providerLock);
    m_entry->Removed = true;
    auto& list = source.m_providers;
    list.erase(std::remove(list.begin(), list.end(), m_entry), list.end());
    source.m_providerIdle.wait(guard, [&] { return m_entry->Calls <= ownCalls; });
}

// ---- TFileSource ----

TFileSource::TFileSource() : m_id(++g_nextSourceId), m_imageCache(ql::MakeRef<TImageCache>()) {}

int32_t TFileSource::LiveImageHandleCount() const {
    return m_imageCache->LiveHandles.load();
}

void TFileSource::SetImageDecoder(TImageDecoder decoder) {
    std::lock_guard<std::mutex> guard(m_decoderLock);
    m_decoder = std::move(decoder);
}

TImageDecoder TFileSource::ImageDecoder() const {
    std::lock_guard<std::mutex> guard(m_decoderLock);
    return m_decoder;
}

TFileSource::~TFileSource() = default;

std::unique_ptr<TStream> TFileSource::Open(const std::u16string& name) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return DoOpen(name);
}

std::unique_ptr<TCallbackHandle> TFileSource::RegisterImageProvider(TImageProvider callback,
                                                                    void* userData) {
    auto entry = ql::MakeRef<TCallbackHandle::TEntry>(callback, userData);
    std::unique_ptr<TCallbackHandle> handle(new TCallbackHandle(this, entry));
    std::lock_guard<std::mutex> guard(m_providerLock);
    m_providers.push_back(std::move(entry));
    return handle;
}

ql::TRef<TBitmapStore> TFileSource::AskImageProviders(const std::u16string& name) {
    using TEntry = TCallbackHandle::TEntry;
    std::vector<ql::TRef<TEntry>> providers;
    {
        std::lock_guard<std::mutex> guard(m_providerLock);
        providers = m_providers;
    }
    // Ends one running call of a provider, when it returns or throws; a
    // registration being left waits for that.
    struct TCallEnd {
        TFileSource& source;
        TEntry& entry;
        ~TCallEnd() {
            t_runningProviders.pop_back();
            std::lock_guard<std::mutex> guard(source.m_providerLock);
            --entry.Calls;
            if (entry.Removed) source.m_providerIdle.notify_all();
        }
    };
    for (const ql::TRef<TEntry>& provider : providers) {
        {
            // A registration left after the list was copied is not called.
            std::lock_guard<std::mutex> guard(m_providerLock);
            if (provider->Removed) continue;
            ++provider->Calls;
        }
        t_runningProviders.push_back(provider.Get());
        TCallEnd end{*this, *provider};
        if (ql::TRef<TBitmapStore> store = provider->Callback(name, provider->UserData)) {
            return store;
        }
    }
    return nullptr;
}

TImageOrientation TFileSource::Orientation(const std::u16string&, int32_t&, int32_t&) const {
    return TImageOrientation::None;
}

// ---- TFileStreamEx ----

size_t TFileStreamEx::Read(void* buffer, size_t count) {
    try {
        return TFileStream::Read(buffer, count);
    } catch (const ql::EStreamError&) {
        return 0;
    }
}

// ---- plain files ----

std::u16string FindPlainFile(const std::u16string& name) {
    if (name.empty()) return {};
    if (ql::TFileAPI::FileExists(name)) return name;
    std::u16string slashed = name;
    std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
    if (slashed != name && ql::TFileAPI::FileExists(slashed)) return slashed;
    if (auto found = ql::platform::FindPathIgnoringCase(slashed);
        found && ql::TFileAPI::FileExists(*found)) {
        return *found;
    }
    return {};
}

std::unique_ptr<TStream> TRealFileSource::DoOpen(const std::u16string& name) {
    const std::u16string fileName = FindPlainFile(name);
    return fileName.empty() ? nullptr : OpenExistingFile(fileName);
}

// ---- TMappedFileSource ----

// Lines read `;"source"="target"`; the leading semicolon keeps them out of
// the document's keys, and quotes may hide "=" signs inside the names.
void TMappedFileSource::LoadFileMap(const std::vector<std::u16string>& lines) {
    for (const std::u16string& raw : lines) {
        std::u16string_view line = raw;
        if (!line.empty() && line.front() == u';') line.remove_prefix(1);
        bool quoted = false;
        size_t equals = std::u16string_view::npos;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == u'"') quoted = !quoted;
            if (line[i] == u'=' && !quoted) {
                equals = i;
                break;
            }
        }
        if (equals == std::u16string_view::npos || equals + 1 >= line.size()) continue;
        const std::u16string source = TrimmedUnquoted(line.substr(0, equals));
        const std::u16string target = TrimmedUnquoted(line.substr(equals + 1));
        if (source.empty() || target.empty()) continue;
        m_fileMap[ql::LowerCase(source)].push_back(target);
    }
}

// Lines read `;"name"=N` with N an EXIF orientation code.
void TMappedFileSource::LoadRotationState(const std::vector<std::u16string>& lines) {
    for (const std::u16string& line : lines) {
        if (line.size() < 2 || line[0] != u';' || line[1] != u'"') continue;
        const size_t close = line.find(u"\"=", 2);
        if (close == std::u16string::npos) continue;
        const std::u16string name = line.substr(2, close - 2);
        const auto code =
            ql::TryStrToInt(ql::TrimBlanks(std::u16string_view(line).substr(close + 2)));
        if (name.empty() || !code) continue;
        if (*code == 1 || *code == 3 || *code == 6 || *code == 8) {
            m_rotation[ql::LowerCase(name)] = *code;
        }
    }
}

std::u16string TMappedFileSource::MappedName(const std::u16string& name) const {
    auto it = m_fileMap.find(ql::LowerCase(name));
    return it == m_fileMap.end() || it->second.empty() ? std::u16string() : it->second.front();
}

int32_t TMappedFileSource::OrientationCode(const std::u16string& name) const {
    auto it = m_rotation.find(ql::LowerCase(name));
    return it == m_rotation.end() ? 0 : it->second;
}

TImageOrientation TMappedFileSource::Orientation(const std::u16string& name, int32_t& width,
                                                 int32_t& height) const {
    switch (OrientationCode(name)) {
        case 3:
            return TImageOrientation::Rotate180;
        case 6:
            std::swap(width, height);
            return TImageOrientation::RotateClockwise;
        case 8:
            std::swap(width, height);
            return TImageOrientation::RotateCounterClockwise;
        default:
            return TImageOrientation::None;
    }
}

std::unique_ptr<TStream> TMappedFileSource::DoOpen(const std::u16string& name) {
    return OpenMapped(name, 0);
}

// A map entry pointing at itself, or a cycle, ends at the depth bound and
// reads as absent instead of recursing without end.
std::unique_ptr<TStream> TMappedFileSource::OpenMapped(const std::u16string& name, int depth) {
    const std::u16string target = MappedName(name);
    if (target.empty()) return OpenUnmapped(name);
    if (depth >= kMaxMappingDepth) return nullptr;
    return OpenMapped(target, depth + 1);
}

std::unique_ptr<TStream> TMappedFileSource::OpenUnmapped(const std::u16string& name) {
    const std::u16string fileName = FindPlainFile(name);
    return fileName.empty() ? nullptr : OpenExistingFile(fileName);
}

// ---- TPackedFileSource ----

TPackedFileSource::TPackedFileSource(std::unique_ptr<TOrbUnpack> unpack)
    : m_owned(std::move(unpack)), m_unpack(m_owned.get()) {}

TPackedFileSource::TPackedFileSource(TOrbUnpack& unpack) : m_unpack(&unpack) {}

TPackedFileSource::~TPackedFileSource() = default;

std::unique_ptr<TStream> TPackedFileSource::OpenUnmapped(const std::u16string& name) {
    return m_unpack->OpenEntry(name);
}

// ---- image handles and images ----

namespace access {

TImageHandle::TImageHandle(std::u16string key, uint32_t sourceId, ql::TRef<TImageCache> cache)
    : m_key(std::move(key)), m_sourceId(sourceId), m_cache(std::move(cache)) {
    ++m_cache->LiveHandles;
}

TImageHandle::~TImageHandle() {
    std::lock_guard<std::mutex> guard(m_cache->Lock);
    // A newer handle may stand under the name already.
    auto found = m_cache->Handles.find(m_key);
    if (found != m_cache->Handles.end() && found->second == this) m_cache->Handles.erase(found);
    --m_cache->LiveHandles;
}

TOrbImage::TOrbImage(ql::TRef<TImageHandle> handle) : m_handle(std::move(handle)) {}

TOrbImage::~TOrbImage() = default;

ql::TRef<TBitmapStore> TOrbImage::BitmapStore() const {
    std::lock_guard<std::mutex> guard(m_handle->Lock);
    return m_handle->Store;
}

std::unique_ptr<TOrbImage> TOrbImage::Clone() const {
    return std::make_unique<TOrbImage>(m_handle);
}

}  // namespace access

std::u16string PlaceholderMessage(const std::u16string& name, bool fileOpened) {
    if (IsVideoName(name)) return fileOpened ? u"Video load error:" : u"Video not found:";
    return fileOpened ? u"Image load error:" : u"Image not found:";
}

std::unique_ptr<ql::TBitmap> RenderPlaceholderPicture(const std::u16string& text) {
    std::vector<std::u16string> lines(1);
    for (char16_t c : text) {
        if (c == u'\n')
            lines.emplace_back();
        else
            lines.back() += c;
    }
    try {
        ql::TTextProducer producer;
        producer.SetText(
            std::make_unique<ql::TSimpleVectorText>(lines, kPlaceholderFont, kPlaceholderFontSize));
        return producer.Render(kPlaceholderTextColour, kPlaceholderBackground, {0, 0}, false, false,
                               kPlaceholderScale);
    } catch (const ql::Exception&) {
        // Without any font the placeholder still stands in, as one clear pixel.
        auto pixel = ql::CreateBitmap(1, 1, ql::PfARGB32());
        pixel->FillRect(pixel->Bounds(), 0);
        return pixel;
    }
}

TPlaceholderStore::TPlaceholderStore(std::u16string text)
    : ql::TWrapperBitmapStore(RenderPlaceholderPicture(text)), PlaceholderText(std::move(text)) {}

std::u16string PlaceholderTextOf(const TBitmapStore& store) {
    const auto* placeholder = dynamic_cast<const TPlaceholderStore*>(&store);
    return placeholder ? placeholder->PlaceholderText : std::u16string();
}

namespace {
ql::TRef<TBitmapStore> MakePlaceholder(const std::u16string& name, bool fileOpened) {
    const size_t separator = LastSeparator(name);
    const std::u16string folder =
        separator == std::u16string::npos ? std::u16string() : name.substr(0, separator);
    return ql::MakeRef<TPlaceholderStore>(PlaceholderMessage(name, fileOpened) + u"\n" +
                                          LastPathComponent(name) + u"\nPath:\n" + folder);
}

// The source's orientation hook in the decoders' form.
ql::TImageOrientation OrientationHook(void* context, ql::TImageParams& params) {
    return static_cast<const TFileSource*>(context)->Orientation(params.Name, params.Width,
                                                                 params.Height);
}

ql::TRef<TBitmapStore> DecodeWithRegistry(TStream& stream, const std::u16string& name,
                                          const TFileSource& source) {
    const bool hooked = source.HasOrientationHook();
    return ql::LoadImageFromStream(stream, name, hooked ? OrientationHook : nullptr,
                                   hooked ? const_cast<TFileSource*>(&source) : nullptr)
        .Image.Store();
}

// A decoded picture whose full size passes the whole picture memory budget
// would fail on its first level whatever else let go: it is refused at once,
// so that its stand-in shows and the log says why, once per opening. One that
// fits the budget but not what is left of it now is kept: the budget releases
// what is not on screen when it is drawn, and a slide made ready ahead while
// others hold the memory still shows its picture when its turn comes.
// A generated picture counts at the finest level drawn, not at its named size.
bool FitsPictureBudget(const TBitmapStore& store, const std::u16string& name) {
    const ql::TImageParams params = store.Params();
    const ql::TPoint size = ql::MipLevelSize(std::max(params.Width, 1), std::max(params.Height, 1),
                                             std::max(store.FinestLevel(), 0));
    const int64_t bytes = int64_t(size.x) * size.y * 4;
    if (bytes <= ql::PictureMemoryBudget()) return true;
    ql::GlobalLog().WriteLine(u"Picture memory budget spent, picture left out: " +
                              name.substr(0, 200));
    return false;
}

bool LoadProgress(float) {
    return LoadCallback(nullptr);
}
}  // namespace

// ---- TFileAccessor ----

TFileAccessor::TFileAccessor(ql::TRef<TFileSource> source) : m_source(std::move(source)) {
    QL_ASSERT(m_source, "TFileAccessor without a source");
}

TFileAccessor::~TFileAccessor() = default;

std::unique_ptr<TFileAccessor> TFileAccessor::Copy() const {
    auto copy = std::make_unique<TFileAccessor>(m_source);
    copy->m_baseFolder = m_baseFolder;
    return copy;
}

void TFileAccessor::SetBaseFolder(const std::u16string& folder) {
    m_baseFolder = folder;
    if (!m_baseFolder.empty() && m_baseFolder.back() != u'/') m_baseFolder += u'/';
}

std::u16string TFileAccessor::ResolveFileName(const std::u16string& name) const {
    if (std::u16string found = FindPlainFile(name); !found.empty()) return found;
    if (m_baseFolder.empty()) return {};
    const std::u16string inBase = m_baseFolder + LastPathComponent(name);
    if (auto found = ql::platform::FindPathIgnoringCase(inBase);
        found && ql::TFileAPI::FileExists(*found)) {
        return *found;
    }
    return {};
}

std::unique_ptr<TStream> TFileAccessor::OpenFromSource(const std::u16string& name) {
    std::unique_ptr<TStream> stream = m_source->Open(name);
    if (!stream && m_source->OpensPlainFiles() && !m_baseFolder.empty()) {
        const std::u16string fileName = ResolveFileName(name);
        if (!fileName.empty()) stream = OpenExistingFile(fileName);
    }
    if (!stream) return nullptr;
    const int64_t size = stream->GetSize();
    if (size < 0) return nullptr;
    auto window = std::make_unique<ql::TPartialStream>(std::move(stream), 0, size);
    window->SetCallback(&LoadCallback, nullptr, kLoadCallbackChunk);
    return window;
}

std::unique_ptr<TStream> TFileAccessor::OpenStream(const std::u16string& name) {
    std::unique_ptr<TStream> stream = OpenFromSource(name);
    if (stream && m_streamFilter) stream = m_streamFilter(name, std::move(stream));
    if (!stream && m_fallbackOpener) return m_fallbackOpener(name);
    return stream;
}

std::unique_ptr<access::TOrbImage> TFileAccessor::OpenImage(const std::u16string& name) {
    TImageCache& cache = m_source->ImageCache();
    const std::u16string key = ql::LowerCase(name);
    ql::TRef<access::TImageHandle> handle;
    {
        std::lock_guard<std::mutex> guard(cache.Lock);
        access::TImageHandle*& entry = cache.Handles[key];
        // A handle whose last image is going waits in its destructor for
        // this lock; it is replaced here and leaves the newer entry alone.
        handle = ql::TRef<access::TImageHandle>::TryShare(entry);
        if (!handle) {
            handle = ql::MakeRef<access::TImageHandle>(key, m_source->SourceId(),
                                                       ql::TRef<TImageCache>(&cache));
            entry = handle.Get();
        }
    }

    {
        // A second thread asking for the same picture waits here for the first.
        std::lock_guard<std::mutex> guard(handle->Lock);
        if (!handle->Loaded) {
            ql::TRef<TBitmapStore> store = m_source->AskImageProviders(name);
            bool fileOpened = false;
            // A picture a provider makes (a generated mask, a text, a shadow)
            // that passes the budget stands in as one from a file does.
            bool refused = false;
            if (store && PlaceholderTextOf(*store).empty() && !FitsPictureBudget(*store, name)) {
                store = nullptr;
                refused = true;
            }
            if (!store && !refused) {
                try {
                    std::unique_ptr<TStream> stream = OpenFromSource(name);
                    fileOpened = stream != nullptr;
                    if (stream) {
                        const TImageDecoder decoder = m_source->ImageDecoder();
                        store = decoder ? decoder(*stream, name, *m_source)
                                        : DecodeWithRegistry(*stream, name, *m_source);
                        if (store && !FitsPictureBudget(*store, name)) store = nullptr;
                    }
                } catch (const ql::Exception&) {
                    store = nullptr;
                }
            }
            // A load that the LoadCallback stopped (a show closing) is not the
            // picture's answer: the next request decodes again.
            const bool stopped = !store && fileOpened && LoadCallbackMode() == kLoadStop;
            if (!store) store = MakePlaceholder(name, fileOpened || refused);
            handle->Store = store;
            handle->Loaded = !stopped;
        }
        if (handle->Store) handle->Store->SetProgress(&LoadProgress);
    }
    return std::make_unique<access::TOrbImage>(std::move(handle));
}

}  // namespace orb
