// Blocks of a stream through two steps: fill (read a block) and empty
// (convert and write it). With two threads, each has a slot (its own
// buffers) and runs both steps on its blocks; the threads take turns at each
// step, so blocks are read in order and written in order, and one thread's
// reading runs beside the other's converting and writing. A block's data never
// leaves the processor that read it: handing blocks from a reading thread to a
// converting one cost more CPU time (moving every byte between the two
// processors' caches) than the conversion it hid.
//
// The result is what the steps run one after the other would give: every
// block before a failed step is written, and the first failure in block order
// is the one returned.
#pragma once

#include "errors.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#ifndef PIXFOLD_HAS_THREADS
#if defined(_WIN32) && defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)
// A MinGW libstdc++ of the win32 thread model has no std::thread: the serial
// loop only.
#define PIXFOLD_HAS_THREADS 0
#else
#define PIXFOLD_HAS_THREADS 1
#endif
#endif

#if PIXFOLD_HAS_THREADS
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace pixfold {

// What filling a slot gave: count items to empty (none is fine), then, if
// result is a failure, the end of the stream; last marks the final block.
struct FilledBlock {
    Result result;
    std::size_t count = 0;
    bool last = false;
};

// One slot a thread.
constexpr std::size_t pipelineSlots = 2;

// Whether the tools run their blocks on two threads where they can: off
// unless built with -DPIXFOLD_OVERLAP=ON. On the development machine (2
// virtual processors) pixfold then came within 1.13 to 1.18 of the raw
// read/write limit (1.20 to 1.33 on one thread) but took 18 to 22% more CPU
// time, and while other work kept both processors busy it was no faster.
#ifndef PIXFOLD_OVERLAP
#define PIXFOLD_OVERLAP 0
#endif
constexpr bool overlapBuilt = PIXFOLD_OVERLAP != 0 && PIXFOLD_HAS_THREADS != 0;

// Streams of at least this many items are worth a second thread; for
// smaller ones starting it costs more than it saves.
constexpr std::uint64_t overlapMinimumItems = std::uint64_t{1} << 18;

// True when a second thread can run beside this one: a second processor the
// process may use. On one processor the two threads would only take turns.
bool secondProcessorAvailable();

#if PIXFOLD_HAS_THREADS
// The turns, under their mutexes.
struct PipelineTurns {
    std::mutex readMutex; // held while a block is filled
    bool readsOver = false;
    std::uint64_t nextRead = 0;

    std::mutex writeMutex;
    std::condition_variable writeTurn;
    std::uint64_t nextWrite = 0;
    std::uint64_t failedBlock = std::numeric_limits<std::uint64_t>::max();
    Result failure;
};

template <class Fill, class Empty>
void runSlot(PipelineTurns& turns, std::size_t slot, Fill& fill, Empty& empty) {
    while (true) {
        std::uint64_t block = 0;
        FilledBlock filled;
        {
            std::lock_guard<std::mutex> lock(turns.readMutex);
            if (turns.readsOver) {
                return;
            }
            block = turns.nextRead++;
            filled = fill(slot);
            turns.readsOver = !succeeded(filled.result) || filled.last;
        }
        std::unique_lock<std::mutex> lock(turns.writeMutex);
        turns.writeTurn.wait(lock, [&] { return turns.nextWrite == block; });
        // Every block before this one is written, or one of them failed.
        const bool earlierFailed = turns.failedBlock < block;
        lock.unlock();
        Result result;
        if (!earlierFailed && filled.count > 0) {
            result = empty(slot, filled.count);
        }
        if (succeeded(result)) {
            result = std::move(filled.result);
        }
        lock.lock();
        const bool failed = earlierFailed || !succeeded(result);
        if (!earlierFailed && !succeeded(result)) {
            turns.failedBlock = block;
            turns.failure = std::move(result);
        }
        ++turns.nextWrite;
        turns.writeTurn.notify_all();
        lock.unlock();
        if (failed) {
            std::lock_guard<std::mutex> readLock(turns.readMutex);
            turns.readsOver = true;
            return;
        }
    }
}
#endif

template <class Fill, class Empty> Result runSerially(Fill& fill, Empty& empty) {
    while (true) {
        FilledBlock block = fill(std::size_t{0});
        if (block.count > 0) {
            Result result = empty(std::size_t{0}, block.count);
            if (!succeeded(result)) {
                return result;
            }
        }
        if (!succeeded(block.result) || block.last) {
            return std::move(block.result);
        }
    }
}

// fill(slot) -> FilledBlock and empty(slot, count) -> Result, on this thread
// alone, or with overlap on this one (slot 0) and a second one (slot 1).
template <class Fill, class Empty> Result runPipeline(bool overlap, Fill&& fill, Empty&& empty) {
#if PIXFOLD_HAS_THREADS
    if (overlap) {
        PipelineTurns turns;
        std::thread second([&] { runSlot(turns, 1, fill, empty); });
        runSlot(turns, 0, fill, empty);
        second.join();
        return std::move(turns.failure);
    }
#else
    (void)overlap;
#endif
    return runSerially(fill, empty);
}

} // namespace pixfold
