// What the library can know of a failure, in its own small type: how reading
// an image went, and whether the pixel loop PIXFOLD_FORCE_PATH asks for runs
// here. The tools turn each into a code and message of their own
// (src/cli/errors.h); the sentences the C API shares with them are in
// core/texts.h.
#pragma once

namespace pixfold {

enum class Status {
    ok,
    cantRead,         // a read error that is not the end of the file
    wrongInputFormat, // not an image header or raster the reader can take
    maxValueTooLarge, // a maximum value above 65535
    truncated,        // the raster ends before the last pixel
    sampleExceedsMax, // a sample above the header's maximum value
    pathUnavailable,  // PIXFOLD_FORCE_PATH names no pixel loop this processor runs
};

} // namespace pixfold
