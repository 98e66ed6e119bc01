// Times pixfold in each format against a copy floor (the same reads and a
// 4-byte-per-pixel write with no colour math), interleaved over several
// rounds after a warm-up, and reports medians, throughput, the ratio to the
// floor, and pixfold's peak resident memory. A second floor also writes the
// 4-byte alpha stream, the I/O that e888Alpha does on top of e888. ffmpeg and
// netpbm's ppmtoyuv are timed on the same image as reference points when they
// are installed.
//
//   pixfold_bench [--size WIDTHxHEIGHT] [--rounds N] [--data FOLDER]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Options {
    long width = 8000;
    long height = 6000;
    int rounds = 5;
    std::string dataFolder = "bench-data";
};

struct Measurement {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakKilobytes = 0;
    int status = -1;
};

struct Contender {
    std::string name;
    std::vector<std::string> arguments;
    std::string standardOutput; // file that receives standard output
    std::vector<double> wall;
    std::vector<double> cpu;
};

// Every run starts from the same state: no earlier output to truncate and no
// dirty pages waiting to be written back, which otherwise dominate the noise.
void settle(const std::vector<std::string>& outputs) {
    for (const std::string& path : outputs) {
        std::remove(path.c_str());
    }
    sync();
}

Contender contender(std::string name, std::vector<std::string> arguments,
                    std::string standardOutput) {
    return {std::move(name), std::move(arguments), std::move(standardOutput), {}, {}};
}

Measurement runOnce(const std::vector<std::string>& arguments, const std::string& stdoutPath) {
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    argv.reserve(copies.size() + 1);
    for (std::string& argument : copies) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);

    Measurement result;
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return result;
    }
    int waitStatus = 0;
    struct rusage usage {};
    wait4(child, &waitStatus, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);

    result.wallSeconds = std::chrono::duration<double>(end - start).count();
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.peakKilobytes = usage.ru_maxrss;
    result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string folders = path == nullptr ? "/usr/bin:/bin" : path;
    std::size_t begin = 0;
    while (begin <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', begin), folders.size());
        const std::string candidate = folders.substr(begin, end - begin) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

long fileSize(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// Random samples from a fixed seed, so every run times the same image.
bool writeRandomPpm(const std::string& path, long width, long height) {
    const std::string header =
        "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    const long expected = static_cast<long>(header.size()) + width * height * 3;
    if (fileSize(path) == expected) {
        return true;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::fwrite(header.data(), 1, header.size(), file);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (long y = 0; y < height; ++y) {
        for (std::uint8_t& sample : row) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            sample = static_cast<std::uint8_t>(state >> 32);
        }
        std::fwrite(row.data(), 1, row.size(), file);
    }
    return std::fclose(file) == 0;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--size" &&
            std::sscanf(argv[i + 1], "%ldx%ld", &options.width, &options.height) == 2) {
            continue;
        }
        if (name == "--rounds" && (options.rounds = std::atoi(argv[i + 1])) > 0) {
            continue;
        }
        if (name == "--data") {
            options.dataFolder = argv[i + 1];
            continue;
        }
        return false;
    }
    return argc % 2 == 1 && options.width > 0 && options.height > 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fputs("usage: pixfold_bench [--size WIDTHxHEIGHT] [--rounds N] [--data FOLDER]\n",
                   stderr);
        return 1;
    }
    mkdir(options.dataFolder.c_str(), 0755);
    const std::string folder = options.dataFolder + "/";
    const std::string image = folder + "bench.ppm";
    const std::string tiny = folder + "tiny.ppm";
    const std::string output = folder + "out.bin";
    const std::string alpha = folder + "alpha.bin";
    if (!writeRandomPpm(image, options.width, options.height) || !writeRandomPpm(tiny, 1, 1)) {
        std::fprintf(stderr, "can't write the test images in %s\n", folder.c_str());
        return 1;
    }

    const std::string pixfold = PIXFOLD_EXECUTABLE;
    const std::string floor = PIXFOLD_COPY_FLOOR;
    const std::string discard = "/dev/null";
    std::vector<Contender> contenders = {
        contender("copy floor", {floor, image, output}, discard),
        contender("pixfold e888", {pixfold, "-f", "e888", image, output}, discard),
        contender("pixfold e655", {pixfold, "-f", "e655", image, output}, discard),
        contender("pixfold e655Z",
                  {pixfold, "-f", "e655Z", "-m", "ff00ff", "-1", "ff", image, output}, discard),
        contender("pixfold e888Alpha",
                  {pixfold, "-f", "e888Alpha", "-m", "ff00ff", "-1", "ff", image, output}, alpha),
        contender("copy floor + alpha", {floor, "--alpha", image, output}, alpha),
    };
    std::vector<std::string> absent;
    if (onPath("ffmpeg")) {
        contenders.push_back(contender("ffmpeg yuv444p",
                                       {"ffmpeg", "-v", "error", "-y", "-i", image, "-pix_fmt",
                                        "yuv444p", "-f", "rawvideo", output},
                                       discard));
    } else {
        absent.push_back("ffmpeg");
    }
    if (onPath("ppmtoyuv")) {
        contenders.push_back(contender("netpbm ppmtoyuv", {"ppmtoyuv", image}, output));
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
            const Measurement m = runOnce(contender.arguments, contender.standardOutput);
            contender.wall.push_back(m.wallSeconds);
            contender.cpu.push_back(m.cpuSeconds);
        }
    }

    const double megabytes = static_cast<double>(fileSize(image)) / 1e6;
    const double floorWall = median(contenders[0].wall);
    std::printf("image %ldx%ld (%.0f MB), %d rounds, medians\n\n", options.width, options.height,
                megabytes, options.rounds);
    std::printf("| %-18s | %8s | %8s | %8s | %8s |\n", "program", "wall s", "cpu s", "MB/s",
                "x floor");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(20, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str());
    for (const Contender& contender : contenders) {
        const double wall = median(contender.wall);
        std::printf("| %-18s | %8.3f | %8.3f | %8.1f | %8.2f |\n", contender.name.c_str(), wall,
                    median(contender.cpu), megabytes / wall, wall / floorWall);
    }
    for (const std::string& name : absent) {
        std::printf("\n%s is not installed: no reference time for it.", name.c_str());
    }

    settle(outputs);
    const Measurement small = runOnce({pixfold, tiny, output}, "/dev/null");
    settle(outputs);
    const Measurement large = runOnce({pixfold, image, output}, "/dev/null");
    std::printf("\n\npixfold peak resident memory: 1x1 image %ld KiB, %ldx%ld image %ld KiB\n",
                small.peakKilobytes, options.width, options.height, large.peakKilobytes);
    settle(outputs);
    return 0;
}
