// Times runEnsemble against separate runoffSim runs, one per member, on the
// sample landscape: builds the basin with makeSampleBasin (its storm members
// too) and prepareTopography, sets the duration, makes the caches once, then
// runs every member's rainfall as input/rain.bin through runoffSim and all
// members at once through runEnsemble --member-files, on the same threads.
// Reports wall and processor time and peak resident memory (the kernel's
// high-water mark), and checks that each member's discharge files are the same.
//
// Usage: ensembleBench COLS ROWS DAYS MEMBERS [THREADS] [--programs DIR] [--keep DIR]
//   DAYS is 1 or 2 (the sample storm's members span two days); DIR of
//   --programs holds prepare/, simulation/ and ensemble/ of a build (default:
//   the build this benchmark belongs to); --keep works in DIR and leaves it.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "childRun.h"

namespace fs = std::filesystem;

namespace {

using Run = ChildRun;

Run runProgram(const std::vector<std::string>& args, const fs::path& dir, const fs::path& log) {
    return runChild(args, dir, log);
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets value `index` (from 0) of the parameter file.
void setParam(const fs::path& paramFile, std::size_t index, const std::string& value) {
    std::istringstream in(readAll(paramFile));
    std::vector<std::string> tokens((std::istream_iterator<std::string>(in)), std::istream_iterator<std::string>());
    tokens.at(index) = value;
    std::ofstream out(paramFile);
    for (const std::string& t : tokens) out << t << '\n';
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "ensembleBench: %s\n", what.c_str());
    std::exit(1);
}

// A digest of the three discharge files in `dir`.
std::size_t filesDigest(const fs::path& dir) {
    std::string all;
    for (const char* f : {"discharge10minSnapshot.bin", "discharge10minMean.bin", "dischargeHourlyMean.bin"})
        all += readAll(dir / f) + '|';
    return std::hash<std::string>{}(all);
}

std::string memberName(int m) {
    char name[32];
    std::snprintf(name, sizeof name, "%03d", m);
    return name;
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
    if (positional.size() < 4)
        fail("usage: ensembleBench COLS ROWS DAYS MEMBERS [THREADS] [--programs DIR] [--keep DIR]");
    const std::string cols = positional[0], rows = positional[1];
    const int days = std::atoi(positional[2].c_str());
    const int members = std::atoi(positional[3].c_str());
    const std::string threads = positional.size() > 4 ? positional[4] : "2";
    if (days < 1 || days > 2 || members < 1) fail("DAYS must be 1 or 2 and MEMBERS at least 1");

    const fs::path work = keep.empty() ? fs::temp_directory_path() / ("ensembleBench-" + std::to_string(getpid())) : keep;
    const fs::path project = work / "project";
    fs::create_directories(work);
    const std::string sample = fs::absolute(programs / "prepare/makeSampleBasin").string();
    const std::string prepare = fs::absolute(programs / "prepare/prepareTopography").string();
    const std::string simulate = fs::absolute(programs / "simulation/runoffSim").string();
    const std::string ensemble = fs::absolute(programs / "ensemble/runEnsemble").string();
    if (runProgram({sample, "dem", "dem.asc", cols, rows}, work, work / "dem.log").status != 0 ||
        runProgram({prepare, "-o", "project", "dem.asc"}, work, work / "prepare.log").status != 0 ||
        runProgram({sample, "inputs", "project", cols, rows}, work, work / "inputs.log").status != 0 ||
        runProgram({sample, "ensemble", "project", cols, rows, std::to_string(members)}, work, work / "members.log")
                .status != 0) {
        fail("could not build the basin in " + work.string());
    }
    const fs::path params = project / "param-hsx-event-ver400.dat";
    setParam(params, 13, std::to_string(days));
    setParam(params, 5, "2");  // binary rainfall: input/rain.bin
    // The members span the sample's two days; the first day is its first half.
    for (int m = 0; m < members; ++m) {
        const fs::path file = project / "input/ensemble" / ("rain." + memberName(m) + ".bin");
        fs::resize_file(file, fs::file_size(file) / 2 * static_cast<uintmax_t>(days));
    }
    // The caches (order and rainfall mapping): a run without rainfall stops right after them.
    runProgram({simulate, "--threads", "1"}, project, work / "caches.log");
    std::istringstream header(readAll(project / "temp/numOfBasin.dat"));
    long skip = 0, cells = 0;
    double corner = 0.0;
    header >> skip >> skip >> corner >> corner >> skip >> cells;
    std::printf("sample landscape %s x %s, %d day(s), %ld ordered cells, %d members, %s threads\n", cols.c_str(),
                rows.c_str(), days, cells, members, threads.c_str());
    std::fflush(stdout);

    Run separate;
    std::vector<std::size_t> digests;
    long onePeak = 0;
    for (int m = 0; m < members; ++m) {
        fs::copy_file(project / "input/ensemble" / ("rain." + memberName(m) + ".bin"), project / "input/rain.bin",
                      fs::copy_options::overwrite_existing);
        const Run run = runProgram({simulate, "--threads", threads}, project, work / "member.log");
        if (run.status != 0) fail("runoffSim failed on member " + std::to_string(m) + "; see " + (work / "member.log").string());
        separate.seconds += run.seconds;
        separate.cpuSeconds += run.cpuSeconds;
        onePeak = std::max(onePeak, run.peakKiB);
        digests.push_back(filesDigest(project / "output"));
    }
    std::printf("%-28s %10s %10s %14s\n", "", "wall s", "cpu s", "peak RSS MB");
    std::printf("%-28s %10.2f %10.2f %14.1f\n", (std::to_string(members) + " runoffSim runs").c_str(), separate.seconds,
                separate.cpuSeconds, static_cast<double>(onePeak) / 1024.0);
    std::fflush(stdout);
    const Run together = runProgram({ensemble, "--threads", threads, "--member-files"}, project, work / "ensemble.log");
    if (together.status != 0) fail("runEnsemble failed; see " + (work / "ensemble.log").string());
    bool same = true;
    for (int m = 0; m < members; ++m) same = same && filesDigest(project / "output/ensemble" / memberName(m)) == digests[static_cast<std::size_t>(m)];

    std::printf("%-28s %10.2f %10.2f %14.1f\n", "runEnsemble --member-files", together.seconds, together.cpuSeconds,
                static_cast<double>(together.peakKiB) / 1024.0);
    std::printf("time ratio %.3f (wall), %.3f (cpu); memory ratio %.2f against one runoffSim run%s\n",
                together.seconds / separate.seconds, together.cpuSeconds / separate.cpuSeconds,
                static_cast<double>(together.peakKiB) / static_cast<double>(onePeak), same ? "" : "; FILES DIFFER");
    if (keep.empty()) fs::remove_all(work);
    return same ? 0 : 1;
}
