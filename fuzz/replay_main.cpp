// Runs a fuzz target over saved inputs without libFuzzer, so the targets also
// build with g++ and ctest can replay the seed corpus. Each argument is a file
// or a directory whose files are all replayed. A failed check aborts, as it
// does under libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool Replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
        return false;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...\n", argv[0]);
        return 2;
    }
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        const fs::path arg(argv[i]);
        if (fs::is_directory(arg, error)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(arg, error)) {
                if (!entry.is_regular_file()) continue;
                if (!Replay(entry.path())) return 1;
                ++replayed;
            }
        } else {
            if (!Replay(arg)) return 1;
            ++replayed;
        }
        if (error) {
            std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
    }
    if (replayed == 0) {
        std::fprintf(stderr, "no inputs found\n");
        return 1;
    }
    std::printf("replayed %d inputs\n", replayed);
    return 0;
}
