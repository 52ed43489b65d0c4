#include "driver.h"

#include "calcOrder.h"
#include "cellSetup.h"
#include "dam.h"
#include "commandLine.h"
#include "dischargeFiles.h"
#include "dischargeOutput.h"
#include "grid.h"
#include "inputError.h"
#include "memoryBudget.h"
#include "paramFile.h"
#include "programInfo.h"
#include "progressLine.h"
#include "rainfall.h"
#include "reservoir.h"
#include "timeLoop.h"

#include <algorithm>
#include <optional>
#include <ostream>
#include <thread>
#include <vector>

namespace {

// More threads than this only cost memory; the count is capped, not refused.
constexpr int kMostThreads = 1024;

}  // namespace

std::string runUsage() {
    return "Usage: runoffSim [--threads N]\n"
           "Runs the flood event of the project in the current directory: reads\n"
           "param-hsx-event-ver400.dat, topoData/, input/ and paramData/, and writes\n"
           "temp/ and output/ (these directories must exist).\n"
           "\n"
           "  --threads N  compute cells on N threads (N >= 1); the default is every\n"
           "               hardware thread. Results are the same for every N.\n"
           "  --help       print this text.\n"
           "  --version    print the version.\n"
           "\n"
           "When standard error is a terminal, a progress line is shown there.\n";
}

RunOptions parseRunOptions(const std::vector<std::string>& args) {
    RunOptions options;
    const unsigned hardware = std::thread::hardware_concurrency();
    options.threads = hardware == 0 ? 1 : static_cast<int>(std::min<unsigned>(hardware, kMostThreads));
    CommandLine line(args, "runoffSim");
    while (line.advance()) {
        const std::string& arg = line.argument;
        if (isHelpOption(arg)) {
            options.help = true;
        } else if (isVersionOption(arg)) {
            options.version = true;
        } else if (arg == "--threads") {
            const std::string text = line.value();
            // A count beyond any machine is taken as the most there can be.
            const bool huge = text.size() > 9 && text[0] != '0' && text.find_first_not_of("0123456789") == std::string::npos;
            options.threads = huge ? kMostThreads : std::min(line.positiveCount(text), kMostThreads);
        } else {
            throw line.error("unknown option \"" + arg + "\".");
        }
    }
    return options;
}

int runSimulation(std::ostream& out, const RunOptions& options) {
    out << "Reading parameters for runoff simulation.\n";
    const ModelParams params = readParamFile(out);
    out.flush();

    const std::vector<int32_t> riverNumList = readRiverList(out);
    requireGridSize(params);
    const double available = availableMemoryBytes();
    requireMemory(gridMemoryBytes(params), available);
    CellGrid grid(params.nrows, params.ncols);
    RainGrid rain = makeRainGrid(params);
    readTopography(grid, params);
    out.flush();

    connectRainfall(grid, rain, params, out);
    out.flush();

    out << "Set parameter data.\n";
    checkModelParams(params);
    requireMemory(gridMemoryBytes(params) + modelMemoryBytes(grid, params), available);
    setupCells(grid, params, out);
    out << "Set parameter data at the river mouthes.\n";
    setupMouths(grid);
    out.flush();

    const CalcOrder order = prepareCalcOrder(grid, params, out);
    out.flush();

    readRainfall(rain, params, out);
    std::vector<Dam> dams = readDams(grid, riverNumList, params, out);
    std::vector<Reservoir> reservoirs = readReservoirs(grid, riverNumList, params, out);
    out.flush();
    // A run whose results cannot be written stops before the long loop, not after.
    requireDiskSpace(outputBytes(params, dams.size() + reservoirs.size()),
                     writableBytes("./output/", {"./output/discharge10minSnapshot.bin", "./output/discharge10minMean.bin",
                                                 "./output/dischargeHourlyMean.bin",
                                                 "./output/totalRainDistribution.asc"}),
                     "./output/");

    // The discharge files are filled while the cells finish, under temporary
    // names that only a complete run turns into the real ones.
    DischargeFiles files;
    openDischargeFiles(files, grid, riverNumList, params, 0);

    out << "\nRunoff simulation starts.\n";
    std::optional<ProgressLine> progress;
    if (options.progress) progress = startProgress();
    const TenMinuteLayout layout(params.stepSeconds);
    const auto toFiles = [&](int32_t cell, const std::vector<float>& series) {
        thread_local std::vector<float> values;
        values.resize(static_cast<std::size_t>(params.days) * 24 * kValuesPerHour);
        cellStatistics(series, layout, params.days, params.stepsPerHour, values.data());
        addCellValues(files, cell, values.data());
    };
    runTimeLoop(grid, order, riverNumList, rain, params, dams, reservoirs, toFiles, options.threads, out,
                progress ? &*progress : nullptr);
    out << "\nRunoff simulation ends.\n";
    out.flush();

    const bool written = writeOutputs(files, grid, rain, params, dams, reservoirs, out);
    out.flush();
    return written ? 0 : 1;
}
