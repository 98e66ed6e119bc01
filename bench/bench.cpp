// Times pixfold against the plainest copy a C programmer would write
// (plain_copy: fscanf for the header, fread in 1 MiB blocks, fwrite of the
// same output volume with no colour math), interleaved over rounds after a
// warm-up, and reports medians and ratios to the copy of the same volume and
// to the raw read/write limit of that volume (plain_copy --raw: read and write
// in blocks of 65536 pixels, no per-pixel work). pixunfold is timed the same
// way in e888 and e655 against the raw limit of its volumes. Also: each
// compiled pixel loop in memory (ns a pixel), both ways, a stream of small
// frames through one run (-s) against one run per frame, the tools' peak
// resident memory, and ffmpeg and netpbm's ppmtoyuv as reference points when
// they are installed. The other Netpbm types are timed against P6 with the
// same pixels: P5, PAM and a 16-bit P6 (the same picture, widened) per
// pixel, P3 and P2 as text read per second. PNG
// input (an RGBA picture ImageMagick writes) is timed against libspng's
// decode alone and the other tools' ways to the same place, and pixunfold's
// PNG output against its PPM.
//
// The library's rows (--library alone runs just those): every layout on every
// path against RGB24, a call on a 64-pixel row, decode to each layout, and
// libyuv's RGB24 and ARGB to I444 beside them when libyuv is installed.
//
//   pixfold_bench [--size WIDTHxHEIGHT] [--rounds N] [--frames N] [--data FOLDER] [--library]
//                 [--part png]
//
// --part png runs the PNG rows alone.
#include "api/api_paths.h"
#include "decode/decoder.h"
#include "encode/encoder.h"
#include "format/formats.h"
#include "pixfold/pixfold.h"
#include "support/process.h"

#include <sys/stat.h>
#include <unistd.h>

#ifdef PIXFOLD_HAVE_LIBYUV
#include <libyuv.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using pixfold::testing_support::onPath;
using pixfold::testing_support::ProcessRun;
using pixfold::testing_support::ProcessSetup;
using pixfold::testing_support::runProcess;

struct Options {
    long width = 8000;
    long height = 6000;
    int rounds = 15;
    int frames = 1000;
    std::string dataFolder = "bench-data";
    bool libraryOnly = false;
    bool pngOnly = false;
};

struct Contender {
    std::string name;
    std::vector<std::string> arguments; // program first
    std::string standardOutput;         // file that receives standard output
    int baseline = -1;                  // index of the copy it is compared with
    int rawLimit = -1;                  // index of the raw read/write of its volume
    std::vector<double> wall;
    std::vector<double> cpu;
    std::string input = {}; // whose size gives MB/s; empty: the main image
};

// Every run starts from the same state: no earlier output to truncate and no
// dirty pages waiting to be written back, which otherwise dominate the noise.
void settle(const std::vector<std::string>& outputs) {
    for (const std::string& path : outputs) {
        std::remove(path.c_str());
    }
    sync();
}

ProcessRun runOnce(const std::vector<std::string>& arguments, const std::string& stdoutPath) {
    ProcessSetup setup;
    setup.standardOutput = stdoutPath;
    setup.useEmulator = false;
    return runProcess(arguments[0],
                      std::vector<std::string>(arguments.begin() + 1, arguments.end()), setup);
}

// Peak resident memory of one run in KiB, as GNU time measures it. A child
// started with posix_spawn shares this process's memory until its exec, and
// the kernel keeps the larger peak, so ProcessRun's can't go below the
// benchmark's own; time's fork starts from its small self. -1 without it.
long peakKilobytesOf(const std::vector<std::string>& arguments, const std::string& stdoutPath,
                     const std::string& folder) {
    const std::string report = folder + "peak.txt";
    std::remove(report.c_str());
    std::vector<std::string> timed = {"/usr/bin/time", "-f", "%M", "-o", report};
    timed.insert(timed.end(), arguments.begin(), arguments.end());
    if (access(timed[0].c_str(), X_OK) != 0 || runOnce(timed, stdoutPath).status != 0) {
        return -1;
    }
    std::ifstream in(report);
    long kilobytes = -1;
    in >> kilobytes;
    return kilobytes;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

long fileSize(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

std::uint64_t nextRandom(std::uint64_t& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state >> 32;
}

// count random bytes from seed, for the loops timed in memory.
std::vector<std::uint8_t> randomBytes(std::size_t count, std::uint64_t seed) {
    std::vector<std::uint8_t> bytes(count);
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(nextRandom(seed));
    }
    return bytes;
}

// The same random samples as another Netpbm type: binary types take samples
// bytes a pixel after their header (two each where wide: the sample c as
// c * 257, most significant byte first, for a maximum of 65535); plain ones
// (P2, P3) are decimal text, a line a row. Written again unless a binary
// file has the right size.
bool writeRandomNetpbm(const std::string& path, const std::string& header, long width, long height,
                       int samples, bool plain, bool wide = false) {
    const long rasterBytes = width * height * samples * (wide ? 2 : 1);
    if (!plain && fileSize(path) == static_cast<long>(header.size()) + rasterBytes) {
        return true;
    }
    std::ofstream file(path, std::ios::binary);
    file << header;
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    std::string row;
    for (long y = 0; y < height; ++y) {
        row.clear();
        for (long x = 0; x < width * samples; ++x) {
            const auto sample = static_cast<unsigned char>(nextRandom(state));
            if (plain) {
                row += std::to_string(sample);
                row += ' ';
            } else {
                row += static_cast<char>(sample);
                if (wide) {
                    row += static_cast<char>(sample);
                }
            }
        }
        if (plain) {
            row.back() = '\n';
        }
        file.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    return static_cast<bool>(file);
}

// Random samples from a fixed seed, so every run times the same image.
bool writeRandomPpm(const std::string& path, long width, long height, int frames = 1) {
    const std::string header =
        "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    const long expected = (static_cast<long>(header.size()) + width * height * 3) * frames;
    if (fileSize(path) == expected) {
        return true;
    }
    std::ofstream file(path, std::ios::binary);
    std::vector<char> row(static_cast<std::size_t>(width) * 3);
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (int frame = 0; frame < frames; ++frame) {
        file << header;
        for (long y = 0; y < height; ++y) {
            for (char& sample : row) {
                sample = static_cast<char>(nextRandom(state));
            }
            file.write(row.data(), static_cast<std::streamsize>(row.size()));
        }
    }
    return static_cast<bool>(file);
}

bool parseOptions(int argc, char** argv, Options& options) {
    if (argc > 1 && std::string(argv[argc - 1]) == "--library") {
        options.libraryOnly = true;
        --argc;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--size" &&
            std::sscanf(argv[i + 1], "%ldx%ld", &options.width, &options.height) == 2) {
            continue;
        }
        if (name == "--rounds" && (options.rounds = std::atoi(argv[i + 1])) > 0) {
            continue;
        }
        if (name == "--frames" && (options.frames = std::atoi(argv[i + 1])) > 0) {
            continue;
        }
        if (name == "--data") {
            options.dataFolder = argv[i + 1];
            continue;
        }
        if (name == "--part" && std::string(argv[i + 1]) == "png") {
            options.pngOnly = true;
            continue;
        }
        return false;
    }
    return argc % 2 == 1 && options.width > 0 && options.height > 0;
}

std::string processorName() {
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("model name", 0) == 0) {
            return line.substr(line.find(':') + 2);
        }
    }
    return "unknown processor";
}

// ns a pixel of a step over the pixels, median of rounds of 20 repeats.
template <class Step> double nsAPixel(int rounds, std::size_t pixels, Step&& step) {
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (int repeat = 0; repeat < 20; ++repeat) {
            step();
        }
        const std::chrono::duration<double, std::nano> spent =
            std::chrono::steady_clock::now() - start;
        times.push_back(spent.count() / (20.0 * static_cast<double>(pixels)));
    }
    return median(times);
}

// ns a pixel of each runnable pixel loop, in memory, e888 and e655: the loop
// as the tools call it, and through the C API from RGB24 and RGBA32 pixels.
void timeLoopsInMemory(int rounds) {
    constexpr std::size_t pixels = 65536;
    const std::vector<std::uint8_t> samples = randomBytes(pixels * 3, 12345);
    std::vector<std::uint8_t> records(pixels * 4);
    std::vector<std::uint8_t> alpha(pixels * 4);
    std::printf("\npixel loops in memory, random pixels, ns a pixel (median of %d)\n\n", rounds);
    std::vector<std::uint8_t> rgba(pixels * 4);
    for (std::size_t i = 0; i < pixels; ++i) {
        std::copy_n(&samples[i * 3], 3, &rgba[i * 4]);
        rgba[i * 4 + 3] = 255;
    }
    std::printf("| %-9s | %-9s | %8s | %10s | %11s |\n"
                "|-----------|-----------|----------|------------|-------------|\n",
                "loop", "format", "ns/pixel", "API RGB24", "API RGBA32");
    for (const pixfold::Path path : pixfold::allPaths) {
        if (!pixfold::pathAvailable(path)) {
            continue;
        }
        for (const pixfold::OutputFormat format :
             {pixfold::OutputFormat::e888, pixfold::OutputFormat::e655,
              pixfold::OutputFormat::e888Alpha}) {
            pixfold::ConversionSettings settings;
            settings.format = format;
            const pixfold::EncodePlan plan = pixfold::makeEncodePlan(settings, 255, path);
            const double loop = nsAPixel(rounds, pixels, [&] {
                pixfold::encodePixels(samples.data(), pixels, plan, records.data(), alpha.data());
            });
            pixfold_settings apiSettings;
            pixfold_settings_init(&apiSettings);
            apiSettings.format = static_cast<pixfold_format>(format);
            double api[2] = {};
            for (const pixfold_layout layout : {PIXFOLD_LAYOUT_RGB24, PIXFOLD_LAYOUT_RGBA32}) {
                const std::vector<std::uint8_t>& source =
                    layout == PIXFOLD_LAYOUT_RGB24 ? samples : rgba;
                const std::size_t stride = source.size() / 256;
                api[layout == PIXFOLD_LAYOUT_RGB24 ? 0 : 1] = nsAPixel(rounds, pixels, [&] {
                    pixfold::encodeOnPath(path, source.data(), stride, source.size(), layout,
                                          records.data(), records.size(), alpha.data(),
                                          alpha.size(), 256, pixels / 256, 255, &apiSettings);
                });
            }
            std::printf("| %-9s | %-9s | %8.2f | %10.2f | %11.2f |\n",
                        std::string(pixfold::pathName(path)).c_str(),
                        std::string(pixfold::formatName(format)).c_str(), loop, api[0], api[1]);
        }
    }
}

// ns a pixel of each runnable decode loop, in memory, e888, and e655's table.
void timeDecodeInMemory(int rounds) {
    constexpr std::size_t pixels = 65536;
    const std::vector<std::uint8_t> records = randomBytes(pixels * 4, 54321);
    std::vector<std::uint8_t> samples(pixels * 3);
    std::printf("\ndecode loops in memory, random records, ns a pixel (median of %d)\n\n", rounds);
    std::printf("| %-16s | %-9s | %8s |\n|------------------|-----------|----------|\n", "loop",
                "format", "ns/pixel");
    for (const pixfold::Path path : pixfold::allPaths) {
        for (const pixfold::OutputFormat format :
             {pixfold::OutputFormat::e888, pixfold::OutputFormat::e655}) {
            if (!pixfold::pathAvailable(path)) {
                continue;
            }
            const pixfold::DecodePlan plan = pixfold::makeDecodePlan(format, path);
            std::vector<double> times;
            for (int round = 0; round < rounds; ++round) {
                const auto start = std::chrono::steady_clock::now();
                for (int repeat = 0; repeat < 20; ++repeat) {
                    pixfold::decodeRecords(records.data(), pixels, plan, samples.data());
                }
                const std::chrono::duration<double, std::nano> spent =
                    std::chrono::steady_clock::now() - start;
                times.push_back(spent.count() / (20.0 * pixels));
            }
            const std::string loop =
                std::string(pixfold::pathName(path)) + (plan.table655 == nullptr ? "" : " (table)");
            std::printf("| %-16s | %-9s | %8.2f |\n", loop.c_str(),
                        std::string(pixfold::formatName(format)).c_str(), median(times));
        }
    }
}

// Best of rounds, ns a pixel, of a step over the pixels.
template <class Step>
double bestNsAPixel(int rounds, std::size_t pixels, int repeats, Step&& step) {
    double best = 1e300;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (int repeat = 0; repeat < repeats; ++repeat) {
            step();
        }
        const std::chrono::duration<double, std::nano> spent =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, spent.count() / (repeats * static_cast<double>(pixels)));
    }
    return best;
}

// The library on a 4000x3000 picture of random pixels in memory, best of 7:
// each layout to e888 on each path, with its ratio to RGB24; a call on a
// row of 64 pixels; decode to each layout; libyuv beside them.
void timeLibrary() {
    constexpr int width = 4000;
    constexpr int height = 3000;
    constexpr std::size_t pixels = std::size_t{width} * height;
    constexpr int rounds = 7;
    const std::vector<std::uint8_t> source = randomBytes(pixels * 8, 777);
    std::vector<std::uint8_t> records(pixels * 4);
    std::vector<std::uint8_t> alpha(pixels * 4);
    pixfold_settings settings;
    pixfold_settings_init(&settings);
    std::printf(
        "\nlibpixfold, %dx%d random pixels in memory, one thread, best of %d, ns a pixel\n\n"
        "| path      | layout | to e888 | / RGB24 |\n|-----------|--------|---------|---------|\n",
        width, height, rounds);
    const std::pair<pixfold_layout, const char*> layouts[] = {
        {PIXFOLD_LAYOUT_RGB24, "RGB24"},   {PIXFOLD_LAYOUT_BGR24, "BGR24"},
        {PIXFOLD_LAYOUT_RGBA32, "RGBA32"}, {PIXFOLD_LAYOUT_BGRA32, "BGRA32"},
        {PIXFOLD_LAYOUT_GRAY8, "GRAY8"},   {PIXFOLD_LAYOUT_RGB48, "RGB48"},
        {PIXFOLD_LAYOUT_RGBA64, "RGBA64"}};
    for (const pixfold::Path path : pixfold::allPaths) {
        if (!pixfold::pathAvailable(path)) {
            continue;
        }
        double rgb24 = 0;
        for (const auto& entry : layouts) {
            const pixfold_layout layout = entry.first; // not a binding: clang 14 captures none
            const std::size_t size = pixfold_layout_pixel_size(layout);
            const std::int32_t maxValue = size > 4 ? 65535 : 255;
            const double ns = bestNsAPixel(rounds, pixels, 1, [&] {
                pixfold::encodeOnPath(path, source.data(), width * size, pixels * size, layout,
                                      records.data(), records.size(), alpha.data(), alpha.size(),
                                      width, height, maxValue, &settings);
            });
            rgb24 = layout == PIXFOLD_LAYOUT_RGB24 ? ns : rgb24;
            std::printf("| %-9s | %-6s | %7.3f | %7.2f |\n",
                        std::string(pixfold::pathName(path)).c_str(), entry.second, ns, ns / rgb24);
        }
    }
    std::printf(
        "\n| path      | decode e888 to | ns/pixel |\n|-----------|----------------|----------|\n");
    for (const pixfold::Path path : pixfold::allPaths) {
        for (const auto& [layout, name] : layouts) {
            const std::size_t size = pixfold_layout_pixel_size(layout);
            if (!pixfold::pathAvailable(path) || size == 1 || size > 4) {
                continue;
            }
            const pixfold::DecodePlan plan = pixfold::makeDecodePlan(
                pixfold::OutputFormat::e888, path, static_cast<pixfold::PixelLayout>(layout));
            std::vector<std::uint8_t> out(pixels * size);
            const double ns = bestNsAPixel(rounds, pixels, 1, [&] {
                pixfold::decodeRecords(source.data(), pixels, plan, out.data(), nullptr);
            });
            std::printf("| %-9s | %-14s | %8.3f |\n", std::string(pixfold::pathName(path)).c_str(),
                        name, ns);
        }
    }
    // A call on a row of 64 RGB24 pixels, through the public entry.
    const std::size_t row = 64;
    const double call = bestNsAPixel(rounds, 1, 200000, [&] {
        pixfold_encode(source.data(), row * 3, row * 3, PIXFOLD_LAYOUT_RGB24, records.data(),
                       row * 4, nullptr, 0, static_cast<std::int32_t>(row), 1, 255, &settings);
    });
    std::printf("\npixfold_encode, one row of 64 RGB24 pixels to e888 (%s): %.1f ns a call\n",
                pixfold_encode_path(), call);
#ifdef PIXFOLD_HAVE_LIBYUV
    std::vector<std::uint8_t> argb(pixels * 4);
    std::vector<std::uint8_t> planes(pixels * 3);
    std::uint8_t* y = planes.data();
    std::uint8_t* u = y + pixels;
    std::uint8_t* v = u + pixels;
    const double twoCalls = bestNsAPixel(rounds, pixels, 1, [&] {
        libyuv::RGB24ToARGB(source.data(), width * 3, argb.data(), width * 4, width, height);
        libyuv::ARGBToI444(argb.data(), width * 4, y, width, u, width, v, width, width, height);
    });
    const double oneCall = bestNsAPixel(rounds, pixels, 1, [&] {
        libyuv::ARGBToI444(source.data(), width * 4, y, width, u, width, v, width, width, height);
    });
    const double rowCalls = bestNsAPixel(rounds, 1, 200000, [&] {
        libyuv::RGB24ToARGB(source.data(), 64 * 3, argb.data(), 64 * 4, 64, 1);
        libyuv::ARGBToI444(argb.data(), 64 * 4, y, 64, u, 64, v, 64, 64, 1);
    });
    std::printf("libyuv RGB24ToARGB + ARGBToI444: %.3f ns a pixel; ARGBToI444 (BGRA32's bytes): "
                "%.3f ns a pixel; both on a row of 64: %.1f ns a call\n",
                twoCalls, oneCall, rowCalls);
#else
    std::printf("libyuv is not installed: no figures beside these.\n");
#endif
}

// One run over a stream of frames against one run per frame.
void timeFrameStream(const std::string& folder, int frames, int rounds) {
    const std::string single = folder + "frame.ppm";
    const std::string stream = folder + "frames.ppm";
    const std::string output = folder + "frames.yuv";
    if (!writeRandomPpm(single, 320, 240) || !writeRandomPpm(stream, 320, 240, frames)) {
        std::fputs("can't write the frame images\n", stderr);
        return;
    }
    std::vector<double> streamed;
    std::vector<double> separate;
    for (int round = 0; round < std::max(3, rounds / 5); ++round) {
        settle({output});
        streamed.push_back(
            runOnce({PIXFOLD_EXECUTABLE, "-s", "-f", "e655", stream, output}, "/dev/null")
                .wallSeconds);
        settle({output});
        const auto start = std::chrono::steady_clock::now();
        for (int frame = 0; frame < frames; ++frame) {
            runOnce({PIXFOLD_EXECUTABLE, "-f", "e655", single, output}, "/dev/null");
        }
        separate.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("\n%d frames of 320x240, e655, medians of %zu rounds: one run with -s %.3f s, "
                "%d runs %.3f s: %.1f times faster\n",
                frames, streamed.size(), median(streamed), frames, median(separate),
                median(separate) / median(streamed));
    settle({output});
}

// What each PNG row runs: its arguments, and where standard output goes.
struct PngContender {
    std::string name;
    std::vector<std::string> arguments;
    std::string standardOutput;
    std::vector<double> wall;
    std::vector<double> cpu;
};

// PNG input and output, when this build reads PNG and ImageMagick is
// installed: an RGBA picture of photographic noise over smooth shapes (a
// plasma, scaled, with gaussian noise; alpha a gradient), as ImageMagick
// writes it by default, made once.
void timePng(const Options& options, const std::string& folder) {
#ifdef PIXFOLD_PNG_DECODE
    const std::string convert = "/usr/bin/convert"; // ImageMagick's own, by its path
    if (access(convert.c_str(), X_OK) != 0 || !onPath("pngtopam") || !onPath("ffmpeg")) {
        std::puts("\nPNG rows need ImageMagick (/usr/bin/convert), netpbm and ffmpeg.");
        return;
    }
    const std::string size = std::to_string(options.width) + "x" + std::to_string(options.height);
    const std::string png = folder + "bench-rgba-" + size + ".png";
    const std::string interlaced = folder + "bench-rgba-" + size + "-adam7.png";
    const std::string wide = folder + "bench-rgba-" + size + "-16.png";
    const std::string pam = folder + "bench-rgba-" + size + ".pam";
    const std::string records = folder + "bench-png.e888";
    const std::string output = folder + "out.bin";
    const std::string alpha = folder + "alpha.bin";
    const std::string pixfold = PIXFOLD_EXECUTABLE;
    const std::string pixunfold = PIXUNFOLD_EXECUTABLE;
    if (fileSize(png) <= 0) {
        const std::string plasma = std::to_string(std::max(1L, options.width / 8)) + "x" +
                                   std::to_string(std::max(1L, options.height / 8));
        const ProcessRun made =
            runOnce({convert,   "-seed",    "1",     "-size",    plasma,         "plasma:fractal",
                     "-resize", size + "!", "-seed", "2",        "-attenuate",   "0.2",
                     "+noise",  "Gaussian", "(",     "-size",    size,           "gradient:",
                     ")",       "-alpha",   "off",   "-compose", "copy_opacity", "-composite",
                     "-depth",  "8",        png},
                    "/dev/null");
        if (made.status != 0) {
            std::remove(png.c_str());
            std::fputs("can't make the PNG picture\n", stderr);
            return;
        }
    }
    if ((fileSize(interlaced) <= 0 &&
         runOnce({convert, png, "-interlace", "PNG", interlaced}, "/dev/null").status != 0) ||
        (fileSize(wide) <= 0 &&
         runOnce({convert, png, "-depth", "16", "PNG64:" + wide}, "/dev/null").status != 0)) {
        std::remove(interlaced.c_str());
        std::remove(wide.c_str());
        std::fputs("can't make the interlaced and 16-bit PNG pictures\n", stderr);
        return;
    }
    if (runOnce({"sh", "-c", "pngtopam -alphapam \"$1\" > \"$2\"", "sh", png, pam}, "/dev/null")
                .status != 0 ||
        runOnce({pixfold, png, records}, "/dev/null").status != 0) {
        std::fputs("can't make the PAM and the records of the PNG picture\n", stderr);
        return;
    }
    const std::string width = std::to_string(options.width);
    const std::string height = std::to_string(options.height);
    std::vector<PngContender> contenders = {
        {"libspng decode alone", {PIXFOLD_PNG_DECODE, png}, "/dev/null", {}, {}},
        {"pixfold PNG e888", {pixfold, png, output}, "/dev/null", {}, {}},
        {"pixfold Adam7 PNG e888", {pixfold, interlaced, output}, "/dev/null", {}, {}},
        {"libspng 16-bit alone", {PIXFOLD_PNG_DECODE, wide}, "/dev/null", {}, {}},
        {"pixfold 16-bit PNG e888", {pixfold, wide, output}, "/dev/null", {}, {}},
        {"pixfold PNG -t Alpha",
         {pixfold, "-t", "-f", "e888Alpha", "-1", "ff", png, output},
         alpha,
         {},
         {}},
        {"pngtopam | pixfold -t",
         {"sh", "-c", "pngtopam -alphapam \"$1\" | \"$2\" -t -f e888Alpha -1 ff - \"$3\"", "sh",
          png, pixfold, output},
         alpha,
         {},
         {}},
        {"ffmpeg yuv444p",
         {"ffmpeg", "-v", "error", "-y", "-i", png, "-f", "rawvideo", "-pix_fmt", "yuv444p",
          output},
         "/dev/null",
         {},
         {}},
        {"convert ycbcr:", {convert, png, "ycbcr:" + output}, "/dev/null", {}, {}},
        {"pixfold PAM e888", {pixfold, pam, output}, "/dev/null", {}, {}},
        {"pixunfold to PPM",
         {pixunfold, width, height, records, folder + "back.ppm"},
         "/dev/null",
         {},
         {}},
        {"pixunfold to PNG",
         {pixunfold, width, height, records, folder + "back.png"},
         "/dev/null",
         {},
         {}},
    };
    const std::vector<std::string> outputs = {output, alpha, folder + "back.ppm",
                                              folder + "back.png"};
    for (PngContender& contender : contenders) {
        settle(outputs);
        if (runOnce(contender.arguments, contender.standardOutput).status != 0) {
            std::fprintf(stderr, "%s failed\n", contender.name.c_str());
            return;
        }
    }
    for (int round = 0; round < options.rounds; ++round) {
        for (PngContender& contender : contenders) {
            settle(outputs);
            const ProcessRun run = runOnce(contender.arguments, contender.standardOutput);
            contender.wall.push_back(run.wallSeconds);
            contender.cpu.push_back(run.cpuSeconds);
        }
    }
    const long backPng = fileSize(folder + "back.png");
    std::printf("\nPNG: %s RGBA picture (%.1f MB as ImageMagick wrote it), %d interleaved "
                "rounds, medians; ratios to libspng's decode alone (PNG input) and to the PPM "
                "(pixunfold)\n\n",
                size.c_str(), static_cast<double>(fileSize(png)) / 1e6, options.rounds);
    std::printf("| %-22s | %8s | %8s | %8s |\n", "program", "wall s", "cpu s", "ratio");
    std::printf("|------------------------|----------|----------|----------|\n");
    const std::size_t firstUnfold = contenders.size() - 2;
    const double decode = median(contenders[0].wall);
    const double ppm = median(contenders[firstUnfold].wall);
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        const PngContender& contender = contenders[i];
        const double wall = median(contender.wall);
        std::printf("| %-22s | %8.3f | %8.3f | %8.2f |\n", contender.name.c_str(), wall,
                    median(contender.cpu), wall / (i >= firstUnfold ? ppm : decode));
    }
    settle(outputs);
    const long pngPeak = peakKilobytesOf({pixfold, png, output}, "/dev/null", folder);
    settle(outputs);
    const long pamPeak = peakKilobytesOf({pixfold, pam, output}, "/dev/null", folder);
    settle(outputs);
    const long interlacedPeak = peakKilobytesOf({pixfold, interlaced, output}, "/dev/null", folder);
    const double narrowRun = median(contenders[1].wall);
    const double wideRun = median(contenders[4].wall);
    std::printf("\n16-bit PNG (%.1f MB): pixfold %.2f times the 8-bit PNG's time, %.2f times "
                "libspng's decode of it alone\n",
                static_cast<double>(fileSize(wide)) / 1e6, wideRun / narrowRun,
                wideRun / median(contenders[3].wall));
    std::printf("\npixfold peak resident memory: PNG %ld KiB, the same pixels as a PAM %ld KiB "
                "(%+ld KiB), the PNG interlaced %ld KiB\n",
                pngPeak, pamPeak, pngPeak - pamPeak, interlacedPeak);
    std::printf("\npixunfold's PNG: %.1f MB, %.0f%% of the PPM\n",
                static_cast<double>(backPng) / 1e6,
                100.0 * static_cast<double>(backPng) /
                    static_cast<double>(fileSize(folder + "back.ppm") > 0
                                            ? fileSize(folder + "back.ppm")
                                            : options.width * options.height * 3));
    settle(outputs);
#else
    (void)options;
    (void)folder;
    std::puts("\nThis build reads no PNG: no PNG rows.");
#endif
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fputs("usage: pixfold_bench [--size WIDTHxHEIGHT] [--rounds N] [--frames N] "
                   "[--data FOLDER] [--part png] [--library]\n",
                   stderr);
        return 1;
    }
    if (options.libraryOnly) {
        std::printf("%s\n", processorName().c_str());
        timeLibrary();
        return 0;
    }
    mkdir(options.dataFolder.c_str(), 0755);
    const std::string folder = options.dataFolder + "/";
    if (options.pngOnly) {
        std::printf("%s\n", processorName().c_str());
        timePng(options, folder);
        return 0;
    }
    const std::string image = folder + "bench.ppm";
    const std::string tiny = folder + "tiny.ppm";
    const std::string output = folder + "out.bin";
    const std::string alpha = folder + "alpha.bin";
    if (!writeRandomPpm(image, options.width, options.height) || !writeRandomPpm(tiny, 1, 1)) {
        std::fprintf(stderr, "can't write the test images in %s\n", folder.c_str());
        return 1;
    }

    const std::string pixfold = PIXFOLD_EXECUTABLE;
    const std::string pixunfold = PIXUNFOLD_EXECUTABLE;
    const std::string copy = PIXFOLD_PLAIN_COPY;
    const std::string discard = "/dev/null";
    const std::string width = std::to_string(options.width);
    const std::string height = std::to_string(options.height);
    const std::string pixels = std::to_string(options.width * options.height);
    const std::string records888 = folder + "records.e888";
    const std::string records655 = folder + "records.e655";
    const std::string records655Z = folder + "records.e655Z";
    if (runOnce({pixfold, "-f", "e888", image, records888}, discard).status != 0 ||
        runOnce({pixfold, "-f", "e655", image, records655}, discard).status != 0 ||
        runOnce({pixfold, "-f", "e655Z", "-m", "ff00ff", "-1", "ff", image, records655Z}, discard)
                .status != 0) {
        std::fputs("can't write the records pixunfold reads\n", stderr);
        return 1;
    }
    // Each with the index of the plain copy and of the raw limit of its volume.
    std::vector<Contender> contenders = {
        {"plain copy 4 B", {copy, image, output}, discard, 0, 3, {}, {}},
        {"plain copy 2 B", {copy, "--bytes", "2", image, output}, discard, 1, 4, {}, {}},
        {"plain copy 4+4 B", {copy, "--alpha", image, output}, alpha, 2, 5, {}, {}},
        {"raw read/write 4 B", {copy, "--raw", image, output}, discard, 0, 3, {}, {}},
        {"raw read/write 2 B",
         {copy, "--raw", "--bytes", "2", image, output},
         discard,
         1,
         4,
         {},
         {}},
        {"raw read/write 4+4 B", {copy, "--raw", "--alpha", image, output}, alpha, 2, 5, {}, {}},
        {"raw 4 B to 3 B",
         {copy, "--raw", "--records", "4", "--pixels", pixels, records888, output},
         discard,
         6,
         6,
         {},
         {}},
        {"raw 2 B to 3 B",
         {copy, "--raw", "--records", "2", "--pixels", pixels, records655, output},
         discard,
         7,
         7,
         {},
         {}},
        {"pixfold e888", {pixfold, "-f", "e888", image, output}, discard, 0, 3, {}, {}},
        {"pixfold e655", {pixfold, "-f", "e655", image, output}, discard, 1, 4, {}, {}},
        {"pixfold e655Z",
         {pixfold, "-f", "e655Z", "-m", "ff00ff", "-1", "ff", image, output},
         discard,
         0,
         3,
         {},
         {}},
        {"pixfold e888Alpha",
         {pixfold, "-f", "e888Alpha", "-m", "ff00ff", "-1", "ff", image, output},
         alpha,
         2,
         5,
         {},
         {}},
        {"pixunfold e888",
         {pixunfold, "-f", "e888", width, height, records888, output},
         discard,
         6,
         6,
         {},
         {}},
        {"pixunfold e655",
         {pixunfold, "-f", "e655", width, height, records655, output},
         discard,
         7,
         7,
         {},
         {}},
        {"pixunfold e655Z",
         {pixunfold, "-f", "e655Z", width, height, records655Z, output},
         discard,
         6,
         6,
         {},
         {}},
        // The key plane, 1 byte a pixel, to standard output beside the picture.
        {"raw 4 B to 3+1 B",
         {copy, "--raw", "--mask", "--records", "4", "--pixels", pixels, records655Z, output},
         alpha,
         15,
         15,
         {},
         {}},
        {"pixunfold e655Z -k",
         {pixunfold, "-f", "e655Z", "-k", "-", width, height, records655Z, output},
         alpha,
         15,
         15,
         {},
         {}},
    };
    // The other types: the same number of pixels as P6 for the binary ones, a
    // smaller picture for plain text, timed beside a P6 of its size.
    const std::string size = std::to_string(options.width) + " " + std::to_string(options.height);
    const std::string pamSize = "WIDTH " + std::to_string(options.width) + "\nHEIGHT " +
                                std::to_string(options.height) + "\n";
    const long plainWidth = std::max(1L, options.width / 4);
    const long plainHeight = std::max(1L, options.height / 4);
    const std::string plainSize = std::to_string(plainWidth) + " " + std::to_string(plainHeight);
    const std::string grey = folder + "bench.pgm";
    const std::string rgb = folder + "bench-rgb.pam";
    const std::string rgba = folder + "bench-rgba.pam";
    const std::string smallP6 = folder + "bench-small.ppm";
    const std::string wideP6 = folder + "bench-16.ppm";
    const std::string plainColour = folder + "bench-plain.ppm";
    const std::string plainGrey = folder + "bench-plain.pgm";
    if (!writeRandomNetpbm(grey, "P5\n" + size + "\n255\n", options.width, options.height, 1,
                           false) ||
        !writeRandomNetpbm(rgb, "P7\n" + pamSize + "DEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n",
                           options.width, options.height, 3, false) ||
        !writeRandomNetpbm(rgba,
                           "P7\n" + pamSize + "DEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                           options.width, options.height, 4, false) ||
        !writeRandomNetpbm(smallP6, "P6\n" + plainSize + "\n255\n", plainWidth, plainHeight, 3,
                           false) ||
        !writeRandomNetpbm(wideP6, "P6\n" + size + "\n65535\n", options.width, options.height, 3,
                           false, true) ||
        !writeRandomNetpbm(plainColour, "P3\n" + plainSize + "\n255\n", plainWidth, plainHeight, 3,
                           true) ||
        !writeRandomNetpbm(plainGrey, "P2\n" + plainSize + "\n255\n", plainWidth, plainHeight, 1,
                           true)) {
        std::fprintf(stderr, "can't write the Netpbm images in %s\n", folder.c_str());
        return 1;
    }
    const auto indexOf = [&](const std::string& name) {
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            if (contenders[i].name == name) {
                return static_cast<int>(i);
            }
        }
        return 0;
    };
    const int p6e888 = indexOf("pixfold e888");
    const int p6e888Alpha = indexOf("pixfold e888Alpha");
    const int p6Small = static_cast<int>(contenders.size());
    contenders.push_back(
        {"P6 1/16 size e888", {pixfold, smallP6, output}, discard, p6Small, -1, {}, {}, smallP6});
    contenders.push_back(
        {"P5 e888", {pixfold, "-f", "e888", grey, output}, discard, p6e888, -1, {}, {}, grey});
    contenders.push_back({"P6 16-bit e888",
                          {pixfold, "-f", "e888", wideP6, output},
                          discard,
                          p6e888,
                          -1,
                          {},
                          {},
                          wideP6});
    contenders.push_back(
        {"PAM RGB e888", {pixfold, "-f", "e888", rgb, output}, discard, p6e888, -1, {}, {}, rgb});
    contenders.push_back({"PAM RGBA e888",
                          {pixfold, "-f", "e888", rgba, output},
                          discard,
                          p6e888,
                          -1,
                          {},
                          {},
                          rgba});
    contenders.push_back(
        {"PAM RGBA -t Alpha",
         {pixfold, "-t", "-f", "e888Alpha", "-m", "ff00ff", "-1", "ff", rgba, output},
         alpha,
         p6e888Alpha,
         -1,
         {},
         {},
         rgba});
    contenders.push_back({"P3 1/16 size e888",
                          {pixfold, plainColour, output},
                          discard,
                          p6Small,
                          -1,
                          {},
                          {},
                          plainColour});
    contenders.push_back({"P2 1/16 size e888",
                          {pixfold, plainGrey, output},
                          discard,
                          p6Small,
                          -1,
                          {},
                          {},
                          plainGrey});

    std::vector<std::string> absent;
    if (onPath("ffmpeg")) {
        contenders.push_back({"ffmpeg yuv444p",
                              {"ffmpeg", "-v", "error", "-y", "-i", image, "-pix_fmt", "yuv444p",
                               "-f", "rawvideo", output},
                              discard,
                              0,
                              3,
                              {},
                              {}});
    } else {
        absent.push_back("ffmpeg");
    }
    if (onPath("ppmtoyuv")) {
        contenders.push_back({"netpbm ppmtoyuv", {"ppmtoyuv", image}, output, 0, 3, {}, {}});
    } else {
        absent.push_back("ppmtoyuv");
    }

    const std::vector<std::string> outputs = {output, alpha};
    for (Contender& contender : contenders) { // warm-up, and a check that each one works
        settle(outputs);
        if (runOnce(contender.arguments, contender.standardOutput).status != 0) {
            std::fprintf(stderr, "%s failed\n", contender.name.c_str());
            return 1;
        }
    }
    for (int round = 0; round < options.rounds; ++round) {
        for (Contender& contender : contenders) {
            settle(outputs);
            const ProcessRun run = runOnce(contender.arguments, contender.standardOutput);
            contender.wall.push_back(run.wallSeconds);
            contender.cpu.push_back(run.cpuSeconds);
        }
    }

    const double megabytes = static_cast<double>(fileSize(image)) / 1e6;
    std::printf("%s; image %ldx%ld (%.0f MB) in the page cache, %d interleaved rounds, "
                "medians; MB/s of each program's own input\n\n",
                processorName().c_str(), options.width, options.height, megabytes, options.rounds);
    std::printf("| %-20s | %8s | %8s | %8s | %-16s | %8s | %-20s | %8s |\n", "program", "wall s",
                "cpu s", "MB/s", "compared with", "ratio", "raw limit", "ratio");
    std::printf("|----------------------|----------|----------|----------|------------------|------"
                "----|----------------------|----------|\n");
    for (const Contender& contender : contenders) {
        const double wall = median(contender.wall);
        const Contender& baseline = contenders[static_cast<std::size_t>(contender.baseline)];
        const double inputMegabytes = contender.input.empty()
                                          ? megabytes
                                          : static_cast<double>(fileSize(contender.input)) / 1e6;
        const bool limited = contender.rawLimit >= 0;
        const Contender& rawLimit =
            contenders[static_cast<std::size_t>(limited ? contender.rawLimit : contender.baseline)];
        std::printf("| %-20s | %8.3f | %8.3f | %8.1f | %-16s | %8.2f | %-20s | %8.2f |\n",
                    contender.name.c_str(), wall, median(contender.cpu), inputMegabytes / wall,
                    baseline.name.c_str(), wall / median(baseline.wall),
                    limited ? rawLimit.name.c_str() : "-",
                    limited ? wall / median(rawLimit.wall) : 0.0);
    }
    for (const std::string& name : absent) {
        std::printf("\n%s is not installed: no reference time for it.", name.c_str());
    }

    timeLoopsInMemory(options.rounds);
    timeDecodeInMemory(options.rounds);
    timeLibrary();
    timeFrameStream(folder, options.frames, options.rounds);
    timePng(options, folder);

    settle(outputs);
    const long small = peakKilobytesOf({pixfold, tiny, output}, discard, folder);
    settle(outputs);
    const long large = peakKilobytesOf({pixfold, image, output}, discard, folder);
    settle(outputs);
    const long unfolded = peakKilobytesOf(
        {pixunfold, "-f", "e888", width, height, records888, output}, discard, folder);
    std::printf("\npixfold peak resident memory: 1x1 image %ld KiB, %ldx%ld image %ld KiB; "
                "pixunfold e888 %ld KiB\n",
                small, options.width, options.height, large, unfolded);
    settle(outputs);
    return 0;
}
