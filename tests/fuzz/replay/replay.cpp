// Runs a fuzz target's entry point over files, as a regular test: every seed
// of its corpus and every input that ever failed. Arguments are files or
// folders (every file in them). A failing input aborts, as under the fuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputsOf(const std::filesystem::path& path) {
    std::vector<std::filesystem::path> inputs;
    if (std::filesystem::is_directory(path)) {
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            if (entry.is_regular_file()) {
                inputs.push_back(entry.path());
            }
        }
    } else {
        inputs.push_back(path);
    }
    return inputs;
}

} // namespace

int main(int argc, char** argv) {
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const std::filesystem::path& input : inputsOf(argv[i])) {
            std::ifstream in(input, std::ios::binary);
            const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                                  std::istreambuf_iterator<char>());
            std::fprintf(stderr, "replaying %s\n", input.string().c_str());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::fprintf(stderr, "%zu inputs replayed, none failed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
