// pixunfold's run: records (and the alpha stream) in, a P6 PPM and optionally
// a P5 PGM of the key plane out, streamed in blocks.
#pragma once

#include "common/errors.h"
#include "unfold/unfold_command_line.h"

#include <string>

namespace pixfold {

struct UnfoldResult {
    ErrorCode error = ErrorCode::none;
    std::string path; // the file the error is about, if any
};

// Sizes are checked before any output is opened where the inputs are regular
// files; other inputs are checked as they are read.
UnfoldResult runUnfold(const UnfoldCommandLine& line);

} // namespace pixfold
