// Replays fuzz inputs through a target without the fuzzing engine, so that the normal
// test run checks every seed and every input that once found a fault.
//   <target>_replay FILE|DIR...
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace {

std::vector<std::string> inputsOf(const std::filesystem::path &path) {
    std::vector<std::string> files;
    if (std::filesystem::is_directory(path)) {
        for (const auto &entry : std::filesystem::directory_iterator(path))
            if (entry.is_regular_file()) files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(path.string());
    }
    return files;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE|DIR...\n", argv[0]);
        return 2;
    }
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const std::string &file : inputsOf(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
            fprintf(stderr, "replaying %s\n", file.c_str());
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++replayed;
        }
    }
    fprintf(stderr, "%zu inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
