#include "OrbLib2/OrbClasses/qlOrbVideoWrapper.h"

#include <algorithm>
#include <filesystem>

#include "OrbLib2/OrbClasses/qlOrbVideoTiming.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

struct TExtractorWrapper::TListState {
    mutable std::mutex Lock;
    std::vector<TExtractorWrapper*> Wrappers;  // under Lock; no references held
};

TExtractorWrapper::TExtractorWrapper(std::u16string identity, std::shared_ptr<TListState> list)
    : m_identity(std::move(identity)), m_list(std::move(list)) {}

TExtractorWrapper::~TExtractorWrapper() {
    m_extractor.reset();  // stops the worker before the source goes
    std::lock_guard<std::mutex> lock(m_list->Lock);
    auto& wrappers = m_list->Wrappers;
    wrappers.erase(std::remove(wrappers.begin(), wrappers.end(), this), wrappers.end());
}

namespace {

// A regular file only: a device, a pipe or a folder never opens as a clip.
std::unique_ptr<ql::TStream> OpenDiskFile(const std::u16string& fileName) {
    std::error_code error;
    const std::filesystem::path path(ql::ToUtf8(fileName));
    if (!std::filesystem::is_regular_file(path, error)) return nullptr;
    try {
        return std::make_unique<ql::TFileStream>(fileName, ql::TFileAccess::Read, ql::kShareRead,
                                                 ql::TFileDisposition::OpenExisting);
    } catch (const ql::Exception&) {
        return nullptr;
    }
}

}  // namespace

void TExtractorWrapper::SetFile(TFileAccessor& accessor, const std::u16string& fileName,
                                bool loadFromDisk) {
    if (m_opened && fileName == m_fileName && loadFromDisk == m_loadFromDisk) return;
    m_opened = true;
    m_fileName = fileName;
    m_loadFromDisk = loadFromDisk;
    m_extractor.reset();
    m_info = {};
    m_failure = ql::TVideoFailure::NoStream;
    m_firstSeekPending = true;
    if (fileName.empty()) return;
    std::unique_ptr<ql::TStream> stream;
    try {
        stream = loadFromDisk ? OpenDiskFile(fileName) : accessor.OpenStream(fileName);
    } catch (const ql::Exception& error) {
        ql::GlobalLog().WriteLine(u"Video " + fileName + u" not opened: " +
                                  ql::FromUtf8(error.Message()));
    }
    if (!stream) return;
    auto source = std::make_unique<ql::TWinVideoSource>();
    m_failure = source->Open(stream.release(), true, fileName);
    if (m_failure != ql::TVideoFailure::None) {
        ql::GlobalLog().WriteLine(u"Video " + fileName + u" cannot be played (failure code " +
                                  ql::IntToStr(int32_t(m_failure)) + u")");
        return;
    }
    m_info.Width = source->Width();
    m_info.Height = source->Height();
    m_info.Rate = source->FrameRate();
    m_info.FrameCount = source->FrameCount();
    m_info.AspectCode = source->Info().AspectCode;
    m_info.Interlacing = source->Info().Interlacing;
    const ql::TVideoParams params{m_info.Rate, m_info.FrameCount, false};
    m_extractor = std::make_unique<ql::TOrbVideoExtractor>(source.release(), true, params);
}

TVideoWrapperList::TVideoWrapperList()
    : m_state(std::make_shared<TExtractorWrapper::TListState>()) {}

TVideoWrapperList::~TVideoWrapperList() = default;

ql::TRef<TExtractorWrapper> TVideoWrapperList::Acquire(const std::u16string& identity) {
    std::lock_guard<std::mutex> lock(m_state->Lock);
    for (TExtractorWrapper* wrapper : m_state->Wrappers)
        if (wrapper->Identity() == identity)
            if (auto shared = ql::TRef<TExtractorWrapper>::TryShare(wrapper)) return shared;
    auto wrapper = ql::TRef<TExtractorWrapper>::Adopt(new TExtractorWrapper(identity, m_state));
    m_state->Wrappers.push_back(wrapper.Get());
    return wrapper;
}

size_t TVideoWrapperList::Count() const {
    std::lock_guard<std::mutex> lock(m_state->Lock);
    return m_state->Wrappers.size();
}

void TVideoClips::Load(const ql::TIniIdentList& main) {
    m_clips.clear();
    const ql::TIniObject* boss = nullptr;
    for (const ql::TIniObject* o = main.FirstObject(); o; o = ql::TIniIdentList::NextObject(*o))
        if (o->ObjectClass() == u"VideoBoss") boss = o;
    if (!boss) return;
    for (const ql::TIniObject* o = boss->FirstObject(); o; o = ql::TIniIdentList::NextObject(*o)) {
        if (ql::LowerCase(o->ObjectClass()) != u"videoclip") continue;
        TVideoClip2 clip;
        clip.ClipGUID = o->ReadString(u"ClipGUID", u"");
        clip.LoadFromDisk = o->ReadBool(u"LoadFromDisk", false);
        clip.FileName = o->ReadString(u"FileName", u"");
        clip.Duration = o->ReadReal(u"Duration", 0);
        clip.StartVideoTime = o->ReadReal(u"StartVideoTime", 0);
        clip.StartORBTime = o->ReadReal(u"StartORBTime", 0);
        clip.ClipCaption = o->ReadString(u"ClipCaption", u"");
        clip.StartSlideIdx = o->ReadInteger(u"StartSlideIdx", 0);
        clip.Mute = o->ReadBool(u"Mute", false);
        clip.MasterID = o->ReadString(u"MasterID", u"");
        clip.BaseTime = ClipBaseTime(clip.StartSlideIdx, main);
        if (!clip.ClipGUID.empty()) m_clips.push_back(std::move(clip));
    }
}

const TVideoClip2* TVideoClips::Find(const std::u16string& clipGuid) const {
    if (clipGuid.empty()) return nullptr;
    for (const TVideoClip2& clip : m_clips)
        if (clip.ClipGUID == clipGuid) return &clip;
    return nullptr;
}

std::u16string VideoWrapperIdentity(int32_t cycle, const std::u16string& guid) {
    return ql::IntToStr(cycle) + u":" + guid;
}

}  // namespace orb
