// Video objects ("video" and "mainvideo" blocks): frames of a clip in step
// with the show clock. The object reads its keys, shares the extractor
// wrapper of its file with the other objects of the slide cycle, works out
// the position in the file for the slide time and takes the frame for it from
// the extractor; in exact mode (rendering to a file) it waits for that frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "OrbLib2/OrbClasses/qlOrbObjects4.h"
#include "OrbLib2/OrbClasses/qlOrbVideoTiming.h"
#include "OrbLib2/OrbClasses/qlOrbVideoWrapper.h"

namespace orb {

class T3DDrawer;
class T3DYUV;

// Exact mode: every video waits for the frame of its position before it is
// drawn. Off (real-time drawing never waits) unless rendering sets it or a
// TExactVideoFrames lives.
void SetVideoFramesExact(bool on);
bool VideoFramesExact();

// Exact mode for as long as the object lives: a deterministic engine holds
// one, so that its frames never depend on how fast the decoder was, while
// engines drawing in real time in the same process go on never waiting.
class TExactVideoFrames {
public:
    TExactVideoFrames();
    ~TExactVideoFrames();
    TExactVideoFrames(const TExactVideoFrames&) = delete;
    TExactVideoFrames& operator=(const TExactVideoFrames&) = delete;
};

class TOrbVideo : public TOrbObject {
public:
    // type: the block type, "video" or "mainvideo".
    TOrbVideo(TOrbObject* parent, std::u16string guid, std::u16string type = u"video");
    ~TOrbVideo() override;

    const std::u16string& BlockType() const { return m_type; }
    bool MainVideo() const { return m_mainVideo; }
    const std::u16string& FileName() const { return m_fileName; }
    // The clip of the video container the object plays; empty for its own file.
    const std::u16string& ClipGUID() const { return m_clipGuid; }
    bool Mute() const { return m_mute; }
    bool LoadFromDisk() const { return m_loadFromDisk; }
    bool WaitForConvert() const { return m_waitForConvert; }
    TDeinterlaceType DeinterlaceType() const { return m_deinterlace; }
    const TVideoTiming& Timing() const { return m_timing; }
    // 0 none, 1 a stream that cannot be decoded, 2 no video stream.
    int32_t FailureCode() const;
    double PixelAspect() const { return m_pixelAspect; }
    const TExtractorWrapper* Wrapper() const { return m_wrapper.Get(); }

    // The position in the file for the last applied time, in ms.
    double Position() const { return m_position; }
    // frame(position) of the clip; -1 without a playable file.
    int64_t WantedFrame() const;
    // The frame last taken for drawing (-2 none) and whether it was the
    // wanted one.
    int64_t HeldFrame() const { return m_heldFrame; }
    bool HeldExact() const { return m_heldExact; }
    // Which field the drawing shows (0 whole frame, 1 top, 2 bottom).
    int32_t Field() const;

    // Takes the frame for the current position from the extractor (waiting
    // for it with wait), converts it for drawing when it is another frame
    // than the one drawn, and gives it back.
    void SyncFrame(bool wait);

    void LoadFromDocument(const ql::TIniIdentList& section, bool reload) override;
    void ApplyTime(bool recursive, double t) override;
    // Brings the frame of the position to the drawer (waiting for it in
    // exact mode only).
    void Prepare(TDeviceDrawer& drawer) override;
    // Also while the frame held is not yet the frame of the position.
    bool IsChanged() const override;
    void Draw(TDeviceDrawer& drawer) override;

private:
    // Takes the frame of the position and gives a new one to the drawer.
    void UploadFrame(TDeviceDrawer& drawer);
    // The drawer's video surface for the frame where the drawer offers one
    // (made on first use, nullptr otherwise).
    void AttachSurface(TDeviceDrawer& drawer);
    void ReleaseSurface();
    // The frame, or its field line-doubled, onto the surface.
    void SetSurfaceFrame(const ql::TYuvImage& image, int32_t field);

    std::u16string m_type;
    std::u16string m_clipGuid;  // empty: the object's own file
    double m_clipBaseTime = 0;
    std::u16string m_fileName;
    bool m_mute = false;
    bool m_loadFromDisk = false;
    bool m_mainVideo = false;
    bool m_waitForConvert = false;
    bool m_antialiasedBorder = true;
    TDeinterlaceType m_deinterlace = TDeinterlaceType::Auto;
    TVideoTiming m_timing;
    double m_pixelAspect = 1;
    ql::TRef<TExtractorWrapper> m_wrapper;
    double m_position = 0;
    int64_t m_heldFrame = -2;
    bool m_heldExact = false;
    // The frame converted for drawing and not yet given to the drawer; its
    // key is frame x 4 + field (-2 none), as is m_drawnFrame's.
    std::unique_ptr<ql::TBitmap> m_pending;
    int64_t m_pendingFrame = -2;
    // The frame on the drawer's side, and the drawer that holds it.
    TDrawPicture m_picture;
    int64_t m_drawnFrame = -2;
    TDeviceDrawer* m_drawer = nullptr;
    // The frame on a video surface of the drawer, converted by the device:
    // the surface, its drawer and the key of the frame it holds (-2 none).
    // With a surface no picture is made of the frame.
    T3DYUV* m_surface = nullptr;
    T3DDrawer* m_surfaceDrawer = nullptr;
    int64_t m_surfaceFrame = -2;
    ql::TYuvImage m_field;  // a field line-doubled, reused
};

}  // namespace orb
