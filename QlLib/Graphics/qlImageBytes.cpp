#include "QlLib/Graphics/qlImageBytes.h"

#include <algorithm>

namespace ql {

std::vector<uint8_t> ReadRemaining(TStream& stream, int64_t limit) {
    std::vector<uint8_t> data;
    const int64_t size = stream.GetSize();
    if (size >= 0) {
        const int64_t left = std::max<int64_t>(size - stream.GetPosition(), 0);
        if (left > limit) throw EImageError("Image file too large");
        data.resize(size_t(left));
        stream.ReadBuffer(data.data(), data.size());
        return data;
    }
    uint8_t buffer[65536];
    while (size_t got = stream.Read(buffer, sizeof buffer)) {
        if (int64_t(data.size() + got) > limit) throw EImageError("Image file too large");
        data.insert(data.end(), buffer, buffer + got);
    }
    return data;
}

size_t PeekBytes(TStream& stream, void* buffer, size_t count) {
    const int64_t start = stream.GetPosition();
    size_t total = 0;
    while (total < count) {
        const size_t got = stream.Read(static_cast<uint8_t*>(buffer) + total, count - total);
        if (got == 0) break;
        total += got;
    }
    stream.SetPosition(start);
    return total;
}

}  // namespace ql
