// Preparing the process, and removing temporary files when a signal ends it.
#pragma once

#include <csignal>
#include <cstddef>

namespace pixfold {

// Longest temporary name the registry holds; the names are short and fixed in
// form (see output/placement.cpp), so no real path is ever refused for its
// length. On Windows a slot points at the whole path instead, of any length.
constexpr std::size_t cleanupNameBytes = 40;

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

#ifdef _WIN32
// Arms a slot: the file at path (which must outlive the slot) is removed if a
// signal ends the process, its descriptor closed first. Returns the slot, or
// -1 when all are in use.
int armCleanup(int descriptor, const wchar_t* path);
#else
// Arms a slot: the file name in the folder open as folderDescriptor is removed
// if a signal ends the process. Returns the slot, or -1 when all are in use or
// the name does not fit.
int armCleanup(int folderDescriptor, const char* name);
#endif

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
// that no signal falls between the two, and across the outputs' commit;
// unblocks them when it ends, and a signal that came meanwhile ends the
// process then. (Windows delivers Ctrl-C on a thread of its own: the handler
// notes it while blocked, and the end of the last block acts on it.)
struct CleanupSignalsBlocked {
    CleanupSignalsBlocked();
    ~CleanupSignalsBlocked();
    CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
    CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;
    // Keeps them blocked when the block ends, until the process exits: once
    // the outputs are committed the run is over, and a signal that comes later
    // changes neither them nor the exit status.
    void holdToTheEnd() { release = false; }
    bool release = true;
#ifndef _WIN32
    sigset_t before;
#endif
};

// True when a cleanup signal waits behind a CleanupSignalsBlocked.
bool cleanupSignalPending();

} // namespace pixfold
