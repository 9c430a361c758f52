// Replays a fuzz target's corpus without libFuzzer: each argument is a file
// or a folder of files, and each file goes through the target once. The
// sanitizer build runs these as tests, so an input that once crashed a parser
// stays fixed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Returns false when the file cannot be read.
bool ReplayFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg)) {
                if (entry.is_regular_file()) files.push_back(entry.path());
            }
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s FILE|FOLDER...  (no input found)\n", argv[0]);
        return 2;
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        if (!ReplayFile(file)) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 2;
        }
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
