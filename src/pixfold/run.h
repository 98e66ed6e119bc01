// One conversion: open the input, check its header and every same-file case,
// open the outputs, then stream every pixel (of every image, with -s) through
// the encoder. The outputs appear whole or not at all.
#pragma once

#include "command_line.h"
#include "errors.h"
#include "progress.h"

namespace pixfold {

// Notices (another image after the first without -s, a stream that changes
// size) go to notices; with -s each image converted is counted into progress.
Result runFold(const FoldCommandLine& line, Notices& notices, Progress& progress);

} // namespace pixfold
