// Preparing the process, and removing temporary files when a signal ends it.
#pragma once

#include <csignal>
#include <cstddef>

namespace pixfold {

// Longest temporary name the registry holds; the names are short and fixed in
// form (see output.cpp), so no real path is ever refused for its length.
// On Windows the slot holds the whole path, which may be long.
#ifdef _WIN32
constexpr std::size_t cleanupNameBytes = 1024;
#else
constexpr std::size_t cleanupNameBytes = 40;
#endif

// Run first thing in main:
// - a standard descriptor (0, 1, 2) that is closed gets a placeholder, so no
//   file the tool opens lands on it and a write to it still fails;
// - SIGPIPE is ignored, so a reader that quits is a write error like any other;
//   SIGXFSZ too, so a write past the file-size limit is a write error;
// - every other catchable signal that ends a process by default (INT, TERM,
//   HUP, QUIT, USR1, USR2, ALRM, VTALRM, PROF, XCPU) removes the armed
//   temporary files and cuts back the armed files written at their end, then
//   ends the process by that signal;
// - on Windows, standard input and output are put in binary mode.
void prepareProcess();

// True when descriptor (0, 1 or 2) was closed when the process started and now
// holds prepareProcess's placeholder.
bool isClosedStandardDescriptor(int descriptor);

// Arms a slot: the file name in the folder open as folderDescriptor is removed
// if a signal ends the process (on Windows: name is the whole path, and the
// descriptor given is the file's own, closed first). Returns the slot, or -1
// when all are in use or the name does not fit.
int armCleanup(int folderDescriptor, const char* name);

#ifndef _WIN32
// Arms a slot: if a signal ends the process, the regular file open as
// descriptor is cut back to length and the descriptor's position put back to
// position, as cutBack does. Returns the slot, or -1 when all are in use.
int armCutBack(int descriptor, long long length, long long position);

// Cuts the file back to length where it has grown past it, and puts the
// position back; async-signal-safe. False when either fails.
bool cutBack(int descriptor, long long length, long long position);
#endif

// The file is renamed, removed or kept: the slot no longer removes it.
void disarmCleanup(int slot);

// Blocks the cleanup signals while a temporary file is created and armed, so
// that no signal falls between the two; unblocks them when it ends.
struct CleanupSignalsBlocked {
    CleanupSignalsBlocked();
    ~CleanupSignalsBlocked();
    CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
    CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;
#ifndef _WIN32
    sigset_t before;
#endif
};

} // namespace pixfold
