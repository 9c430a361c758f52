// The shared side of video objects: one extractor wrapper per video file and
// slide cycle, found by identity in the slide host's list, so that the video
// objects of one clip share one decoder and one pool of frames.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QlLib/SysObj.h"
#include "QlLib/Video/qlOrbVideoExtractor.h"
#include "QlLib/Video/qlWinVideoSource.h"

namespace ql {
class TIniIdentList;
}

namespace orb {

class TFileAccessor;
class TVideoWrapperList;

// What the objects need to know of an opened video.
struct TVideoStreamInfo {
    int32_t Width = 0;
    int32_t Height = 0;
    double Rate = 0;
    int64_t FrameCount = 0;
    int32_t AspectCode = 0;   // 0 square pixels, 1 4:3, 2 16:9
    int32_t Interlacing = 0;  // 0 progressive, 1 top field first, 2 bottom first
    // frame count / rate, in ms
    double LengthMs() const { return Rate > 0 ? double(FrameCount) / Rate * 1000.0 : 0; }
};

class TExtractorWrapper : public ql::TRefObj {
public:
    ~TExtractorWrapper() override;

    const std::u16string& Identity() const { return m_identity; }
    const std::u16string& FileName() const { return m_fileName; }
    bool LoadFromDisk() const { return m_loadFromDisk; }

    // Opens the file when its name (or where it is read from) changed: from
    // the show's package, or with loadFromDisk from a regular file on disk.
    // A file that cannot be played leaves the failure code and no extractor.
    void SetFile(TFileAccessor& accessor, const std::u16string& fileName, bool loadFromDisk);
    ql::TVideoFailure Failure() const { return m_failure; }
    const TVideoStreamInfo& Info() const { return m_info; }
    // nullptr without a playable file.
    ql::TOrbVideoExtractor* Extractor() const { return m_extractor.get(); }

    // The first seek of the wrapper's objects is done once (unless forced).
    bool TakeFirstSeek() { return std::exchange(m_firstSeekPending, false); }

private:
    friend class TVideoWrapperList;
    struct TListState;
    TExtractorWrapper(std::u16string identity, std::shared_ptr<TListState> list);

    std::u16string m_identity;
    std::shared_ptr<TListState> m_list;
    std::u16string m_fileName;
    bool m_loadFromDisk = false;
    bool m_opened = false;
    ql::TVideoFailure m_failure = ql::TVideoFailure::NoStream;
    TVideoStreamInfo m_info;
    std::unique_ptr<ql::TOrbVideoExtractor> m_extractor;
    bool m_firstSeekPending = true;
};

// The slide host's wrappers. The list holds no reference: a wrapper leaves it
// when its last user releases it, and the list may go before its wrappers.
class TVideoWrapperList {
public:
    TVideoWrapperList();
    ~TVideoWrapperList();

    // The wrapper of that identity ("cycle:GUID"), shared, or a new one.
    ql::TRef<TExtractorWrapper> Acquire(const std::u16string& identity);
    size_t Count() const;

private:
    std::shared_ptr<TExtractorWrapper::TListState> m_state;
};

// A clip of the show's video container: one file playing on across slides.
struct TVideoClip2 {
    std::u16string ClipGUID;
    bool LoadFromDisk = false;
    std::u16string FileName;
    double Duration = 0;
    double StartVideoTime = 0;
    double StartORBTime = 0;
    std::u16string ClipCaption;
    int32_t StartSlideIdx = 0;
    bool Mute = false;
    std::u16string MasterID;
    // The end of slide StartSlideIdx ("opt_synchpos" + index), or 0.
    double BaseTime = 0;
};

// The clips of the "VideoBoss" container of the Main section.
class TVideoClips {
public:
    // Reads the container's "videoclip" children (any case); a Main section
    // without the container has no clips.
    void Load(const ql::TIniIdentList& main);
    // nullptr when no clip has that identity.
    const TVideoClip2* Find(const std::u16string& clipGuid) const;
    size_t Count() const { return m_clips.size(); }

private:
    std::vector<TVideoClip2> m_clips;
};

// The identity of a slide cycle's wrapper for a clip or an object's own file.
std::u16string VideoWrapperIdentity(int32_t cycle, const std::u16string& guid);

}  // namespace orb
