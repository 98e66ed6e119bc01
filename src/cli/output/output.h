// The outputs of a run as one transaction: each path is resolved once to its
// final folder and name, every output is prepared completely before anything
// is changed, and the commit puts them all in place with the cleanup signals
// held, or puts back every one it had changed (docs/outputs.md tells the
// rules as a user meets them).
//
// - A missing file or a regular file is written to a temporary file in its
//   final folder and renamed over the target at the commit; the old file is
//   first kept under a backup link in the same folder, so that a failure
//   later in the commit can put it back.
// - A regular file that can't be renamed over (a mount point, a folder that
//   takes no new file or removes none, a sticky folder that forbids the
//   rename) is written to a temporary file in TMPDIR (else /tmp) and copied
//   over the file in place at the commit, into space reserved first, with the
//   bytes it overwrites saved for the rollback.
// - A regular file behind an open descriptor ("-", /dev/stdout, /dev/fd/N):
//   an empty one (> file) gets the bytes straight in and is cut back on
//   failure; one with bytes or open for appending gets them from a temporary
//   file, at its position, at the commit, as a copy-in does.
// - A FIFO, a device, a terminal, a pipe or a socket is written as the bytes
//   come: nothing can be taken back from them.
#pragma once

#include "errors.h"
#include "files.h"
#include "output/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pixfold {

enum class OutputRoute {
    none,
    stream,     // written as the bytes come, in place
    replace,    // a temporary file in the final folder, renamed over the target
    copyIn,     // a temporary file elsewhere, copied over the existing file in place
    create,     // a temporary file elsewhere, copied into a file created at the end
    atPosition, // a temporary file elsewhere, written at the open descriptor's position
    straight    // an empty file behind a descriptor: written straight in, cut back on failure
};

struct OutputFile {
    std::string path; // as the user gave it; messages name it
    OutputRoute route = OutputRoute::none;
    Target target;           // what the path finally names
    TemporaryFile temporary; // where the bytes go, unless written in place
    int descriptor = -1;     // where writeOutput writes
    long long written = 0;   // bytes written so far
    InPlaceState inPlace;    // copyIn, atPosition, straight: what the rollback needs
    Backup backup;           // replace: the old file kept for the rollback
    bool applied = false;    // the commit has changed the target
};

// Resolves path ("-" is standard output) to its final folder and name and
// what is there, and decides the route. Changes nothing; fails with
// cantOpenOutput where nothing could be written.
Result resolveOutput(const char* path, OutputFile& output);

// The identity an input must not share: the target's, read at resolution.
FileIdentity outputIdentity(const OutputFile& output);

// True when both outputs end in one file: the same existing file, or the same
// name in the same folder.
bool sameOutputTarget(const OutputFile& first, const OutputFile& second);

// Opens where the bytes go: the temporary file, or the target in place.
// Fails with cantOpenOutput, or cantCreateTemporary where a temporary file is
// needed and the temporary folder takes none.
Result prepareOutput(OutputFile& output);

// Writes every byte or fails with cantWriteOutput (cantWriteStdout for "-").
Result writeOutput(OutputFile& output, const std::uint8_t* bytes, std::size_t count);

// cantWriteOutput, or cantWriteStdout for "-", with the reason why.
Result writeFailure(const OutputFile& output, SystemError why);

// When runResult is a success, commits every output or none; otherwise, or
// when the commit fails, leaves every target as it was and removes the
// temporary files. Returns the run's own failure or the commit's.
Result finishOutputs(OutputFile* const* outputs, std::size_t count, Result runResult);

} // namespace pixfold
