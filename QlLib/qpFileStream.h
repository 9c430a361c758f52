// The byte-stream family: TStream, the memory streams and the file stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/SysObj.h"

namespace ql {

// Abstract byte stream. Positions and sizes are signed 64-bit; a size of -1 means
// unknown. Typed reads raise EStreamReadError when short, typed writes
// EStreamWriteError.
class TStream : public TObj {
public:
    virtual int64_t GetPosition() = 0;
    virtual void SetPosition(int64_t position) = 0;
    // -1 if unknown.
    virtual int64_t GetSize() = 0;
    virtual void SetSize(int64_t size) = 0;
    // Replaces this stream's content with the whole of source; both end at 0.
    virtual void Assign(TStream& source);
    virtual void Clear();
    // Copies up to count bytes (count < 0: until the source is exhausted) from
    // the source's current position; returns the bytes copied.
    virtual int64_t CopyFrom(TStream& source, int64_t count);
    // Returns the count read; 0 at the end.
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Returns the count written.
    virtual size_t Write(const void* buffer, size_t count) = 0;

    // Bytes between the position and the end; -1 when the size is unknown.
    int64_t Remaining();

    void ReadBuffer(void* buffer, size_t count);   // raises EStreamReadError when short
    void WriteBuffer(const void* buffer, size_t count);  // raises EStreamWriteError
    uint8_t ReadByte();
    uint16_t ReadWord();
    uint16_t ReadWordBE();
    uint32_t ReadDWord();
    uint32_t ReadDWordBE();
    int64_t ReadInt64();
    float ReadFloat();
    void WriteByte(uint8_t value);
    void WriteWord(uint16_t value);
    void WriteDWord(uint32_t value);
    void WriteInt64(int64_t value);
    // Writes the bytes of an 8-bit string.
    void WriteAnsi(const std::string& text);
    // Writes a 16-bit string as UTF-16LE code units.
    void WriteWide(const std::u16string& text);
    // Reads count UTF-16LE code units. A count larger than what the stream holds
    // raises EStreamReadError before anything is allocated.
    std::u16string ReadWideChars(int64_t count);
    // Reads count bytes as 8-bit text, checked the same way.
    std::string ReadAnsiChars(int64_t count);

protected:
    // Raises EStreamReadError when a stream of known size cannot hold byteCount
    // more bytes; lets unknown sizes through (their reads are chunked).
    void CheckReadableCount(int64_t byteCount);
};

// Capacity that the memory streams reserve for a needed size: +16 below 33, +64
// below 257, doubling from 257. 0 when the need is above the limit.
int64_t MemoryStreamCapacityFor(int64_t currentCapacity, int64_t neededSize);
constexpr int64_t kMemoryStreamMaxSize = 0x1FFFFFFE;

// A growable byte array. A failed growth makes writes return fewer bytes (0)
// instead of raising.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    ~TMemoryStream() override;

    int64_t GetPosition() override { return m_position; }
    void SetPosition(int64_t position) override;
    int64_t GetSize() override { return m_size; }
    void SetSize(int64_t size) override;
    void Clear() override;
    int64_t CopyFrom(TStream& source, int64_t count) override;
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;

    int64_t Capacity() const { return m_capacity; }
    uint8_t* Memory() { return m_data; }
    const uint8_t* Memory() const { return m_data; }

private:
    // Grows the storage to hold neededSize bytes; false when it cannot.
    bool Reserve(int64_t neededSize);
    bool Reallocate(int64_t capacity);

    uint8_t* m_data = nullptr;
    int64_t m_capacity = 0;
    int64_t m_size = 0;
    int64_t m_position = 0;
};

// The memory stream's behaviour over an 8-bit string.
class TStringStream : public TStream {
public:
    TStringStream() = default;
    explicit TStringStream(std::string text) : m_data(std::move(text)) {}

    int64_t GetPosition() override { return m_position; }
    void SetPosition(int64_t position) override;
    int64_t GetSize() override { return static_cast<int64_t>(m_data.size()); }
    void SetSize(int64_t size) override;
    void Clear() override;
    int64_t CopyFrom(TStream& source, int64_t count) override;
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;

    const std::string& DataString() const { return m_data; }

private:
    bool Reserve(int64_t neededSize);

    std::string m_data;
    int64_t m_position = 0;
};

// A file of the operating system, opened through TFileAPI.
class TFileStream : public TStream {
public:
    TFileStream() = default;
    // Opens at once; raises EFileOpenError carrying the file name.
    TFileStream(const std::u16string& fileName, TFileAccess access, uint32_t share,
                TFileDisposition disposition);
    ~TFileStream() override;

    // Opening an open stream closes it first.
    void Open(const std::u16string& fileName, TFileAccess access, uint32_t share,
              TFileDisposition disposition);
    void Close();
    bool IsOpen() const { return m_handle != kInvalidHandle; }
    const std::u16string& FileName() const { return m_fileName; }

    int64_t GetPosition() override;
    void SetPosition(int64_t position) override;
    int64_t GetSize() override;
    void SetSize(int64_t size) override;
    void Clear() override;
    int64_t CopyFrom(TStream& source, int64_t count) override;
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;

private:
    THandle m_handle = kInvalidHandle;
    TFileAccess m_access = TFileAccess::Read;
    uint32_t m_share = 0;
    std::u16string m_fileName;
};

}  // namespace ql
