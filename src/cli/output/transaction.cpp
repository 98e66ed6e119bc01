// The commit. First every output is made ready while nothing a user sees
// changes (temporary files closed, owners and modes set, backup links made,
// space reserved, the bytes an in-place write overwrites saved); then, with
// the cleanup signals held and the final folders locked, each target is
// changed in turn: in-place writes first, renames next, cuts and files an
// append-only folder creates last. A failed step, or a signal that arrives
// meanwhile, puts back every target already changed, in reverse order.
#include "output/output.h"

#include "cleanup.h"

#include <algorithm>
#include <vector>

namespace pixfold {

namespace {

bool saveOldBytes(InPlaceState& state, long long from, long long length, SystemError& why) {
    state.savedLength = std::max(0LL, length);
    if (state.savedLength == 0) {
        return true;
    }
    std::string folder;
    const int reader = openForReading(state.descriptor, why);
    const bool saved = reader >= 0 && createTemporaryElsewhere(state.saved, folder, why) &&
                       copyBytes(reader, from, state.saved.descriptor, 0, length, why);
    int closing = reader;
    closeChecked(closing);
    return saved;
}

// A thin wrapper's result, with errno as its one call left it when it failed.
long long checked(long long value, SystemError& why) {
    why = value < 0 ? lastErrno() : why;
    return value;
}

bool checked(bool done, SystemError& why) {
    why = done ? why : lastErrno();
    return done;
}

bool getReady(OutputFile& output, SystemError& why);

// A file found at the commit to be a mount point (where the system does not
// tell one at the resolution, as under an emulator) is copied in from the
// temporary file beside it.
bool copyInstead(OutputFile& output, SystemError& why) {
    output.route = OutputRoute::copyIn;
    output.inPlace.descriptor = openTargetForWriting(output.target, why);
    return output.inPlace.descriptor >= 0 && getReady(output, why);
}

// Phase one: nothing a user sees changes. Each step that fails says why.
bool getReady(OutputFile& output, SystemError& why) {
    InPlaceState& state = output.inPlace;
    const long long length = output.written;
    switch (output.route) {
    case OutputRoute::replace:
        if (!makeBackup(output.target, output.backup, why)) {
            return output.backup.mounted && copyInstead(output, why);
        }
        return keepOwnerAndMode(output.target, output.temporary, why) &&
               checked(closeChecked(output.temporary.descriptor), why);
    case OutputRoute::copyIn:
        state.oldLength = checked(fileLength(state.descriptor), why);
        return state.oldLength >= 0 && reserveSpace(state.descriptor, 0, length, why) &&
               saveOldBytes(state, 0, state.oldLength, why);
    case OutputRoute::atPosition:
        state.oldLength = checked(fileLength(state.descriptor), why);
        state.position = checked(currentPosition(state.descriptor), why);
        state.append = isAppending(state.descriptor);
        state.offset = state.append ? state.oldLength : state.position;
        return state.oldLength >= 0 && state.position >= 0 &&
               reserveSpace(state.descriptor, state.offset, length, why) &&
               saveOldBytes(state, state.offset,
                            std::min(state.oldLength, state.offset + length) - state.offset, why);
    case OutputRoute::stream:
    case OutputRoute::straight:
        return checked(closeChecked(output.descriptor), why); // every byte written and closed
    case OutputRoute::create:
    case OutputRoute::none:
        break;
    }
    return true;
}

bool writeInPlace(OutputFile& output, SystemError& why) {
    InPlaceState& state = output.inPlace;
    output.applied = true; // a part written is put back too
    return copyBytes(output.temporary.descriptor, 0, state.descriptor, state.offset, output.written,
                     why) &&
           (output.route == OutputRoute::copyIn ||
            checked(setPosition(state.descriptor, state.offset + output.written), why));
}

bool placeRenamed(OutputFile& output, SystemError& why) {
    output.applied = placeNewFile(output.target, output.temporary, output.backup, why);
    return output.applied;
}

// A copy-in's file cut to the new length, once nothing can fail before.
bool cutToLength(OutputFile& output, SystemError& why) {
    return output.inPlace.oldLength <= output.written ||
           checked(setLength(output.inPlace.descriptor, output.written), why);
}

// An append-only folder's new file: created only now, since it could not be
// removed again.
bool createInFolder(OutputFile& output, SystemError& why) {
    InPlaceState& state = output.inPlace;
    state.descriptor = createTargetFile(output.target, why);
    output.applied = state.descriptor >= 0;
    return output.applied && reserveSpace(state.descriptor, 0, output.written, why) &&
           copyBytes(output.temporary.descriptor, 0, state.descriptor, 0, output.written, why);
}

// Puts the target back as it was before the commit.
void putBack(OutputFile& output) {
    InPlaceState& state = output.inPlace;
    switch (output.route) {
    case OutputRoute::replace:
        if (output.applied && restoreOldFile(output.target, output.temporary, output.backup)) {
            output.backup.kept = false; // the backup is the target again
        }
        break;
    case OutputRoute::copyIn:
    case OutputRoute::atPosition:
        if (output.applied) {
            // Only a copy-in shortens a file: a file behind a descriptor is
            // cut back where it grew, never grown where another program cut it.
            const long long now = fileLength(state.descriptor);
            if (now > state.oldLength || output.route == OutputRoute::copyIn) {
                setLength(state.descriptor, state.oldLength);
            }
            SystemError ignored; // the run's own failure is the one reported
            copyBytes(state.saved.descriptor, 0, state.descriptor, state.offset, state.savedLength,
                      ignored);
        }
        if (state.position >= 0) {
            setPosition(state.descriptor, state.position);
        }
        break;
    case OutputRoute::create:
        if (output.applied) {
            setLength(state.descriptor, 0); // the folder removes no name
        }
        break;
    case OutputRoute::straight:
        if (fileLength(state.descriptor) > state.oldLength) {
            setLength(state.descriptor, state.oldLength);
        }
        setPosition(state.descriptor, state.position);
        break;
    case OutputRoute::stream:
    case OutputRoute::none:
        break;
    }
    output.applied = false;
}

// Closes and removes what the output held, whether committed or not.
void release(OutputFile& output) {
    InPlaceState& state = output.inPlace;
    disarmCleanup(state.cleanupSlot); // before the descriptor it names is closed
    state.cleanupSlot = -1;
    if (output.route == OutputRoute::stream || output.route == OutputRoute::straight) {
        closeChecked(output.descriptor);
    }
    output.descriptor = -1;
    dropTemporary(output.temporary);
    dropTemporary(state.saved);
    closeChecked(state.descriptor);
    releaseTarget(output.target);
}

bool isLocked(OutputRoute route) {
    return route == OutputRoute::replace || route == OutputRoute::copyIn ||
           route == OutputRoute::create;
}

bool folderBefore(const OutputFile* first, const OutputFile* second) {
    const FileIdentity& a = first->target.folderIdentity;
    const FileIdentity& b = second->target.folderIdentity;
    return a.device != b.device ? a.device < b.device : a.inode < b.inode;
}

// Each final folder locked once, in the order of identity, so that runs on
// the same paths commit one after the other and never wait on each other.
std::vector<FolderLock> lockFolders(OutputFile* const* outputs, std::size_t count) {
    std::vector<const OutputFile*> placed;
    for (std::size_t i = 0; i < count; ++i) {
        if (isLocked(outputs[i]->route) && outputs[i]->target.folderIdentity.known) {
            placed.push_back(outputs[i]);
        }
    }
    std::sort(placed.begin(), placed.end(), folderBefore);
    std::vector<FolderLock> locks;
    for (std::size_t i = 0; i < placed.size(); ++i) {
        if (i == 0 || folderBefore(placed[i - 1], placed[i])) {
            locks.push_back(lockFolder(placed[i]->target));
        }
    }
    return locks;
}

// Two names placed by this commit that hold one file (a file system that
// ignores case, say) were one output.
bool placedApart(OutputFile* const* outputs, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t j = 0; j < count; ++j) {
            if (i != j && outputs[i]->route == OutputRoute::replace &&
                outputs[j]->route == OutputRoute::replace &&
                nameHolds(outputs[i]->target, outputs[j]->temporary.identity)) {
                return false;
            }
        }
    }
    return true;
}

Result commit(OutputFile* const* outputs, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        SystemError why;
        if (!getReady(*outputs[i], why)) {
            return writeFailure(*outputs[i], why);
        }
    }
    // The steps, in the order they run; each output has at most two.
    using Step = bool (*)(OutputFile&, SystemError&);
    const std::pair<OutputRoute, Step> steps[] = {{OutputRoute::copyIn, writeInPlace},
                                                  {OutputRoute::atPosition, writeInPlace},
                                                  {OutputRoute::replace, placeRenamed},
                                                  {OutputRoute::copyIn, cutToLength},
                                                  {OutputRoute::create, createInFolder}};
    for (const auto& [route, step] : steps) {
        for (std::size_t i = 0; i < count; ++i) {
            OutputFile& output = *outputs[i];
            SystemError why;
            if (output.route == route && !step(output, why)) {
                return writeFailure(output, why);
            }
        }
        if (route == OutputRoute::replace && !placedApart(outputs, count)) {
            return failure(ErrorCode::sameOutputs);
        }
    }
    // A signal that came meanwhile ends the run once the targets are back.
    return cleanupSignalPending() ? writeFailure(*outputs[0], SystemError{}) : Result{};
}

} // namespace

Result finishOutputs(OutputFile* const* outputs, std::size_t count, Result runResult) {
    // A signal now waits until every target is old again, or, once every one
    // is new, until the process exits: the exit status then says they are.
    CleanupSignalsBlocked blocked;
    if (succeeded(runResult)) {
        std::vector<FolderLock> locks = lockFolders(outputs, count);
        runResult = commit(outputs, count);
        for (std::size_t i = count; i-- > 0;) {
            if (succeeded(runResult)) {
                removeBackup(outputs[i]->target, outputs[i]->backup);
            } else {
                putBack(*outputs[i]);
                removeBackup(outputs[i]->target, outputs[i]->backup);
            }
        }
        for (FolderLock& lock : locks) {
            unlockFolder(lock);
        }
    } else {
        for (std::size_t i = count; i-- > 0;) {
            putBack(*outputs[i]);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        release(*outputs[i]);
    }
    if (succeeded(runResult)) {
        blocked.holdToTheEnd();
    }
    return runResult;
}

} // namespace pixfold
