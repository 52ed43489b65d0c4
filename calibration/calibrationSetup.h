#pragma once
// A calibration ready to run: its configuration, every event loaded once with
// the cells its gauges need, the observations to score against, the search
// box, and the hash that ties a trace to all of it.

#include "calibrationConfig.h"
#include "event.h"
#include "observedSeries.h"
#include "search.h"

#include <optional>
#include <string>
#include <vector>

struct GaugeData {
    GaugeConfig config;
    int32_t cell = 0;         // grid index
    std::size_t target = 0;   // its place among the targets of the event's selection
    EventStart start;
    ObservedSeries observed;  // every observation of the file
    TimeSeries scored;        // those inside the event, after the warm-up
    double logOffset = 0.0;   // lognse: log(q + this), 1 % of the mean scored observation
};

struct LoadedEvent {
    EventConfig config;
    Event event;
    CellSelection selection;          // the gauges' cells and everything upstream
    std::vector<GaugeData> gauges;
    std::vector<int32_t> soilCells;   // computed slope and channel cells of the selection
    std::string paramFileText;        // the project's parameter file, byte for byte
};

struct Calibration {
    CalibrationConfig config;
    std::vector<LoadedEvent> events;
    SearchSpace space;
    std::optional<std::vector<double>> initial;  // initial = "file": the parameter file's values
    std::string hash;                            // 16 hexadecimal digits
    std::size_t gaugeCount = 0;
};

// Loads every event and observation and checks what the configuration file
// alone could not: projects runoffSim would refuse, gauges outside the grid or
// off the computed cells, starts and observations that do not fit the event,
// parameters read from a map in one event and from a value in another, a
// parameter-file start outside the bounds. Every mistake is one InputError
// line naming the configuration file and the key. Prints and writes nothing;
// changes the working directory while it loads (see loadEvent).
Calibration loadCalibration(const CalibrationConfig& config);

// The events' parameter changes for the values of the configured parameters
// (values of the parameter file, or multipliers where it selects a map).
ParamChange changeOf(const Calibration& calibration, const std::vector<double>& values);

// The name of the score column of a gauge in the trace: "kge_EVENT_COL_ROW".
std::string scoreColumn(const Calibration& calibration, std::size_t event, std::size_t gauge);
