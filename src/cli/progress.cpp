#include "progress.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace pixfold {

namespace {

constexpr auto redrawInterval = std::chrono::milliseconds(250);

} // namespace

bool standardErrorIsATerminal() {
#ifdef _WIN32
    // _isatty is true of NUL too: only a console is a terminal here.
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(2)), &mode) != 0;
#else
    return ::isatty(2) != 0;
#endif
}

Progress startProgress(void (*draw)(Progress&)) {
    Progress progress;
    progress.draw = draw;
    progress.started = std::chrono::steady_clock::now();
    progress.lastDrawn = progress.started;
    return progress;
}

void countImage(Progress& progress, std::int32_t width, std::int32_t height, std::uint64_t bytes) {
    StreamFigures& figures = progress.figures;
    if (figures.images == 0) {
        figures.width = width;
        figures.height = height;
    }
    ++figures.images;
    if (figures.changedImage == 0 && (width != figures.width || height != figures.height)) {
        figures.changedImage = figures.images;
        figures.changedWidth = width;
        figures.changedHeight = height;
    }
    figures.bytes += bytes;
    const auto now = std::chrono::steady_clock::now();
    if (progress.draw == nullptr || now - progress.lastDrawn < redrawInterval) {
        return;
    }
    progress.lastDrawn = now;
    progress.draw(progress);
}

StreamFigures progressFigures(const Progress& progress) {
    StreamFigures figures = progress.figures;
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.started).count();
    return figures;
}

} // namespace pixfold
