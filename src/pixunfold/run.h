// pixunfold's run: records (and the alpha stream) in, a P6 PPM and optionally
// a P5 PGM of the key plane out, one image per frame, streamed in blocks.
// Both outputs appear whole, together, or not at all.
#pragma once

#include "command_line.h"
#include "errors.h"
#include "progress.h"

namespace pixfold {

// Sizes are checked before any output is opened where the inputs are regular
// files; other inputs are checked as they are read.
// It says nothing while it runs: progress stays uncounted.
Result runUnfold(const UnfoldCommandLine& line, Notices& notices, Progress& progress);

} // namespace pixfold
