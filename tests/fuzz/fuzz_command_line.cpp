// Fuzzes the option scan over an argument vector split from the input at zero
// bytes. Hex values that the scan accepts are checked against the C library's
// own "%x" reading.
#include "core/text.h"
#include "pixfold/command_line.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Up to 15 digits "%x" and the scan agree; beyond that the C library saturates.
void checkHexReading(const std::string& text) {
    std::uint32_t ours = 0;
    if (!pixfold::readHexValue(text.c_str(), ours)) {
        return;
    }
    std::size_t digits = 0;
    for (char c : text) {
        digits += std::isxdigit(static_cast<unsigned char>(c)) != 0 ? 1 : 0;
    }
    unsigned int theirs = 0;
    if (digits <= 15 && std::sscanf(text.c_str(), "%x", &theirs) == 1) {
        require(ours == theirs);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments{"pixfold"};
    std::string current;
    for (std::size_t i = 0; i < size && arguments.size() < 64; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    arguments.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
        checkHexReading(argument);
    }
    argv.push_back(nullptr);

    const int argc = static_cast<int>(arguments.size());
    const pixfold::ParsedFoldCommandLine parsed = pixfold::parseFoldCommandLine(argc, argv.data());
    if (parsed.request != pixfold::ToolRequest::run) {
        return 0;
    }
    if (pixfold::succeeded(parsed.result)) {
        const pixfold::FoldCommandLine& line = parsed.commandLine;
        require(line.inputPath != nullptr && line.outputPath != nullptr);
        bool inputFound = false;
        for (int i = 1; i + 1 < argc; ++i) {
            if (argv[static_cast<std::size_t>(i)] == line.inputPath) {
                inputFound = argv[static_cast<std::size_t>(i) + 1] == line.outputPath;
                // An input that looks like an option is "-" itself, or follows "--".
                require(line.inputPath[0] != '-' || line.inputPath[1] == '\0' ||
                        std::strcmp(argv[static_cast<std::size_t>(i) - 1], "--") == 0);
                break;
            }
        }
        require(inputFound);
        // The output path is the last argument: nothing may follow it.
        require(argv[static_cast<std::size_t>(argc) - 1] == line.outputPath);
    } else if (parsed.result.code == pixfold::ErrorCode::invalidHexValue) {
        std::uint32_t ignored = 0;
        require(!pixfold::readHexValue(parsed.result.subject.c_str(), ignored));
        require(std::strchr("m10O", parsed.result.option) != nullptr && parsed.result.option != 0);
    }
    return 0;
}
