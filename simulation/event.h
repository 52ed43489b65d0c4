#pragma once
// An event held in memory, for the programs that run the model in process
// (calibration, ensembles): everything runoffSim reads before its time loop,
// loaded once, and runs of chosen cells of it with chosen parameters.
//
// A run reads the loaded event and changes nothing in it: it sets up private
// copies of the cells it computes. Runs may therefore go on side by side on
// several threads, each giving, for the cells it computes, exactly the bits
// that runoffSim gives on a project with the same parameter values.

#include "calcOrder.h"
#include "cellSetup.h"
#include "dam.h"
#include "grid.h"
#include "paramFile.h"
#include "rainfall.h"
#include "reservoir.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct LoadOptions {
    // Read the project's own rainfall; without it the rainfall grid has its
    // points and zeroed series, for callers that bring their own (members of
    // an ensemble), and input/rain10min.dat or input/rain.bin need not exist.
    bool rainfall = true;
};

struct Event {
    ModelParams params;
    std::vector<int32_t> riverNumList;
    CellGrid grid;   // topography, network, rainfall points; cells set up with the project's values
    RainGrid rain;
    CalcOrder order;
    std::vector<Dam> dams;              // as read: their state at the start of the event
    std::vector<Reservoir> reservoirs;  // the same
    // Per grid index, the values each set-up cell took from the parameter
    // file or its maps (zeros for the cells that are not set up).
    std::vector<CellValues> cellValues;
    // The cells' node values, dams and reservoirs hold a saved state
    // (startFromState, warmStart.h): runs start from it, not from the initial runoff.
    bool fromState = false;
};

// Loads the project in `directory` as runoffSim reads it, with the same checks
// and the same messages (thrown as InputError), printing nothing and writing
// nothing: the caches of temp/ are taken when they fit and computed in memory
// when they do not. The project's files are named relative to its directory,
// so the working directory is changed while it reads and restored after: call
// it before any thread that depends on the working directory starts.
Event loadEvent(const std::string& directory, const LoadOptions& options = {});

// The working directory changed to `directory` for the life of the record;
// a directory that cannot be entered is an InputError naming it and the reason.
struct WorkingDirectory {
    std::string previous;
    explicit WorkingDirectory(const std::string& directory);
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;
};

// New values for some of the seven parameters. Where the project's parameter
// file gives a value, `value` replaces it; where the file selects a map (a
// negative value), `value` multiplies the map value of every cell.
struct ParamChange {
    std::array<bool, kParamCount> given{};
    CellValues value{};
};

// The parameter file that a change gives: the project's, with the changed values.
ModelParams changedParams(const Event& event, const ParamChange& change);

// The values cell i takes under a change.
CellValues changedValues(const Event& event, int32_t i, const ParamChange& change);

// The cells a run must compute so that the `targets` (grid indices of
// computed cells) get their series: the targets and every computed cell that
// drains into them, as entries of the calculation order, and the plan of the
// run: which series each entry reads and when a series is no longer needed.
struct CellSelection {
    struct Entry {
        int32_t slot = 0;  // the cell, as a place in `cells`
        // Per upstream slot of the cell: the place in `cells` of the cell whose
        // series it reads, or -1 for zeros (not computed, or not computed yet).
        std::array<int32_t, kMaxUpstream> reads{-1, -1, -1, -1, -1, -1, -1};
        std::vector<int32_t> release;  // places whose series nobody reads after this entry
        int32_t target = -1;           // its place in `targets`, or -1
    };
    std::vector<int32_t> targets;
    std::vector<int32_t> cells;         // grid indices: computed cells, then the other upstream cells of mouths
    std::vector<char> computed;         // per place: the run computes it
    std::vector<Entry> entries;         // in an order that respects every dependency
};

// The selection for `targets`. Throws InputError when a target is not a
// computed cell of the event.
CellSelection selectUpstream(const Event& event, const std::vector<int32_t>& targets);

// The result of a run of a selection.
struct SelectionRun {
    bool stopped = false;
    std::string message;  // runoffSim's message where the run stops: a flow that is no longer
                          // finite, a cell value the model cannot use, a dam of an unknown kind
    // Per target: the hourly mean discharge of every hour of the event, the
    // float32 values of "./output/dischargeHourlyMean.bin" at that cell.
    std::vector<std::vector<float>> hourlyMeans;
};

// Runs the selection with the changed parameters on the calling thread,
// printing nothing and writing nothing.
SelectionRun runSelection(const Event& event, const CellSelection& selection, const ParamChange& change);
