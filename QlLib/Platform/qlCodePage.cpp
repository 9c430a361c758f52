#include "QlLib/Platform/qlCodePage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

namespace ql {

namespace {

// One iconv descriptor from a code page to UTF-16LE.
class TIconv {
public:
    explicit TIconv(const std::string& fromCode)
        : m_cd(iconv_open("UTF-16LE", fromCode.c_str())) {}
    ~TIconv() {
        if (IsOpen()) iconv_close(m_cd);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    enum class TResult { Converted, Incomplete, Invalid };

    // Converts the bytes as one whole input; a result that is not exactly one
    // 16-bit unit counts as invalid.
    TResult ConvertOne(const uint8_t* bytes, size_t count, char16_t& out) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        char input[2];
        std::memcpy(input, bytes, count);
        char output[8];
        char* in = input;
        size_t inLeft = count;
        char* outPtr = output;
        size_t outLeft = sizeof(output);
        const size_t rc = iconv(m_cd, &in, &inLeft, &outPtr, &outLeft);
        if (rc == static_cast<size_t>(-1)) {
            return errno == EINVAL ? TResult::Incomplete : TResult::Invalid;
        }
        // Flush a stateful converter's remains.
        iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft);
        if (sizeof(output) - outLeft != 2) return TResult::Invalid;
        out = static_cast<char16_t>(static_cast<uint8_t>(output[0]) |
                                    (static_cast<uint8_t>(output[1]) << 8));
        return TResult::Converted;
    }

private:
    iconv_t m_cd;
};

std::mutex g_ansiLock;           // guards the two fields below
int g_ansiNumber = kDefaultAnsiCodePage;
std::unique_ptr<TAnsiCodePage> g_ansiCodePage;

// The last resort when iconv knows none of the wanted pages: bytes are Latin-1.
std::unique_ptr<TAnsiCodePage> LatinOneCodePage() {
    auto page = TAnsiCodePage::Create(28591);
    return page;
}

}  // namespace

std::unique_ptr<TAnsiCodePage> TAnsiCodePage::Create(int codePage) {
    if (codePage <= 0) return nullptr;
    // 28591 is the Windows number of ISO-8859-1, which every iconv carries.
    TIconv conv(codePage == 28591 ? std::string("ISO-8859-1") : "CP" + std::to_string(codePage));
    if (!conv.IsOpen()) return nullptr;

    std::unique_ptr<TAnsiCodePage> page(new TAnsiCodePage());
    page->m_number = codePage;
    for (int b = 0; b < 256; ++b) {
        const uint8_t byte = static_cast<uint8_t>(b);
        char16_t c = 0;
        const auto result = conv.ConvertOne(&byte, 1, c);
        if (result == TIconv::TResult::Converted) {
            page->m_chars[byte] = c;
            continue;
        }
        // A byte that iconv finds incomplete on its own starts a double-byte
        // character: its trail bytes get a table of their own.
        if (result != TIconv::TResult::Incomplete) continue;
        auto info = std::make_unique<TDBCSInfo>();
        bool anyPair = false;
        for (int t = 0; t < 256; ++t) {
            const uint8_t pair[2] = {byte, static_cast<uint8_t>(t)};
            char16_t pc = 0;
            if (conv.ConvertOne(pair, 2, pc) == TIconv::TResult::Converted) {
                info->chars[t] = pc;
                anyPair = true;
            }
        }
        if (anyPair) {
            page->m_lead[byte] = std::move(info);
            page->m_doubleByte = true;
        }
    }
    return page;
}

std::unique_ptr<TCharConverter> TAnsiCodePage::CreateConverter() const {
    return std::make_unique<TAnsiConverter>(*this);
}

bool SetAnsiCodePage(int codePage) {
    std::lock_guard<std::mutex> lock(g_ansiLock);
    if (g_ansiCodePage) return false;
    auto page = TAnsiCodePage::Create(codePage);
    if (!page) return false;
    g_ansiNumber = codePage;
    g_ansiCodePage = std::move(page);
    return true;
}

const TAnsiCodePage& AnsiCodePage() {
    std::lock_guard<std::mutex> lock(g_ansiLock);
    if (!g_ansiCodePage) {
        g_ansiCodePage = TAnsiCodePage::Create(g_ansiNumber);
        if (!g_ansiCodePage) g_ansiCodePage = TAnsiCodePage::Create(kDefaultAnsiCodePage);
        if (!g_ansiCodePage) g_ansiCodePage = LatinOneCodePage();
    }
    return *g_ansiCodePage;
}

void TCharConverter::SetIndex(int64_t index) {
    m_index = static_cast<size_t>(std::clamp<int64_t>(index, 0, static_cast<int64_t>(m_fill)));
}

size_t TCharConverter::Load(const TByteSource& source) {
    const size_t pending = Pending();
    if (pending > 0 && m_index > 0) std::memmove(m_buffer.data(), m_buffer.data() + m_index, pending);
    m_index = 0;
    m_fill = pending;
    const size_t got = source(m_buffer.data() + m_fill, kBufferSize - m_fill);
    m_fill += std::min(got, kBufferSize - m_fill);
    return got;
}

void TCharConverter::Place(size_t offset, const uint8_t* bytes, size_t count) {
    if (offset >= kBufferSize) return;
    count = std::min(count, kBufferSize - offset);
    std::memcpy(m_buffer.data() + offset, bytes, count);
    m_fill = std::max(m_fill, offset + count);
}

void TCharConverter::Reset() {
    m_fill = 0;
    m_index = 0;
}

size_t TAnsiConverter::Convert(char16_t* dest, size_t count, bool atEnd) {
    size_t made = 0;
    while (made < count && m_index < m_fill) {
        const uint8_t byte = m_buffer[m_index];
        if (const TDBCSInfo* info = m_codePage.LeadInfo(byte)) {
            if (m_index + 1 < m_fill) {
                dest[made++] = info->chars[m_buffer[m_index + 1]];
                m_index += 2;
                continue;
            }
            // The trail byte comes with the next load; a lead byte that ends the
            // text stands for itself.
            if (!atEnd) break;
        }
        dest[made++] = m_codePage.CharOf(byte);
        ++m_index;
    }
    return made;
}

}  // namespace ql
