// Times whole runs of runoffSim on the sample landscape at any size: builds
// the basin with makeSampleBasin and prepareTopography, sets the duration,
// makes the caches once, then runs the event for each thread count and
// reports the wall time, cell-days per second and peak resident memory (the
// kernel's high-water mark, which counts mapped file pages too). Checks that
// every thread count writes the same discharge files.
//
// Usage: basinBench COLS ROWS DAYS [THREADS...] [--programs DIR] [--keep DIR]
//   DIR of --programs holds prepare/ and simulation/ of a build (default: the
//   build this benchmark belongs to); --keep works in DIR and leaves it.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fcntl.h>
#include <vector>

#include "childRun.h"

namespace fs = std::filesystem;

namespace {

using Run = ChildRun;

// Runs `args` in `dir` with its output in `log`; waits for it and takes its resource use.
Run runProgram(const std::vector<std::string>& args, const fs::path& dir, const fs::path& log) {
    return runChild(args, dir, log);
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets the duration (the 14th number) of the parameter file.
void setDays(const fs::path& paramFile, int days) {
    std::istringstream in(readAll(paramFile));
    std::vector<std::string> tokens((std::istream_iterator<std::string>(in)), std::istream_iterator<std::string>());
    tokens.at(13) = std::to_string(days);
    std::ofstream out(paramFile);
    for (const std::string& t : tokens) out << t << '\n';
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "basinBench: %s\n", what.c_str());
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    fs::path programs = fs::canonical("/proc/self/exe").parent_path().parent_path();
    fs::path keep;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if ((arg == "--programs" || arg == "--keep") && k + 1 < argc) {
            (arg == "--keep" ? keep : programs) = argv[++k];
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() < 3) fail("usage: basinBench COLS ROWS DAYS [THREADS...] [--programs DIR] [--keep DIR]");
    const std::string cols = positional[0], rows = positional[1];
    const int days = std::atoi(positional[2].c_str());
    std::vector<int> threads;
    for (std::size_t k = 3; k < positional.size(); ++k) threads.push_back(std::atoi(positional[k].c_str()));
    if (threads.empty()) threads = {1, 2};

    const fs::path work = keep.empty() ? fs::temp_directory_path() / ("basinBench-" + std::to_string(getpid())) : keep;
    const fs::path project = work / "project";
    fs::create_directories(work);
    const std::string sample = fs::absolute(programs / "prepare/makeSampleBasin").string();
    const std::string prepare = fs::absolute(programs / "prepare/prepareTopography").string();
    const std::string simulate = fs::absolute(programs / "simulation/runoffSim").string();
    if (runProgram({sample, "dem", "dem.asc", cols, rows}, work, work / "dem.log").status != 0 ||
        runProgram({prepare, "-o", "project", "dem.asc"}, work, work / "prepare.log").status != 0 ||
        runProgram({sample, "inputs", "project", cols, rows}, work, work / "inputs.log").status != 0) {
        fail("could not build the basin in " + work.string());
    }
    setDays(project / "param-hsx-event-ver400.dat", days);

    // The caches (order and rainfall mapping): a run without rainfall stops right after them.
    const fs::path rain = project / "input/rain10min.dat";
    fs::rename(rain, work / "rain.keep");
    runProgram({simulate, "--threads", "1"}, project, work / "caches.log");
    fs::rename(work / "rain.keep", rain);
    const std::string order = readAll(project / "temp/numOfBasin.dat");
    std::istringstream header(order);
    long skip = 0, cells = 0;
    double corner = 0.0;
    header >> skip >> skip >> corner >> corner >> skip >> cells;

    std::printf("sample landscape %s x %s, %d day(s), %ld ordered cells\n", cols.c_str(), rows.c_str(), days, cells);
    std::printf("%8s %10s %16s %14s\n", "threads", "wall s", "cell-days / s", "peak RSS MB");
    std::string reference;
    for (const int t : threads) {
        const Run run = runProgram({simulate, "--threads", std::to_string(t)}, project,
                                   work / ("run" + std::to_string(t) + ".log"));
        if (run.status != 0) fail("runoffSim failed; see " + (work / ("run" + std::to_string(t) + ".log")).string());
        std::string files;
        for (const char* f : {"discharge10minSnapshot.bin", "discharge10minMean.bin", "dischargeHourlyMean.bin"})
            files += readAll(project / "output" / f);
        if (reference.empty()) reference = files;
        const bool same = files == reference;
        std::printf("%8d %10.2f %16.0f %14.1f%s\n", t, run.seconds, static_cast<double>(cells) * days / run.seconds,
                    static_cast<double>(run.peakKiB) / 1024.0, same ? "" : "   FILES DIFFER");
        if (!same) return 1;
    }
    if (keep.empty()) fs::remove_all(work);
    return 0;
}
