// What a long run of a stream of images says while it runs and at its end,
// on a terminal only: a line redrawn in place (images, images a second, MB a
// second) and a summary. Where standard error is not a terminal nothing is
// said at all, so logs and scripts see what they always saw.
#pragma once

#include "errors.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace pixfold {

// Only a tool's entry prints: it owns this record and its draw function, and
// the run only counts into it.
struct Progress {
    void (*draw)(Progress&) = nullptr; // the entry's; null: counted, never shown
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point lastDrawn;
    StreamFigures figures;
    std::size_t drawnLength = 0; // of the line on the terminal now, 0 when none is
};

// Whether standard error is a terminal (on Windows, a console).
bool standardErrorIsATerminal();

// A record that counts from now, drawn through draw (null: never).
Progress startProgress(void (*draw)(Progress&));

// After each image: counts it, notes the first whose size is not the first
// image's and, at most four times a second, redraws.
void countImage(Progress& progress, std::int32_t width, std::int32_t height, std::uint64_t bytes);

// The figures up to now, the time taken among them.
StreamFigures progressFigures(const Progress& progress);

} // namespace pixfold
