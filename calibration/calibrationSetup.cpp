#include "calibrationSetup.h"

#include "digest.h"
#include "eventPlan.h"
#include "inputError.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// An InputError's text as one line, without its "Error: " and its layout.
std::string oneLine(const std::string& message) {
    std::istringstream in(message);
    std::string line, text;
    while (std::getline(in, line)) {
        const std::size_t a = line.find_first_not_of(" \t");
        if (a == std::string::npos) continue;
        line = line.substr(a);
        if (line.rfind("Error : ", 0) == 0) line = line.substr(8);
        if (line.rfind("Error: ", 0) == 0) line = line.substr(7);
        text += (text.empty() ? "" : " ") + line;
    }
    return text;
}

std::string fileBytes(const std::string& path) {
    std::string bytes;
    readWholeFile(path, bytes);
    return bytes;
}

void addBytes(Fnv1a& hash, const std::string& bytes) {
    hash.add(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}


// The observations of a gauge, read with the event's start, and the part of them that is scored.
void readObservations(const CalibrationConfig& config, const LoadedEvent& loaded, GaugeData& g) {
    const GaugeConfig& gc = g.config;
    if (!gc.start.empty() && !parseDateTime(gc.start)) {
        throw configError(config, gc.startKey, "needs a date and time such as \"2024-09-01T00:00\", not \"" + gc.start + "\".");
    }
    try {
        g.start = findEventStart(gc.start, loaded.event.params.rainFormat, loaded.config.projectPath);
        g.observed = readObservedCsv(gc.observedPath, g.start, "give it with the gauge's key start");
    } catch (const InputError& error) {
        throw configError(config, gc.observedKey, oneLine(error.message));
    }
    // Hourly means stand at the end of their hour: minutes 60 to 60 x hours.
    const double first = 60.0 * std::max(config.warmupHours, 0), last = 60.0 * 24.0 * loaded.event.params.days;
    for (std::size_t k = 0; k < g.observed.series.minutes.size(); ++k) {
        const double t = g.observed.series.minutes[k];
        if (t > first && t >= 60.0 && t <= last) {
            g.scored.minutes.push_back(t);
            g.scored.values.push_back(g.observed.series.values[k]);
        }
    }
    if (g.scored.minutes.size() < 2) {
        throw configError(config, gc.observedKey,
                          std::to_string(g.scored.minutes.size()) + " observations of " + gc.observedPath +
                              " fall inside the event after the warm-up (minutes " + exactText(std::max(first, 60.0)) +
                              " to " + exactText(last) + " from its start); a score needs at least two.");
    }
    double sum = 0.0;
    for (const double v : g.scored.values) sum += v;
    if (std::all_of(g.scored.values.begin(), g.scored.values.end(), [&](double v) { return v == g.scored.values[0]; })) {
        throw configError(config, gc.observedKey, "the scored observations of " + gc.observedPath +
                                                      " are all the same; no score can be computed against them.");
    }
    g.logOffset = sum / static_cast<double>(g.scored.values.size()) / 100.0;
}

LoadedEvent loadOne(const CalibrationConfig& config, const EventConfig& ec) {
    LoadedEvent loaded;
    loaded.config = ec;
    try {
        loaded.event = loadEvent(ec.projectPath);
    } catch (const InputError& error) {
        throw configError(config, ec.projectKey, oneLine(error.message));
    }
    loaded.paramFileText = fileBytes(ec.projectPath + "/param-hsx-event-ver400.dat");
    const CellGrid& grid = loaded.event.grid;
    std::vector<int32_t> targets;
    for (const GaugeConfig& gc : ec.gauges) {
        GaugeData g;
        g.config = gc;
        const std::string cellText = "column " + std::to_string(gc.column) + ", row " + std::to_string(gc.row);
        if (gc.column > grid.ncols || gc.row > grid.nrows) {
            throw configError(config, gc.cellKey, cellText + " is outside the grid of " + std::to_string(grid.ncols) +
                                                      " x " + std::to_string(grid.nrows) + " cells.");
        }
        g.cell = grid.index(grid.nrows - gc.row, gc.column - 1);
        if (!computesCell(grid.cell(g.cell), loaded.event.riverNumList)) {
            throw configError(config, gc.cellKey, cellText + " is not computed by the event (the outer ring, a cell "
                                                  "outside the listed rivers, or no river at all).");
        }
        const auto at = std::find(targets.begin(), targets.end(), g.cell);
        g.target = static_cast<std::size_t>(at - targets.begin());
        if (at == targets.end()) targets.push_back(g.cell);
        readObservations(config, loaded, g);
        loaded.gauges.push_back(std::move(g));
    }
    try {
        loaded.selection = selectUpstream(loaded.event, targets);
    } catch (const InputError& error) {
        throw configError(config, ec.gauges[0].cellKey, oneLine(error.message));
    }
    for (std::size_t p = 0; p < loaded.selection.cells.size(); ++p) {
        const int32_t kind = grid.cell(loaded.selection.cells[p]).kind;
        if (loaded.selection.computed[p] && (kind == kSlopeCell || kind == kChannelCell)) {
            loaded.soilCells.push_back(loaded.selection.cells[p]);
        }
    }
    return loaded;
}

}  // namespace

Calibration loadCalibration(const CalibrationConfig& config) {
    Calibration c;
    c.config = config;
    for (const EventConfig& ec : config.events) {
        c.events.push_back(loadOne(config, ec));
        c.gaugeCount += ec.gauges.size();
    }

    // A calibrated number is a value in every event or a multiplier in every event.
    std::vector<double> initial;
    for (const ParameterConfig& p : config.parameters) {
        const CellValues first = paramFileValues(c.events[0].event.params);
        const bool map = first[p.key] < 0.0;
        for (std::size_t e = 1; e < c.events.size(); ++e) {
            if ((paramFileValues(c.events[e].event.params)[p.key] < 0.0) != map) {
                throw configError(config, p.nameKey,
                                  std::string(kParamKeys[p.key]) + " is read from a map in event " +
                                      (map ? c.events[0] : c.events[e]).config.name + " (the number calibrated is its multiplier) but is one value in event " +
                                      (map ? c.events[e] : c.events[0]).config.name + "; calibrate events that agree.");
            }
        }
        c.space.min.push_back(p.min);
        c.space.max.push_back(p.max);
        c.space.logarithmic.push_back(p.logarithmic ? 1 : 0);
        initial.push_back(map ? 1.0 : first[p.key]);
        if (config.initial == InitialPoint::kParameterFile && (initial.back() < p.min || initial.back() > p.max)) {
            throw configError(config, p.nameKey,
                              "initial = \"file\" starts " + std::string(kParamKeys[p.key]) + " at " + exactText(initial.back()) +
                                  (map ? " (the map as it is)" : " (the parameter file's value of event " + c.events[0].config.name + ")") +
                                  ", outside min and max.");
        }
    }
    if (config.initial == InitialPoint::kParameterFile) c.initial = initial;

    // The hash: the configuration, and the bytes of the parameter files and the observations.
    Fnv1a hash;
    addBytes(hash, canonicalText(config));
    for (const LoadedEvent& e : c.events) {
        addBytes(hash, e.paramFileText);
        for (const GaugeData& g : e.gauges) addBytes(hash, fileBytes(g.config.observedPath));
    }
    const uint64_t h = hash.hash;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    c.hash = hex;
    return c;
}

ParamChange changeOf(const Calibration& calibration, const std::vector<double>& values) {
    ParamChange change;
    for (std::size_t j = 0; j < calibration.config.parameters.size(); ++j) {
        const ParamKey k = calibration.config.parameters[j].key;
        change.given[k] = true;
        change.value[k] = values[j];
    }
    return change;
}

std::string scoreColumn(const Calibration& c, std::size_t event, std::size_t gauge) {
    const GaugeConfig& g = c.events[event].gauges[gauge].config;
    return std::string(objectiveName(c.config.objective)) + "_" + c.events[event].config.name + "_" +
           std::to_string(g.column) + "_" + std::to_string(g.row);
}
