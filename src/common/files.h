// Small file helpers shared by pixfold's and pixunfold's runs.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace pixfold {

struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// An input stream closed when it goes out of scope. Outputs are closed
// explicitly, since their close can fail and must be checked.
using InputFile = std::unique_ptr<std::FILE, CloseFile>;

// True when both paths name one file, through hard or symbolic links too. A
// path that does not exist (or is null) names no file.
inline bool namesSameFile(const char* first, const char* second) {
    if (first == nullptr || second == nullptr) {
        return false;
    }
    std::error_code ignored;
    return std::filesystem::equivalent(first, second, ignored);
}

} // namespace pixfold
