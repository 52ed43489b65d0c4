#include "driver.h"

#include "event.h"

#include "calcOrder.h"
#include "cellSetup.h"
#include "dam.h"
#include "commandLine.h"
#include "dischargeFiles.h"
#include "dischargeOutput.h"
#include "grid.h"
#include "inputError.h"
#include "memoryBudget.h"
#include "orderCache.h"
#include "paramMaps.h"
#include "paramFile.h"
#include "progressLine.h"
#include "rainFiles.h"
#include "reservoir.h"
#include "structureLists.h"
#include "timeLoop.h"
#include "topography.h"
#include "warmStart.h"

#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <ostream>
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
           "  --save-state FILE  save the model state at the end of the run in FILE,\n"
           "               for a later run to start from (see --initial-state).\n"
           "  --save-at HOURS  with --save-state: take the state at the end of hour\n"
           "               HOURS of the run instead (1 to days x 24).\n"
           "  --initial-state FILE  start every cell, dam and reservoir from the state\n"
           "               saved in FILE instead of the initial runoff height; the\n"
           "               state must come from a run of the same grid and parameters.\n"
           "  --help       print this text.\n"
           "  --version    print the version.\n"
           "\n"
           "When standard error is a terminal, a progress line is shown there.\n";
}

RunOptions parseRunOptions(const std::vector<std::string>& args, const std::string& program) {
    RunOptions options;
    options.threads = hardwareThreads(kMostThreads);
    CommandLine line(args, program);
    while (line.advance()) {
        const std::string& arg = line.argument;
        if (line.takeInfoOption(options.help, options.version)) continue;
        if (arg == "--threads") {
            options.threads = line.threadCount(line.value(), kMostThreads);
            options.threadsGiven = true;
        } else if (arg == "--save-state" || arg == "--initial-state") {
            const std::string path = line.value();
            if (path.empty()) throw line.error(arg + " needs a file name.");
            (arg == "--save-state" ? options.saveState : options.initialState) = path;
        } else if (arg == "--save-at") {
            options.saveAt = line.positiveCount(line.value());
        } else {
            throw line.error("unknown option \"" + arg + "\".");
        }
    }
    if (options.saveAt > 0 && options.saveState.empty()) throw line.error("--save-at needs --save-state.");
    return options;
}

namespace {

// The discharge values of the cells a process other than 0 finishes, sent to
// process 0 in batches of about this many bytes.
constexpr std::size_t kValuesBatchBytes = std::size_t{4} << 20;

// Process 0: enters a batch of another process's cells into the files.
void takeValues(DischargeFiles& files, const std::vector<char>& bytes, std::size_t valuesPerCell) {
    std::vector<float> values(valuesPerCell);  // each cell's, aligned for the files
    std::size_t at = 1;
    while (at + sizeof(int32_t) <= bytes.size()) {
        const int32_t cell = takeValue<int32_t>(bytes, at);
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + valuesPerCell * sizeof(float)),
                  reinterpret_cast<char*>(values.data()));
        at += valuesPerCell * sizeof(float);
        addCellValues(files, cell, values.data());
    }
}

// What the main sequence builds, stage by stage, and owns to the end.
struct Run {
    RunShare* share;  // null: the whole grid in one process
    std::ostream& out;
    bool first;  // the process that prints and writes the common files
    ModelParams params;
    std::vector<int32_t> riverNumList;
    double available = 0.0;  // memory the system can give
    CellGrid grid;
    RainGrid rain;
    CalcOrder order;
    std::vector<Dam> dams;
    std::vector<Reservoir> reservoirs;
    DischargeFiles files;

    // A run in process (loadEvent): its caches are read but never written, the
    // parameter values of every cell are kept, and nothing is opened in output/.
    bool inProcess = false;
    bool readsRainfall = true;
    std::vector<CellValues> cellValues;
    ValueDigests* digests = nullptr;  // where the set-up leaves its value digests, if wanted

    Run(RunShare* s, std::ostream& o) : share(s), out(o), first(s == nullptr || s->peers.rank == 0) {}
    // One step of the main sequence; in a distributed run every process takes
    // it, and all stop together if any of them stopped in it.
    void step(const std::function<void()>& body) {
        if (share == nullptr) {
            body();
        } else {
            agreeOrStop(share->peers, body);
        }
    }
    // A step whose caches in "./temp/" are written by process 0 alone:
    // `body(true)` there first, then `body(false)` in the others, which read them.
    void cacheStep(const std::function<void(bool mayWrite)>& body) {
        step([&] {
            if (first) body(true);
        });
        if (share != nullptr) step([&] {
            if (!first) body(false);
        });
    }
    double gridBytes() const { return share == nullptr ? gridMemoryBytes(params) : shareMemoryBytes(params); }
};

// The parameter file, the river list, the grid (or this process's share of
// it) with its network, and every cell's rainfall point.
void readGrid(Run& run) {
    std::ostream& out = run.out;
    out << "Reading parameters for runoff simulation.\n";
    run.step([&] { run.params = readParamFile(out); });
    out.flush();

    run.step([&] {
        run.riverNumList = readRiverList(out);
        requireGridSize(run.params);
        run.available = availableMemoryBytes();
        requireMemory(run.gridBytes(), run.available);
    });
    run.step([&] {
        run.rain = makeRainGrid(run.params);
        if (run.share == nullptr) {
            run.grid = CellGrid(run.params.nrows, run.params.ncols);
            readTopography(run.grid, run.params);
            return;
        }
        // Every process reads and checks the whole rasters, then keeps its share.
        TopographyRasters rasters = readTopographyRasters(run.params);
        const HeldCells held = run.share->choose(rasters, run.riverNumList, run.params);
        shareTopography(run.grid, std::move(rasters), held, run.share->peers.rank, run.params);
    });
    out.flush();

    run.cacheStep(
        [&](bool mayWrite) { connectRainfall(run.grid, run.rain, run.params, out, mayWrite && !run.inProcess); });
    out.flush();
}

// The cells' parameters and initial state, the river mouths and the calculation order.
void setUpCells(Run& run) {
    std::ostream& out = run.out;
    out << "Set parameter data.\n";
    run.step([&] {
        checkModelParams(run.params);
        requireMemory(run.gridBytes() + modelMemoryBytes(run.grid, run.params), run.available);
        setupCells(run.grid, run.params, out, run.inProcess ? &run.cellValues : nullptr, run.digests);
    });
    out << "Set parameter data at the river mouthes.\n";
    setupMouths(run.grid);
    out.flush();

    run.cacheStep([&](bool mayWrite) {
        run.order = prepareCalcOrder(run.grid, run.params, out, mayWrite && !run.inProcess);
    });
    out.flush();
}

// A run whose results cannot be written stops before the long loop, not
// after: the directories of the results take files, the disk has room for
// them beside the results they replace, and the discharge files, filled while
// the cells finish, are made at full size under their temporary names.
void prepareOutputs(Run& run) {
    requireResultDirectories(!run.dams.empty(), !run.reservoirs.empty());
    requireDiskSpace(outputBytes(run.params, run.dams.size() + run.reservoirs.size()), writableBytes("./output/"),
                     "./output/");
    openDischargeFiles(run.files, run.grid, run.riverNumList, run.params, 0);
    requireDischargeFiles(run.files);
}

// The rainfall series, the dams and the reservoirs; then the room for the
// results and the discharge files the loop fills.
void readEventInputs(Run& run) {
    run.step([&] {
        // A rainfall file shorter than the event is said once, beside the console.
        std::ostream* warnings = run.first && !run.inProcess ? &std::cerr : nullptr;
        if (run.readsRainfall) readRainfall(run.rain, run.params, run.out, warnings);
        run.dams = readDams(run.grid, run.riverNumList, run.params, run.out);
        run.reservoirs = readReservoirs(run.grid, run.riverNumList, run.params, run.out);
        run.out.flush();
        if (!run.first || run.inProcess) return;
        prepareOutputs(run);
    });
}

// Where the values of finished cells go: into the discharge files, or from a
// process other than 0 to process 0 in batches.
struct ValuesToFiles {
    Run& run;
    const TenMinuteLayout layout;
    const std::size_t valuesPerCell;
    std::mutex mutex;
    std::vector<char> batch;  // a process other than 0: values on their way to process 0

    explicit ValuesToFiles(Run& r)
        : run(r), layout(r.params.stepSeconds),
          valuesPerCell(static_cast<std::size_t>(r.params.days) * 24 * kValuesPerHour) {}

    void send() {
        std::vector<char> full;
        {
            std::lock_guard<std::mutex> lock(mutex);
            full.swap(batch);
        }
        if (!full.empty()) run.share->peers.send(0, std::move(full));
    }
    void add(int32_t cell, const std::vector<float>& series) {
        thread_local std::vector<float> values;
        values.resize(valuesPerCell);
        cellStatistics(series, layout, run.params.days, run.params.stepsPerHour, values.data());
        if (run.first) {
            addCellValues(run.files, cell, values.data());
            return;
        }
        bool full = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (batch.empty()) batch.push_back(static_cast<char>(PeerMessage::kValues));
            putValue(batch, cell);
            const char* p = reinterpret_cast<const char*>(values.data());
            batch.insert(batch.end(), p, p + valuesPerCell * sizeof(float));
            full = batch.size() >= kValuesBatchBytes;
        }
        if (full) send();
    }
    // Process 0: a batch from another process.
    void take(std::vector<char>& bytes) {
        if (run.first && !bytes.empty() && bytes[0] == static_cast<char>(PeerMessage::kValues))
            takeValues(run.files, bytes, valuesPerCell);
    }
};

// The states of a warm start: the one the run starts from (checked against
// the project, then applied to the cells before the loop) and the room for
// the one it saves.
struct WarmStates {
    ValueDigests digests{};
    std::optional<ModelState> saved;
};

// Before the loop: refuses what a run cannot start from or save, starts
// the cells from the initial state, and makes room for the saved one.
void prepareStates(Run& run, const RunOptions& options, WarmStates& warm) {
    if (options.initialState.empty() && options.saveState.empty()) return;
    run.step([&] {
        const int hours = run.params.days * 24;
        if (options.saveAt > hours) {
            throw InputError("Error: --save-at " + std::to_string(options.saveAt) +
                             " lies beyond the run, whose last hour is " + std::to_string(hours) + ".\n");
        }
        if (!options.saveState.empty() && run.first) requireStateWritable(options.saveState);
        const std::vector<int32_t> cells = stateCells(run.grid, run.order, run.riverNumList, run.dams, run.reservoirs);
        if (!options.initialState.empty()) {
            const std::string& path = options.initialState;
            const StateFile file = readStateFile(path);
            requireSameSetUp(file.header, projectHeader(run.params, warm.digests), path);
            requireSameStructures(file.state, run.grid, run.dams, run.reservoirs, path);
            requireCellRecords(file.state, run.grid, cells, run.params, path);
            applyState(file.state, run.grid, cells, run.dams, run.reservoirs);
        }
        if (!options.saveState.empty()) {
            warm.saved = stateRoom(run.grid, cells, run.params, run.dams, run.reservoirs,
                                   options.saveAt > 0 ? options.saveAt : hours);
        }
    });
}

// After the outputs: the saved state, gathered in process 0 and written there.
void saveState(Run& run, const RunOptions& options, WarmStates& warm) {
    if (run.share != nullptr) gatherState(run.share->peers, run.grid, *warm.saved);
    run.step([&] {
        if (run.first) writeStateFile(options.saveState, StateFile{projectHeader(run.params, warm.digests), *warm.saved});
    });
}

// The time loop, between its two console lines.
void runEvent(Run& run, const RunOptions& options, ModelState* capture) {
    run.out << "\nRunoff simulation starts.\n";
    std::optional<ProgressLine> progress;
    if (options.progress && run.first) progress = startProgress();
    ValuesToFiles values(run);
    const CellFinished toFiles = [&](int32_t cell, const std::vector<float>& series) { values.add(cell, series); };
    std::optional<LoopPeers> loopPeers;
    if (run.share != nullptr) {
        loopPeers.emplace(LoopPeers{run.share->peers, [&](std::vector<char>& bytes) { values.take(bytes); },
                                    [&] { values.send(); }});
    }
    runTimeLoop(run.grid, run.order, run.riverNumList, run.rain, run.params, run.dams, run.reservoirs, toFiles,
                options.threads, run.out, progress ? &*progress : nullptr, loopPeers ? &*loopPeers : nullptr,
                capture);
    run.out << "\nRunoff simulation ends.\n";
    run.out.flush();
}

// Process 0 gets the tables of the dams and reservoirs that every process
// computed, to write them with the other results, all or none.
void gatherTables(Peers& peers, std::vector<TableFile>& dams, std::vector<TableFile>& reservoirs) {
    const std::vector<std::string> texts = gatherAtFirst(peers, packTables(dams) + packTables(reservoirs));
    for (std::size_t from = 1; from < texts.size(); ++from) {
        std::size_t at = 0;
        unpackTables(texts[from], at, dams);
        unpackTables(texts[from], at, reservoirs);
    }
}

// The outputs; false when any could not be written.
bool writeResults(Run& run) {
    std::vector<TableFile> dams = damTables(run.dams, run.grid, run.params);
    std::vector<TableFile> reservoirs = reservoirTables(run.reservoirs, run.grid, run.params);
    if (run.share != nullptr) gatherTables(run.share->peers, dams, reservoirs);
    bool written = true;
    if (run.first) written = writeOutputs(run.files, run.grid, run.rain, run.params, dams, reservoirs, run.out);
    run.out.flush();
    // Every process has written what it had to; process 0 alone knows whether the files are good.
    if (run.share != nullptr) written = run.share->peers.minimum(run.first ? (written ? 1 : 0) : 1) == 1;
    return written;
}

}  // namespace

Event loadEvent(const std::string& directory, const LoadOptions& options) {
    const WorkingDirectory in(directory);
    std::ostringstream quiet;
    Run run(nullptr, quiet);
    run.inProcess = true;
    run.readsRainfall = options.rainfall;
    readGrid(run);
    setUpCells(run);
    requireOrderFitsGrid(run.order, run.grid);
    readEventInputs(run);
    Event event;
    event.params = run.params;
    event.riverNumList = std::move(run.riverNumList);
    event.grid = std::move(run.grid);
    event.rain = std::move(run.rain);
    event.order = std::move(run.order);
    event.dams = std::move(run.dams);
    event.reservoirs = std::move(run.reservoirs);
    event.cellValues = std::move(run.cellValues);
    return event;
}

int runSimulation(std::ostream& out, const RunOptions& options, RunShare* share) {
    Run run(share, out);
    WarmStates warm;
    if (!options.initialState.empty() || !options.saveState.empty()) run.digests = &warm.digests;
    readGrid(run);
    setUpCells(run);
    readEventInputs(run);
    prepareStates(run, options, warm);
    runEvent(run, options, warm.saved ? &*warm.saved : nullptr);
    if (!writeResults(run)) return 1;
    if (warm.saved) saveState(run, options, warm);
    return 0;
}
