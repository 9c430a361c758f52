// Generated sounds for the music tests, and a factory that counts the sources
// alive, so a test can tell that every instance was freed.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "QlLib/Music/PcmSource.h"

namespace ql::test {

class TCountedSource : public TPcmSource {
public:
    TCountedSource(std::unique_ptr<TPcmSource> inner, std::atomic<int>& alive)
        : m_inner(std::move(inner)), m_alive(alive) {
        ++m_alive;
    }
    ~TCountedSource() override { --m_alive; }
    TPcmFormat Format() const override { return m_inner->Format(); }
    double LengthMs() const override { return m_inner->LengthMs(); }
    bool Seek(double ms) override { return m_inner->Seek(ms); }
    size_t Read(int16_t* samples, size_t frames) override { return m_inner->Read(samples, frames); }

private:
    std::unique_ptr<TPcmSource> m_inner;
    std::atomic<int>& m_alive;
};

// Names: "const:<value>:<frames>", "count:<frames>", "mono22050:<frames>" (a
// counter at 22050 Hz, mono); anything else cannot be opened.
class TTestSounds {
public:
    TPcmSourceFactory Factory() {
        return [this](const std::u16string& name) -> std::unique_ptr<TPcmSource> {
            std::string n(name.begin(), name.end());
            std::unique_ptr<TPcmSource> inner;
            if (n.rfind("const:", 0) == 0) {
                const auto colon = n.find(':', 6);
                const int value = std::stoi(n.substr(6, colon - 6));
                inner = TMemoryPcmSource::Constant(int16_t(value), std::stoul(n.substr(colon + 1)));
            } else if (n.rfind("count:", 0) == 0) {
                inner = TMemoryPcmSource::Counter(std::stoul(n.substr(6)));
            } else if (n.rfind("mono22050:", 0) == 0) {
                inner = TMemoryPcmSource::Counter(std::stoul(n.substr(10)), TPcmFormat{1, 22050});
            } else if (n == "throws") {
                throw std::runtime_error("broken source");
            }
            if (!inner) return nullptr;
            return std::make_unique<TCountedSource>(std::move(inner), Alive);
        };
    }
    std::atomic<int> Alive{0};
};

}  // namespace ql::test
