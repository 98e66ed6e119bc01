// Outputs that appear whole or not at all. A regular output file is written
// to a temporary file beside it (beside the final target of a symbolic link)
// and renamed over its path only when every byte is written and closed; a
// failed or interrupted run removes the temporary file and leaves the path as
// it was. What can't be renamed over (a FIFO, a device, a terminal,
// /dev/stdout, a file in a folder where no file can be created) is written in
// place.
#pragma once

#include "common/errors.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pixfold {

struct OutputFile {
    std::string path;      // as the user gave it; messages name it
    std::string target;    // the file that is replaced: path with its links followed
    std::string temporary; // empty when written in place
    int descriptor = -1;
    int cleanupSlot = -1; // where a signal handler finds the temporary path
};

// Opens path for writing (a temporary file, or the path itself in place).
// Fails with cantOpenOutput, leaving the path untouched.
Result openOutput(const char* path, OutputFile& output);

// Writes every byte or fails with cantWriteOutput.
Result writeOutput(OutputFile& output, const std::uint8_t* bytes, std::size_t count);

// Closes the outputs; when the run so far succeeded and every close does,
// renames every temporary file over its path. Otherwise removes them all.
// Returns the first failure: the run's own, or cantWriteOutput.
Result finishOutputs(OutputFile* const* outputs, std::size_t count, Result runResult);

// Run first thing in main: descriptors 0, 1 and 2 that are closed are opened on
// /dev/null (0 write-only, 1 and 2 read-only, so that a write to a closed
// standard output still fails and no output file lands on them), SIGPIPE is
// ignored so a reader that quits is a write error like any other, SIGINT,
// SIGTERM and SIGHUP remove the temporary files before the process ends by
// them, and on Windows standard output is put in binary mode.
void prepareProcess();

} // namespace pixfold
