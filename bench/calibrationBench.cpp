// Times the evaluations of a calibration on a prepared project with a gauge cell:
//   1. one evaluation (runSelection of the gauge's cells and everything
//      upstream, on one thread) against runoffSim --threads 1 on a copy of the
//      project that lists only the gauge's basin (its caches made beforehand);
//   2. evaluations per second on 1 and on 2 threads, one evaluation per thread
//      at a time, as calibrateModel runs a batch.
// Every time is the minimum over the repeats: the machine may be shared.
//
// Usage: calibrationBench PROJECT COL ROW [--repeats R] [--batch B] [--runoffSim PATH]

#include "event.h"
#include "inputError.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double threadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Timing {
    double wall = 1e30, cpu = 1e30;
    void take(double w, double c) {
        wall = std::min(wall, w);
        cpu = std::min(cpu, c);
    }
};

// runoffSim in `dir`, console discarded; wall time and the child's CPU time.
std::pair<double, double> runProgram(const std::string& program, const fs::path& dir) {
    std::fflush(stdout);
    const double start = now();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        if (!std::freopen("/dev/null", "w", stdout)) _exit(127);
        execl(program.c_str(), program.c_str(), "--threads", "1", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "runoffSim failed in %s\n", dir.c_str());
        std::exit(1);
    }
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    return {now() - start, cpu};
}

// A copy of the project whose river list keeps only the basin numbered `river`.
fs::path basinAlone(const fs::path& project, int32_t river) {
    const fs::path copy = fs::temp_directory_path() / ("calibrationBench-" + std::to_string(getpid()));
    fs::remove_all(copy);
    fs::copy(project, copy, fs::copy_options::recursive);
    fs::remove_all(copy / "output");
    fs::create_directories(copy / "output/damData");
    fs::create_directories(copy / "output/resData");
    std::ifstream in(copy / "topoData/riverNumList.dat");
    std::string line, kept;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        int32_t number = -1;
        if (words >> number && number == river) kept += line + "\n";
    }
    std::ofstream(copy / "topoData/riverNumList.dat") << kept;
    return copy;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "Usage: calibrationBench PROJECT COL ROW [--repeats R] [--batch B] [--runoffSim PATH]\n");
        return 1;
    }
    const fs::path project = fs::absolute(argv[1]);
    const int column = std::atoi(argv[2]), row = std::atoi(argv[3]);
    int repeats = 3, batch = 8;
    std::string runoffSim = (fs::path(argv[0]).parent_path() / "../simulation/runoffSim").string();
    for (int a = 4; a + 1 < argc; a += 2) {
        const std::string option = argv[a];
        if (option == "--repeats") repeats = std::atoi(argv[a + 1]);
        if (option == "--batch") batch = std::atoi(argv[a + 1]);
        if (option == "--runoffSim") runoffSim = argv[a + 1];
    }
    runoffSim = fs::absolute(runoffSim).string();  // it runs inside the copy of the project
    Event event;
    CellSelection selection;
    int32_t target = 0;
    try {
        event = loadEvent(project.string());
        target = event.grid.index(event.grid.nrows - row, column - 1);
        selection = selectUpstream(event, {target});
    } catch (const InputError& error) {
        std::fprintf(stderr, "%s", error.message.c_str());
        return 1;
    }
    const ParamChange unchanged;
    std::printf("Gauge column %d, row %d: %zu cells computed, %d days of %d s steps\n", column, row,
                selection.entries.size(), event.params.days, event.params.stepSeconds);

    // 1. One evaluation against runoffSim on the basin alone.
    Timing evaluation, program;
    for (int r = 0; r < repeats; ++r) {
        const double w = now(), c = threadCpu();
        const SelectionRun run = runSelection(event, selection, unchanged);
        evaluation.take(now() - w, threadCpu() - c);
        if (run.stopped) std::fprintf(stderr, "the evaluation stopped: %s\n", run.message.c_str());
    }
    const fs::path alone = basinAlone(project, event.grid.cell(target).riverNum);
    runProgram(runoffSim, alone);  // makes the caches of temp/
    for (int r = 0; r < repeats; ++r) {
        const auto [w, c] = runProgram(runoffSim, alone);
        program.take(w, c);
    }
    fs::remove_all(alone);
    std::printf("One evaluation          %8.3f s wall  %8.3f s CPU\n", evaluation.wall, evaluation.cpu);
    std::printf("runoffSim, basin alone  %8.3f s wall  %8.3f s CPU\n", program.wall, program.cpu);
    std::printf("Ratio                   %8.3f wall    %8.3f CPU\n", evaluation.wall / program.wall, evaluation.cpu / program.cpu);

    // 2. Evaluations per second on 1 and 2 threads.
    // The CPU time per evaluation tells how much the threads slow each other
    // (memory, caches) apart from what the other users of the machine take.
    double rate[3] = {0, 0, 0}, cpuPerEvaluation[3] = {0, 0, 0};
    for (int threads = 1; threads <= 2; ++threads) {
        double best = 1e30, bestCpu = 1e30;
        for (int r = 0; r < repeats; ++r) {
            std::atomic<int> next{0};
            std::vector<double> cpu(static_cast<std::size_t>(threads), 0.0);
            const double w = now();
            std::vector<std::thread> workers;
            for (int t = 0; t < threads; ++t)
                workers.emplace_back([&, t] {
                    const double c = threadCpu();
                    while (next.fetch_add(1) < batch) runSelection(event, selection, unchanged);
                    cpu[static_cast<std::size_t>(t)] = threadCpu() - c;
                });
            for (std::thread& t : workers) t.join();
            best = std::min(best, now() - w);
            double total = 0.0;
            for (const double c : cpu) total += c;
            bestCpu = std::min(bestCpu, total / batch);
        }
        rate[threads] = batch / best;
        cpuPerEvaluation[threads] = bestCpu;
        std::printf("%d thread%s  %8.3f evaluations/s, %6.3f s CPU per evaluation (batch of %d, best of %d)\n", threads,
                    threads == 1 ? " " : "s", rate[threads], bestCpu, batch, repeats);
    }
    std::printf("Speed-up 2 threads      %8.3f wall, %6.3f from the CPU time per evaluation\n", rate[2] / rate[1],
                2.0 * cpuPerEvaluation[1] / cpuPerEvaluation[2]);
    return 0;
}
