// Outputs that appear whole or not at all, decided by what the final target
// is, never by how its path is spelled.
//
// - A missing file or a regular file is written to a temporary file in the
//   final target's folder (links followed, as the kernel would follow them)
//   and renamed over the target once every byte is written and closed.
// - An existing regular file that can't be renamed over (a mount point, a
//   folder that takes no new file, a sticky folder that forbids the rename)
//   is written to a temporary file elsewhere (TMPDIR, else /tmp) and copied
//   over the file in place once complete: a failed run never touches it.
// - A FIFO, a device or a socket is written in place; so is an open
//   descriptor ("-" for standard output, /dev/stdout, /dev/fd/N), written
//   through itself, at its own position. Where such a descriptor is a regular
//   file (standard output redirected to one), a failed run adds nothing: an
//   empty one (> file) gets the bytes straight in, and a failure or a signal
//   cuts it back to nothing and puts the position back; one with bytes in it
//   or open for appending (>>, 1<>) gets them from a temporary file at the
//   end, so that its bytes and other writers' stay as they are.
// A failed or interrupted run removes its temporary files; the names are
// short and fixed in form: .pixfold-<16 hex digits>.tmp.
#pragma once

#include "errors.h"
#include "files.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pixfold {

enum class OutputPlacement { inPlace, replace, copyIn, appended };

struct OutputFile {
    std::string path; // as the user gave it; messages name it
    OutputPlacement placement = OutputPlacement::inPlace;
    FileIdentity target;   // the final target, when it exists
    FileIdentity folderId; // its folder, for same-target checks of new files
    std::string name;      // the final target's name in its folder
    int folder = -1;       // the final target's folder (replace)
    int temporaryFolder = -1;
    std::string temporaryName;   // empty when written in place
    int descriptor = -1;         // where the bytes go
    int existing = -1;           // copyIn: the file itself, open for writing
    bool atPosition = false;     // copyIn: written at existing's own position, not over it
    long long keptLength = -1;   // appended: the length a failure cuts the file back to
    long long keptPosition = -1; // appended: the position a failure puts back
    int cleanupSlot = -1;
};

// Resolves path, decides the placement, and opens what is written (the
// temporary file, or the path in place). Fails with cantOpenOutput and leaves
// the path untouched.
Result openOutput(const char* path, OutputFile& output);

Result writeFailure(const OutputFile& output);

// What an output path names before it is opened: "-" is standard output.
FileIdentity identifyOutput(const char* path);

// Writes every byte or fails with cantWriteOutput (cantWriteStdout for "-").
Result writeOutput(OutputFile& output, const std::uint8_t* bytes, std::size_t count);

// True when both outputs end in one file: the same existing file, or the same
// name in the same folder.
bool sameOutputTarget(const OutputFile& first, const OutputFile& second);

// Closes the outputs; when the run so far succeeded and every close does, puts
// every temporary file in place (copies first, then renames, so that a
// failure leaves the renamed ones untouched). Otherwise removes them all.
// Returns the first failure: the run's own, or cantWriteOutput.
Result finishOutputs(OutputFile* const* outputs, std::size_t count, Result runResult);

} // namespace pixfold
