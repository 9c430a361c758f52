// Opening a large package: 5,000 entries spread over 2 GB. Opening must read
// only the trailer and the directory, whatever the package's size.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "OrbLib2/OrbPackage/qlOrbPackWriter.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qlTempManager.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace {

constexpr int kEntries = 5000;
constexpr int64_t kDirectoryPosition = (int64_t(1) << 31) - (int64_t(1) << 20);

// Counts the bytes read through it.
class TCountingStream : public ql::TFileStream {
public:
    TCountingStream(const std::u16string& name, int64_t* counter)
        : TFileStream(name, ql::TFileAccess::Read, ql::kShareRead,
                      ql::TFileDisposition::OpenExisting),
          m_counter(counter) {}
    size_t Read(void* buffer, size_t count) override {
        const size_t got = TFileStream::Read(buffer, count);
        *m_counter += static_cast<int64_t>(got);
        return got;
    }

private:
    int64_t* m_counter;
};

// Built once: the entry data is a hole of the sparse file.
const std::u16string& BigPackage() {
    static const std::u16string name = [] {
        const std::u16string file = ql::TTempManager::Instance().NewFolder(true) + u"big.exe";
        ql::TFileStream out(file, ql::TFileAccess::ReadWrite, 0,
                            ql::TFileDisposition::CreateAlways);
        orb::TOrbPackWriter writer(out);
        for (int i = 0; i < kEntries; ++i) {
            writer.AddEntry(u"C:\\Show\\Pictures\\picture" + ql::IntToStr(i) + u".jpg", "", i % 3);
        }
        const int64_t step = kDirectoryPosition / kEntries;
        for (int i = 0; i < kEntries; ++i) {
            writer.Records()[i].Position = i * step;
            writer.Records()[i].Size = step;
        }
        out.SetSize(kDirectoryPosition);
        out.SetPosition(kDirectoryPosition);
        writer.Finish();
        return file;
    }();
    return name;
}

void BM_OpenPackage_5000Entries_2GB(benchmark::State& state) {
    const std::u16string& file = BigPackage();
    int64_t bytesRead = 0;
    int64_t opens = 0;
    for (auto _ : state) {
        orb::TOrbUnpack unpack;
        const auto result =
            unpack.Open([&] { return std::make_unique<TCountingStream>(file, &bytesRead); }, file);
        if (result != orb::TUnpackResult::Ok) state.SkipWithError("package did not open");
        benchmark::DoNotOptimize(unpack.FindEntry(u"C:\\Show\\Pictures\\picture4999.jpg"));
        ++opens;
    }
    state.counters["file_bytes"] = static_cast<double>(ql::TFileAPI::FileSize(file));
    state.counters["read_bytes_per_open"] =
        static_cast<double>(bytesRead) / static_cast<double>(opens);
}
BENCHMARK(BM_OpenPackage_5000Entries_2GB)->Unit(benchmark::kMillisecond);

struct TRemoveTemp {
    ~TRemoveTemp() { ql::TTempManager::Instance().RemoveAll(); }
} g_removeTemp;

}  // namespace
