#include "QlLib/Music/CompositeConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

constexpr double kBytesPerMs = 176.4;
// A factor the sum takes as it is: within 1 % of unity.
constexpr double kUnityLow = 0.99;
constexpr double kUnityHigh = 1.01;
// Below these an item, or the whole mix, is silent.
constexpr double kItemSilence = 0.00001;
constexpr double kMasterSilence = 0.001;
// Each envelope's factor stays within 0 .. 10; the product of several is held
// there too, which keeps the 32-bit sum of kMaxOpenItems items far from overflow.
constexpr double kMaxFactor = kMaxVolume / 1000.0;

int32_t Scale(int32_t sample, double factor) {
    const double x = double(sample) * factor;
    return x < 0 ? -int32_t(-x + 0.5) : int32_t(x + 0.5);
}

std::string Shown(const std::u16string& name) {
    std::string text = ToUtf8(name);
    if (text.size() > 80) text = text.substr(0, 80) + "...";
    return text;
}

}  // namespace

std::optional<TMediaInfo> CompositeMediaInfo(std::u16string_view text) {
    TCompositeParams params;
    if (!params.ReadText(text)) return std::nullopt;
    TMediaInfo info;
    info.MediaType = TMediaType::Composite;
    info.LengthMs = params.Duration;
    info.Format = OutputWaveFormat();
    info.DataSize = CompositeBytePos(params.Duration);
    return info;
}

TCompositeConverter::TCompositeConverter(std::u16string text, TPcmSourceFactory openItem)
    : TWavConverter(EmptyStream), m_text(std::move(text)), m_openItem(std::move(openItem)) {
    if (!m_openItem)
        m_openItem = [](const std::u16string& name) -> std::unique_ptr<TPcmSource> {
            return OpenConverterSource(name);
        };
}

TCompositeConverter::~TCompositeConverter() {
    for (TCompositeItem2& item : m_params.WorkItems) item.Source.reset();
}

bool TCompositeConverter::Open(const TMediaInfo& info) {
    if (!m_params.ReadWorking(m_text)) return false;
    m_text.clear();
    m_text.shrink_to_fit();
    m_info = info;
    m_info.MediaType = TMediaType::Composite;
    m_info.Format = OutputWaveFormat();
    m_info.LengthMs = m_params.Duration;
    m_durationBytes = CompositeBytePos(m_params.Duration);
    m_info.DataSize = m_durationBytes;
    for (TCompositeItem2& item : m_params.WorkItems) PrepareItem(item);
    if (const TVolumeParamsList* master = m_params.MainVolumeOrNull()) {
        m_master = *master;
        m_master.EdgeFades = false;
        m_master.Prepare(m_params.Duration);
        m_hasMaster = true;
    }
    m_accumulator.assign(2 * kBlockFrames, 0);
    m_itemBlock.assign(2 * kBlockFrames, 0);
    m_factors.assign(kBlockFrames, 1.0);
    if (!m_output.EnsureFreeRoom(2 * kBlockBytes)) return false;
    Seek(0);
    return true;
}

void TCompositeConverter::PrepareItem(TCompositeItem2& item) {
    const int64_t room = int64_t(m_params.Duration) - item.TimeLine;
    int64_t length = room;
    if (item.Duration > 0) {
        length = std::min<int64_t>(item.Duration, room);
    } else if (item.FileLengthMs >= 0) {
        // To the end of the file: its own end finishes it; the envelopes
        // run 10 s beyond, so a file longer than it said still plays on.
        length = std::min<int64_t>(room, std::llround(item.FileLengthMs) - item.BeginTime + 10000);
    }
    item.LengthMs = ClampCompositeTime(length);
    item.StartPos = CompositeBytePos(item.TimeLine);
    item.Frames = CompositeBytePos(item.LengthMs) / kOutputBytesPerFrame;
    item.Volumes.EdgeFades = true;
    item.Volumes.Prepare(item.LengthMs);
}

void TCompositeConverter::CloseItem(TCompositeItem2& item, TCompositeItem2::TState state) {
    if (item.Source) {
        item.Source.reset();
        --m_openCount;
    }
    item.IsOpened = false;
    item.BlockOffset = -1;
    item.State = state;
}

bool TCompositeConverter::OpenItem(TCompositeItem2& item, int64_t insideBytes) {
    if (item.Frames <= 0) {
        CloseItem(item, TCompositeItem2::Finished);
        return false;
    }
    if (IsCompositeName(item.FileName)) {
        GlobalLog().WriteLine("Composite item refused: an item cannot be a composite itself");
        CloseItem(item, TCompositeItem2::Finished);
        return false;
    }
    if (m_openCount >= kMaxOpenItems) {
        GlobalLog().WriteLine("Composite item \"" + Shown(item.FileName) + "\" skipped: " +
                              std::to_string(kMaxOpenItems) + " items already sound at once");
        CloseItem(item, TCompositeItem2::Finished);
        return false;
    }
    std::unique_ptr<TPcmSource> source = m_openItem(item.FileName);
    if (!source || !(source->Format() == TPcmFormat{})) {
        if (source)
            GlobalLog().WriteLine("Composite item \"" + Shown(item.FileName) +
                                  "\" skipped: not 44100 Hz stereo");
        CloseItem(item, TCompositeItem2::Finished);
        return false;
    }
    if (item.Duration <= 0) {
        item.FileLengthMs = source->LengthMs();
        PrepareItem(item);
    }
    const int64_t inside = std::max<int64_t>(insideBytes, 0) / kOutputBytesPerFrame;
    if (inside >= item.Frames) {
        CloseItem(item, TCompositeItem2::Finished);
        return false;
    }
    // Half a frame past the wanted frame, so that the source's rounding of a
    // time to a frame lands on it.
    const int64_t first = CompositeBytePos(item.BeginTime) / kOutputBytesPerFrame + inside;
    if (!source->Seek((double(first) + 0.5) / 44.1)) {
        CloseItem(item, TCompositeItem2::Finished);
        return false;
    }
    item.Source = std::move(source);
    ++m_openCount;
    item.IsOpened = true;
    item.Done = inside;
    item.Volumes.Seek(inside * kOutputBytesPerFrame);
    item.State = TCompositeItem2::Opened;
    item.BlockOffset = -1;
    return true;
}

void TCompositeConverter::Seek(double ms) {
    ClearBuffers();
    if (!(ms >= 0)) ms = 0;
    ms = std::min(ms, double(m_params.Duration));
    m_pos = std::min(CompositeBytePos(ms), m_durationBytes);
    m_position = double(m_pos) / kBytesPerMs;
    m_active.clear();
    const int64_t ahead = m_pos + CompositeBytePos(kLookAheadMs);
    std::vector<TCompositeItem2>& items = m_params.WorkItems;
    m_nextWaiting = items.size();
    for (size_t i = 0; i < items.size(); ++i) {
        TCompositeItem2& item = items[i];
        CloseItem(item, TCompositeItem2::Waiting);
        if (item.Duration <= 0) {
            item.FileLengthMs = -1;
            PrepareItem(item);
        }
        if (item.StartPos < m_pos) {
            // Started before: it continues at the matching point of its file
            // and of its envelopes, from the first block.
            if (item.StartPos + item.Frames * kOutputBytesPerFrame <= m_pos) {
                item.State = TCompositeItem2::Finished;
            } else if (OpenItem(item, m_pos - item.StartPos)) {
                item.State = TCompositeItem2::Active;
                item.BlockOffset = 0;
                m_active.push_back(i);
            }
        } else if (item.StartPos < ahead) {
            if (OpenItem(item, 0)) m_active.push_back(i);
        } else if (m_nextWaiting == items.size()) {
            m_nextWaiting = i;
        }
    }
    if (m_hasMaster) m_master.Seek(m_pos);
}

void TCompositeConverter::OpenAhead() {
    const int64_t ahead = m_pos + CompositeBytePos(kLookAheadMs);
    std::vector<TCompositeItem2>& items = m_params.WorkItems;
    while (m_nextWaiting < items.size() && items[m_nextWaiting].StartPos < ahead) {
        if (OpenItem(items[m_nextWaiting], 0)) m_active.push_back(m_nextWaiting);
        ++m_nextWaiting;
    }
}

bool TCompositeConverter::Decode() {
    if (m_pos >= m_durationBytes) return false;
    const size_t bytes = size_t(std::min<int64_t>(int64_t(kBlockBytes), m_durationBytes - m_pos));
    if (!m_output.EnsureFreeRoom(bytes)) return false;
    MixBlock(bytes);
    m_output.Commit(bytes);
    m_pos += int64_t(bytes);
    m_position = double(m_pos) / kBytesPerMs;
    OpenAhead();
    return true;
}

bool TCompositeConverter::MixItem(TCompositeItem2& item, size_t offsetFrames, size_t frames) {
    const size_t want = size_t(std::min<int64_t>(int64_t(frames), item.Frames - item.Done));
    const size_t got = want > 0 ? std::min(item.Source->Read(m_itemBlock.data(), want), want) : 0;
    item.Volumes.Seek(item.Done * kOutputBytesPerFrame);
    bool envelopesEnded = false;
    const size_t mixed = item.Volumes.Fill(got, m_factors.data(), envelopesEnded);
    int32_t* acc = m_accumulator.data() + 2 * offsetFrames;
    const int16_t* in = m_itemBlock.data();
    const double* factors = m_factors.data();
    for (size_t k = 0; k < mixed; ++k) {
        const double factor = factors[k];
        if (factor >= kUnityLow && factor < kUnityHigh) {
            acc[2 * k] += in[2 * k];
            acc[2 * k + 1] += in[2 * k + 1];
        } else if (factor > kItemSilence) {
            acc[2 * k] += Scale(in[2 * k], factor);
            acc[2 * k + 1] += Scale(in[2 * k + 1], factor);
        }
    }
    item.Done += int64_t(mixed);
    return !(envelopesEnded || got < want || item.Done >= item.Frames);
}

void TCompositeConverter::ApplyMaster(size_t frames, int16_t* out) {
    const int32_t* acc = m_accumulator.data();
    bool ended = false;
    const size_t scaled = m_hasMaster ? m_master.Fill(frames, m_factors.data(), ended) : 0;
    // Past the master's last point its factor stays; Fill stops there.
    if (scaled < frames) {
        double last;
        m_master.Factor(last);
        std::fill(m_factors.begin() + std::ptrdiff_t(scaled),
                  m_factors.begin() + std::ptrdiff_t(frames),
                  m_hasMaster ? std::min(last, kMaxFactor) : 1.0);
    }
    const double* factors = m_factors.data();
    for (size_t k = 0; k < frames; ++k) {
        int32_t left = acc[2 * k];
        int32_t right = acc[2 * k + 1];
        const double factor = factors[k];
        if (!(factor >= kUnityLow && factor < kUnityHigh)) {
            if (factor > kMasterSilence) {
                left = Scale(left, factor);
                right = Scale(right, factor);
            } else {
                left = right = 0;
            }
        }
        out[2 * k] = int16_t(std::clamp(left, -32768, 32767));
        out[2 * k + 1] = int16_t(std::clamp(right, -32768, 32767));
    }
}

void TCompositeConverter::MixBlock(size_t bytes) {
    const size_t frames = bytes / kOutputBytesPerFrame;
    std::fill(m_accumulator.begin(), m_accumulator.begin() + std::ptrdiff_t(2 * frames), 0);
    std::vector<TCompositeItem2>& items = m_params.WorkItems;
    const int64_t blockEnd = m_pos + int64_t(bytes);
    for (size_t index : m_active) {
        TCompositeItem2& item = items[index];
        if (item.State == TCompositeItem2::Opened && item.StartPos < blockEnd) {
            item.State = TCompositeItem2::Active;
            item.BlockOffset = std::max<int64_t>(item.StartPos - m_pos, 0);
        }
        if (item.State != TCompositeItem2::Active) continue;
        const size_t offset = size_t(std::max<int64_t>(item.BlockOffset, 0)) / kOutputBytesPerFrame;
        item.BlockOffset = -1;
        if (!MixItem(item, offset, frames - offset)) CloseItem(item, TCompositeItem2::Finished);
    }
    std::erase_if(m_active,
                  [&](size_t index) { return items[index].State == TCompositeItem2::Finished; });
    if (m_hasMaster) m_master.Seek(m_pos);
    ApplyMaster(frames, reinterpret_cast<int16_t*>(m_output.End()));
}

std::unique_ptr<TConverterSource> OpenCompositeSource(const std::u16string& text,
                                                      TPcmSourceFactory openItem) {
    const std::optional<TMediaInfo> info = CompositeMediaInfo(text);
    if (!info) {
        GlobalLog().WriteLine("Composite skipped: no item or no duration");
        return nullptr;
    }
    auto converter = std::make_unique<TCompositeConverter>(text, std::move(openItem));
    if (!converter->Open(*info)) return nullptr;
    // The text is long; the log names the composite by its size.
    const std::u16string name =
        u"composite of " + FromUtf8(std::to_string(converter->ItemCount())) + u" items";
    return std::make_unique<TConverterSource>(nullptr, *info, std::move(converter), name);
}

}  // namespace ql
