// Runs a fuzz target's checks over every file of its corpus folder without libFuzzer, so the
// regular test suite (and its ASan and TSan builds, with g++) replays every input that was
// ever kept, those that once broke something among them. Usage: <program> <corpus folder>.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Only some targets have a start-up check.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        if (!entry.is_regular_file()) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
        // Each input in storage of exactly its size, as libFuzzer hands it over.
        std::vector<uint8_t> input(bytes);
        LLVMFuzzerTestOneInput(input.data(), input.size());
        ++inputs;
    }
    std::printf("%d inputs of %s replayed\n", inputs, argv[1]);
    return inputs > 0 ? 0 : 1;
}
