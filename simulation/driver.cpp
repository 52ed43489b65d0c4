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
#include <functional>
#include <mutex>
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

RunOptions parseRunOptions(const std::vector<std::string>& args, const std::string& program) {
    RunOptions options;
    const unsigned hardware = std::thread::hardware_concurrency();
    options.threads = hardware == 0 ? 1 : static_cast<int>(std::min<unsigned>(hardware, kMostThreads));
    CommandLine line(args, program);
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
            options.threadsGiven = true;
        } else {
            throw line.error("unknown option \"" + arg + "\".");
        }
    }
    return options;
}

namespace {

// One step of the main sequence; in a distributed run every process takes it,
// and all stop together if any of them stopped in it.
void step(RunShare* share, const std::function<void()>& body) {
    if (share == nullptr) {
        body();
    } else {
        agreeOrStop(share->peers, body);
    }
}

// The discharge values of the cells a process other than 0 finishes, sent to
// process 0 in batches of about this many bytes.
constexpr std::size_t kValuesBatchBytes = std::size_t{4} << 20;

// Process 0: enters a batch of another process's cells into the files.
void takeValues(DischargeFiles& files, const std::vector<char>& bytes, std::size_t valuesPerCell) {
    std::size_t at = 1;
    while (at + sizeof(int32_t) <= bytes.size()) {
        const int32_t cell = takeValue<int32_t>(bytes, at);
        std::vector<float> values(valuesPerCell);
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + valuesPerCell * sizeof(float)),
                  reinterpret_cast<char*>(values.data()));
        at += valuesPerCell * sizeof(float);
        addCellValues(files, cell, values.data());
    }
}

}  // namespace

int runSimulation(std::ostream& out, const RunOptions& options, RunShare* share) {
    const bool first = share == nullptr || share->peers.rank == 0;
    out << "Reading parameters for runoff simulation.\n";
    ModelParams params;
    step(share, [&] { params = readParamFile(out); });
    out.flush();

    std::vector<int32_t> riverNumList;
    double available = 0.0;
    step(share, [&] {
        riverNumList = readRiverList(out);
        requireGridSize(params);
        available = availableMemoryBytes();
        requireMemory(share == nullptr ? gridMemoryBytes(params) : shareMemoryBytes(params), available);
    });
    CellGrid grid;
    RainGrid rain;
    step(share, [&] {
        if (share == nullptr) {
            grid = CellGrid(params.nrows, params.ncols);
            rain = makeRainGrid(params);
            readTopography(grid, params);
            return;
        }
        // Every process reads and checks the whole rasters, then keeps its share.
        rain = makeRainGrid(params);
        TopographyRasters rasters = readTopographyRasters(params);
        const HeldCells held = share->choose(rasters, riverNumList, params);
        shareTopography(grid, std::move(rasters), held, share->peers.rank, params);
    });
    out.flush();

    // The caches in ./temp/ are written by process 0 alone; the others read them after it.
    step(share, [&] {
        if (first) connectRainfall(grid, rain, params, out);
    });
    if (share != nullptr) step(share, [&] {
        if (!first) connectRainfall(grid, rain, params, out, false);
    });
    out.flush();

    out << "Set parameter data.\n";
    step(share, [&] {
        checkModelParams(params);
        const double gridBytes = share == nullptr ? gridMemoryBytes(params) : shareMemoryBytes(params);
        requireMemory(gridBytes + modelMemoryBytes(grid, params), available);
        setupCells(grid, params, out);
    });
    out << "Set parameter data at the river mouthes.\n";
    setupMouths(grid);
    out.flush();

    CalcOrder order;
    step(share, [&] {
        if (first) order = prepareCalcOrder(grid, params, out);
    });
    if (share != nullptr) step(share, [&] {
        if (!first) order = prepareCalcOrder(grid, params, out, false);
    });
    out.flush();

    std::vector<Dam> dams;
    std::vector<Reservoir> reservoirs;
    DischargeFiles files;
    step(share, [&] {
        readRainfall(rain, params, out);
        dams = readDams(grid, riverNumList, params, out);
        reservoirs = readReservoirs(grid, riverNumList, params, out);
        out.flush();
        if (!first) return;
        // A run whose results cannot be written stops before the long loop, not after.
        requireDiskSpace(outputBytes(params, dams.size() + reservoirs.size()),
                         writableBytes("./output/", {"./output/discharge10minSnapshot.bin",
                                                     "./output/discharge10minMean.bin",
                                                     "./output/dischargeHourlyMean.bin",
                                                     "./output/totalRainDistribution.asc"}),
                         "./output/");
        // The discharge files are filled while the cells finish, under temporary
        // names that only a complete run turns into the real ones.
        openDischargeFiles(files, grid, riverNumList, params, 0);
    });

    out << "\nRunoff simulation starts.\n";
    std::optional<ProgressLine> progress;
    if (options.progress && first) progress = startProgress();
    const TenMinuteLayout layout(params.stepSeconds);
    const std::size_t valuesPerCell = static_cast<std::size_t>(params.days) * 24 * kValuesPerHour;
    std::mutex valuesMutex;
    std::vector<char> valuesBatch;  // a process other than 0: values on their way to process 0
    const auto sendValues = [&] {
        std::vector<char> batch;
        {
            std::lock_guard<std::mutex> lock(valuesMutex);
            batch.swap(valuesBatch);
        }
        if (!batch.empty()) share->peers.send(0, std::move(batch));
    };
    const auto toFiles = [&](int32_t cell, const std::vector<float>& series) {
        thread_local std::vector<float> values;
        values.resize(valuesPerCell);
        cellStatistics(series, layout, params.days, params.stepsPerHour, values.data());
        if (first) {
            addCellValues(files, cell, values.data());
            return;
        }
        bool full = false;
        {
            std::lock_guard<std::mutex> lock(valuesMutex);
            if (valuesBatch.empty()) valuesBatch.push_back(static_cast<char>(PeerMessage::kValues));
            putValue(valuesBatch, cell);
            const char* p = reinterpret_cast<const char*>(values.data());
            valuesBatch.insert(valuesBatch.end(), p, p + valuesPerCell * sizeof(float));
            full = valuesBatch.size() >= kValuesBatchBytes;
        }
        if (full) sendValues();
    };
    std::optional<LoopPeers> loopPeers;
    if (share != nullptr) {
        loopPeers.emplace(LoopPeers{share->peers,
                                    [&](std::vector<char>& bytes) {
                                        if (first && !bytes.empty() && bytes[0] == static_cast<char>(PeerMessage::kValues))
                                            takeValues(files, bytes, valuesPerCell);
                                    },
                                    sendValues});
    }
    runTimeLoop(grid, order, riverNumList, rain, params, dams, reservoirs, toFiles, options.threads, out,
                progress ? &*progress : nullptr, loopPeers ? &*loopPeers : nullptr);
    out << "\nRunoff simulation ends.\n";
    out.flush();

    bool written = true;
    if (first) {
        written = writeOutputs(files, grid, rain, params, dams, reservoirs, out);
    } else {
        // The tables of the dams and reservoirs this process computed.
        writeDamTables(dams, grid, params, out);
        writeReservoirTables(reservoirs, grid, params, out);
    }
    out.flush();
    // Every process has written what it had to; process 0 alone knows whether the files are good.
    if (share != nullptr) written = share->peers.minimum(first ? (written ? 1 : 0) : 1) == 1;
    return written ? 0 : 1;
}
