// Code pages: byte-to-character tables for the process's ANSI code page (built
// through the platform's iconv) and the converters that decode byte buffers with
// them, double-byte code pages included.
//
// The process's ANSI code page is 1252 unless SetAnsiCodePage names another one
// before the first text is read. Its table is built once, on first use, and
// lives until the end of the process.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "QlLib/SysObj.h"

namespace ql {

inline constexpr int kDefaultAnsiCodePage = 1252;

class TCharConverter;

// The characters of the trail bytes that follow one lead byte of a double-byte
// code page; 0 where the pair cannot be converted.
struct TDBCSInfo {
    std::array<char16_t, 256> chars{};
};

// Makes converters for a code page.
class TCodePage : public TObj {
public:
    virtual std::unique_ptr<TCharConverter> CreateConverter() const = 0;
};

// One entry per byte value: its character (0 when the platform cannot convert
// the byte alone) and, for a lead byte of a double-byte code page, the table of
// its trail bytes.
class TAnsiCodePage : public TCodePage {
public:
    // nullptr when the platform does not know the code page.
    static std::unique_ptr<TAnsiCodePage> Create(int codePage);

    std::unique_ptr<TCharConverter> CreateConverter() const override;

    int Number() const { return m_number; }
    char16_t CharOf(uint8_t byte) const { return m_chars[byte]; }
    // nullptr unless the byte is a lead byte.
    const TDBCSInfo* LeadInfo(uint8_t byte) const { return m_lead[byte].get(); }
    bool IsDoubleByte() const { return m_doubleByte; }

private:
    TAnsiCodePage() = default;

    int m_number = 0;
    bool m_doubleByte = false;
    std::array<char16_t, 256> m_chars{};
    std::array<std::unique_ptr<TDBCSInfo>, 256> m_lead;
};

// Picks the process's ANSI code page. Takes effect only before the table is
// first used; returns false when it was already built (or the number is unknown
// to the platform, in which case nothing changes).
bool SetAnsiCodePage(int codePage);

// The process's ANSI code page, built on first use (thread-safe). Falls back to
// 1252, then to Latin-1, when the chosen page cannot be built.
const TAnsiCodePage& AnsiCodePage();

// A byte buffer with a read index, converted into 16-bit characters.
class TCharConverter : public TObj {
public:
    static constexpr size_t kBufferSize = 4096;

    // Reads up to count bytes into the buffer; returns the count read (0 at the end).
    using TByteSource = std::function<size_t(uint8_t* buffer, size_t count)>;

    size_t Index() const { return m_index; }
    size_t Fill() const { return m_fill; }
    // Bytes loaded but not converted yet.
    size_t Pending() const { return m_fill - m_index; }
    // Clamped into [0, fill], so that Pending never goes below 0.
    void SetIndex(int64_t index);
    // Moves the bytes not converted yet to the front and fills the rest of the
    // buffer from the source; returns the bytes the source gave.
    size_t Load(const TByteSource& source);
    // Places bytes at an offset of the buffer (cut to the buffer), extending the fill.
    void Place(size_t offset, const uint8_t* bytes, size_t count);
    // Empties the buffer.
    void Reset();
    // Converts bytes from the index into at most count characters; returns the
    // count made. A lead byte whose trail byte is not loaded yet stays in the
    // buffer for the next load, unless atEnd says no more bytes will come.
    virtual size_t Convert(char16_t* dest, size_t count, bool atEnd) = 0;

protected:
    std::array<uint8_t, kBufferSize> m_buffer{};
    size_t m_fill = 0;
    size_t m_index = 0;
};

class TAnsiConverter : public TCharConverter {
public:
    explicit TAnsiConverter(const TAnsiCodePage& codePage) : m_codePage(codePage) {}
    size_t Convert(char16_t* dest, size_t count, bool atEnd) override;

private:
    const TAnsiCodePage& m_codePage;
};

}  // namespace ql
