#include "QlLib/Music/WavConverters.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "QlLib/Music/CompositeConverter.h"
#include "QlLib/Music/FFMpegConverter.h"
#include "QlLib/Music/MediaInfo.h"
#include "QlLib/Music/MpegConverter.h"
#include "QlLib/Music/OggConverter.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

constexpr double kOutputBytesPerMs = 176.4;

}  // namespace

TWavConverter::TWavConverter(TStream& stream) : m_stream(stream) {}

void TWavConverter::ClearBuffers() {
    m_input.Clear();
    m_output.Clear();
    if (m_resampler) m_resampler->Reset();
    m_ended = false;
}

bool TWavConverter::Open(const TMediaInfo& info) {
    m_info = info;
    if (!info.Format.PlausiblePcm()) return false;
    const size_t block = info.Format.BlockAlign;
    const size_t chunk = info.Format.BitsPerSample == 24 ? kInputChunk24 : kInputChunk;
    m_inputChunk = std::max(block, chunk - chunk % block);
    if (!m_input.EnsureFreeRoom(m_inputChunk) || !m_output.EnsureFreeRoom(kInputChunk))
        return false;
    SetPcmFormat(info.Format, LayoutFromMask(info.ChannelMask, info.Format.Channels));
    Seek(0);
    return true;
}

void TWavConverter::SetPcmFormat(const TWaveFormat& format, TChannelLayout layout) {
    m_pcmFormat = format;
    if (format == OutputWaveFormat())
        m_resampler.reset();
    else
        m_resampler =
            std::make_unique<TPcmResampler>(format, OutputWaveFormat(), std::move(layout));
}

void TWavConverter::Seek(double ms) {
    ClearBuffers();
    ms = std::clamp(ms, 0.0, double(std::max<int64_t>(m_info.LengthMs, 0)));
    const int64_t block = std::max<int64_t>(m_info.Format.BlockAlign, 1);
    const int64_t bytes = std::llround(ms / 1000.0 * m_info.Format.AvgBytesPerSec);
    m_readPosition = std::min(bytes / block * block, m_info.DataSize);
    m_stream.SetPosition(m_info.DataStart + m_readPosition);
    m_position = ms;
}

bool TWavConverter::ReadInput() {
    const int64_t left = m_info.DataSize - m_readPosition;
    if (left <= 0) return false;
    if (!m_input.EnsureFreeRoom(m_inputChunk - std::min(m_inputChunk, m_input.Fill())))
        return false;
    const size_t want = size_t(std::min<int64_t>(left, int64_t(m_input.FreeRoom())));
    if (want == 0) return false;
    const size_t got = m_input.ReadFrom(m_stream, want);
    m_readPosition += int64_t(got);
    if (got == 0) m_readPosition = m_info.DataSize;  // the file is shorter than its header says
    return got > 0;
}

size_t TWavConverter::EmitPcm(const uint8_t* data, size_t bytes) {
    const size_t block = m_pcmFormat.BlockAlign;
    const size_t whole = bytes - bytes % block;
    if (whole == 0) return 0;
    size_t produced;
    if (m_resampler) {
        const size_t need = m_resampler->OutputBytesFor(whole);
        if (!m_output.EnsureFreeRoom(need)) return 0;
        produced = m_resampler->Process(data, whole, m_output.End());
        m_output.Commit(produced);
    } else {
        if (!m_output.EnsureFreeRoom(whole)) return 0;
        m_output.Append(data, whole);
        produced = whole;
    }
    m_position += double(produced) / kOutputBytesPerMs;
    return whole;
}

bool TWavConverter::Decode() {
    const size_t taken = EmitPcm(m_input.Data(), m_input.Fill());
    m_input.Consume(taken);
    return taken > 0;
}

size_t TWavConverter::FillAvailable(size_t bytes) {
    // Each round either reads, decodes or ends; a source that stops giving
    // both ends the fill.
    while (m_output.Fill() < bytes && !m_ended) {
        const bool read = ReadInput();
        const bool decoded = Decode();
        if (!read && !decoded) m_ended = true;
    }
    return std::min(bytes, m_output.Fill());
}

bool TWavConverter::Fill(size_t bytes) {
    FillAvailable(bytes);
    if (m_output.Fill() >= bytes) return true;
    const size_t missing = bytes - m_output.Fill();
    if (!m_output.EnsureFreeRoom(missing)) return false;
    std::memset(m_output.End(), 0, missing);
    m_output.Commit(missing);
    return false;
}

bool TAdpcmConverter::Open(const TMediaInfo& info) {
    m_info = info;
    const std::span<const uint8_t> extra(
        info.FormatExtra.data(), std::min<size_t>(info.Format.ExtraSize, info.FormatExtra.size()));
    if (!MakeAdpcmLayout(info.Format, extra, m_layout)) return false;
    m_inputChunk = std::max<size_t>(size_t(m_layout.BlockAlign),
                                    kInputChunk - kInputChunk % size_t(m_layout.BlockAlign));
    m_block.resize(size_t(m_layout.SamplesPerBlock * m_layout.Channels));
    if (!m_input.EnsureFreeRoom(m_inputChunk)) return false;
    SetPcmFormat(TWaveFormat::Pcm(info.Format.SamplesPerSec, uint16_t(m_layout.Channels), 16));
    Seek(0);
    return true;
}

bool TAdpcmConverter::ReadInput() {
    return TWavConverter::ReadInput();
}

bool TAdpcmConverter::Decode() {
    const size_t block = size_t(m_layout.BlockAlign);
    const bool atEnd = m_readPosition >= m_info.DataSize;
    size_t used = 0;
    while (m_input.Fill() - used >= block || (atEnd && m_input.Fill() > used)) {
        const size_t size = std::min(block, m_input.Fill() - used);
        const int frames = DecodeAdpcmBlock(m_layout, m_input.Data() + used, size, m_block.data());
        used += size;
        EmitPcm(reinterpret_cast<const uint8_t*>(m_block.data()),
                size_t(frames) * size_t(m_layout.Channels) * 2);
    }
    m_input.Consume(used);
    return used > 0;
}

std::unique_ptr<TWavConverter> CreateConverter(TStream& stream, const TMediaInfo& info) {
    std::unique_ptr<TWavConverter> converter;
    switch (info.MediaType) {
        case TMediaType::WavPcm:
        case TMediaType::WavFloat:
            converter = std::make_unique<TWavConverter>(stream);
            break;
        case TMediaType::WavAdpcm:
            converter = std::make_unique<TAdpcmConverter>(stream);
            break;
        case TMediaType::Mpeg:
            converter = std::make_unique<TMpegConverter>(stream);
            break;
        case TMediaType::Ogg:
            converter = std::make_unique<TOggConverter>(stream);
            break;
        case TMediaType::FFmpeg:
            converter = std::make_unique<TFFMpegConverter>(stream);
            break;
        default:
            GlobalLog().WriteLine(std::string("No converter for media type ") +
                                  MediaTypeName(info.MediaType));
            return nullptr;
    }
    if (!converter->Open(info)) return nullptr;
    return converter;
}

TConverterSource::TConverterSource(std::unique_ptr<TStream> stream, const TMediaInfo& info,
                                   std::unique_ptr<TWavConverter> converter, std::u16string name)
    : m_stream(std::move(stream)),
      m_info(info),
      m_converter(std::move(converter)),
      m_name(std::move(name)),
      m_totalFrames(std::llround(double(std::max<int64_t>(info.LengthMs, 0)) * 44.1)) {}

TConverterSource::~TConverterSource() {
    m_converter.reset();
    TStreamWrapperClass::Instance().Release(std::move(m_stream));
}

void TConverterSource::Fail(const Exception& e) {
    GlobalLog().WriteLine("Sound \"" + ToUtf8(m_name) + "\" cannot be read: " + e.Message());
    m_failed = true;
    m_reportedShort = true;
    m_converter->Output().Clear();
}

bool TConverterSource::Seek(double ms) {
    if (!(ms >= 0)) return false;
    ms = std::min(ms, double(std::max<int64_t>(m_info.LengthMs, 0)));
    if (!m_failed) {
        try {
            m_converter->Seek(ms);
        } catch (const Exception& e) {
            Fail(e);
        }
    }
    m_frame = int64_t(std::floor(ms * 44.1));
    return true;
}

size_t TConverterSource::Read(int16_t* samples, size_t frameCount) {
    if (frameCount == 0) return 0;
    TLocalBuffer& output = m_converter->Output();
    const size_t wanted = frameCount * kOutputBytesPerFrame;
    size_t have = 0;
    if (!m_failed) {
        // The bytes can go away under a playing sound (a show file cut or
        // replaced on disk); the sound then falls silent, the show goes on.
        try {
            have = m_converter->FillAvailable(wanted);
        } catch (const Exception& e) {
            Fail(e);
        }
    }
    size_t frames = have / kOutputBytesPerFrame;
    std::memcpy(samples, output.Data(), frames * kOutputBytesPerFrame);
    output.Consume(frames * kOutputBytesPerFrame);
    const bool ended = m_failed || m_converter->Ended();
    if (frames < frameCount && ended && m_frame + int64_t(frames) < m_totalFrames) {
        // A source that stops early keeps its place on the time line.
        if (!m_reportedShort) {
            GlobalLog().WriteLine("Sound \"" + ToUtf8(m_name) +
                                  "\" ended early; silence for the rest of its length");
            m_reportedShort = true;
        }
        const size_t pad = size_t(std::min<int64_t>(int64_t(frameCount - frames),
                                                    m_totalFrames - m_frame - int64_t(frames)));
        std::memset(samples + frames * 2, 0, pad * kOutputBytesPerFrame);
        frames += pad;
    }
    m_frame += int64_t(frames);
    return frames;
}

std::unique_ptr<TConverterSource> OpenConverterSource(const std::u16string& name) {
    // A composite opens no stream: its description is its name.
    if (IsCompositeName(name)) return OpenCompositeSource(name);
    const TSourceName source = SplitSourceName(name);
    TStreamWrapperClass& broker = TStreamWrapperClass::Instance();
    std::unique_ptr<TStream> stream = broker.Open(source.FileName);
    if (!stream) {
        GlobalLog().WriteLine("Sound \"" + ToUtf8(name) + "\" not found");
        return nullptr;
    }
    std::optional<TMediaInfo> info;
    try {
        info = ReadMediaInfo(*stream, name);
    } catch (const Exception& e) {
        GlobalLog().WriteLine("Sound \"" + ToUtf8(name) + "\" cannot be read: " + e.Message());
    }
    if (!info) {
        GlobalLog().WriteLine("Sound \"" + ToUtf8(name) +
                              "\" skipped: no audio format we can play");
        broker.Release(std::move(stream));
        return nullptr;
    }
    // An MPEG stream behind a tag is decoded from a view that starts at its data.
    if (info->MediaType == TMediaType::Mpeg && info->DataStart > 0) {
        if (auto shifted = broker.OpenAt(source.FileName, info->DataStart)) {
            broker.Release(std::move(stream));
            stream = std::move(shifted);
            info->DataStart = 0;
        }
    }
    std::unique_ptr<TWavConverter> converter;
    try {
        converter = CreateConverter(*stream, *info);
    } catch (const Exception& e) {
        GlobalLog().WriteLine("Sound \"" + ToUtf8(name) + "\" cannot be decoded: " + e.Message());
    }
    if (!converter) {
        GlobalLog().WriteLine("Sound \"" + ToUtf8(name) + "\" skipped: its decoder does not open");
        broker.Release(std::move(stream));
        return nullptr;
    }
    return std::make_unique<TConverterSource>(std::move(stream), *info, std::move(converter), name);
}

TPcmSourceFactory DecoderSourceFactory() {
    return [](const std::u16string& name) -> std::unique_ptr<TPcmSource> {
        return OpenConverterSource(name);
    };
}

}  // namespace ql
