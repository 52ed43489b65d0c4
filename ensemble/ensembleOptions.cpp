#include "ensembleOptions.h"

#include "commandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace {

constexpr int kMostThreads = 1024;  // as runoffSim: more only cost memory

bool isName(const std::string& name) {
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

ThresholdOption parseThreshold(const CommandLine& line, const std::string& text,
                               const std::vector<ThresholdOption>& earlier) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq + 1 == text.size())
        throw line.error("--threshold needs NAME=VALUE or NAME=GRID, not \"" + text + "\".");
    ThresholdOption t;
    t.name = text.substr(0, eq);
    if (!isName(t.name)) {
        throw line.error("the threshold name \"" + t.name +
                         "\" must be letters, digits and underscores, starting with a letter.");
    }
    for (const ThresholdOption& e : earlier)
        if (e.name == t.name) throw line.error("the threshold " + t.name + " is given twice.");
    const std::string value = text.substr(eq + 1);
    double number = 0.0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (ec == std::errc::result_out_of_range || (ec == std::errc() && end == value.data() + value.size())) {
        if (ec != std::errc() || !std::isfinite(number) || number < 0.0 || number > 3.4e38) {
            throw line.error("the threshold " + t.name + " needs a discharge of zero or more in m3/s, not \"" +
                             value + "\".");
        }
        t.value = static_cast<float>(number);
    } else {
        t.isGrid = true;
        t.path = value;
    }
    return t;
}

int32_t pointNumber(const CommandLine& line, const std::string& text) {
    int32_t n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 1)
        throw line.error("--point needs a column and a row number of at least 1, not \"" + text + "\".");
    return n;
}

}  // namespace

std::string ensembleUsage() {
    return "Usage: runEnsemble [--threads N] [--initial-state FILE] [--threshold NAME=VALUE|NAME=GRID]...\n"
           "                   [--point COL ROW]... [--member-files]\n"
           "Runs every rainfall member of input/ensemble/ (rain.000.bin, rain.001.bin, ...,\n"
           "float32 frames like input/rain.bin) through the flood event of the project in\n"
           "the current directory, and writes the ensemble's products to output/ensemble.nc.\n"
           "Member K's discharges are exactly runoffSim's with rain.K.bin as input/rain.bin.\n"
           "\n"
           "  --threads N           compute on N threads (N >= 1); the default is every\n"
           "                        hardware thread. Results are the same for every N.\n"
           "  --initial-state FILE  start every member from the model state in FILE, saved\n"
           "                        by runoffSim --save-state.\n"
           "  --threshold NAME=VALUE, --threshold NAME=GRID\n"
           "                        a discharge level in m3/s: one value for every cell, or\n"
           "                        an ESRI ASCII grid of the study area (NODATA: no level\n"
           "                        there). Per cell: the fraction of members whose hourly\n"
           "                        mean discharge exceeds it (is larger than it) in any hour,\n"
           "                        their number, and the end of the first hour in which half\n"
           "                        of the members or more have exceeded it.\n"
           "  --point COL ROW       keep the hourly series of every member at this cell\n"
           "                        (column from 1 at the west, row from 1 at the south);\n"
           "                        every dam and reservoir cell is kept too.\n"
           "  --member-files        also write each member's three discharge files, as\n"
           "                        runoffSim writes them, to output/ensemble/MMM/.\n"
           "  --help                print this text.\n"
           "  --version             print the version.\n"
           "\n"
           "Quantiles (5, 25, 50, 75, 95 %) of the members' peak hourly discharge and of\n"
           "the kept hourly series interpolate linearly between the sorted members\n"
           "(Hyndman and Fan type 7, as R's and NumPy's default). A member whose run stops\n"
           "(a flow that is no longer finite) is reported and left out of every product;\n"
           "the exit status is 1 only when every member stops.\n";
}

EnsembleOptions parseEnsembleOptions(const std::vector<std::string>& args) {
    EnsembleOptions options;
    options.threads = hardwareThreads(kMostThreads);
    CommandLine line(args, "runEnsemble");
    while (line.advance()) {
        const std::string& arg = line.argument;
        if (line.takeInfoOption(options.help, options.version)) continue;
        if (arg == "--threads") {
            options.threads = line.threadCount(line.value(), kMostThreads);
            options.threadsGiven = true;
        } else if (arg == "--initial-state") {
            options.initialState = line.value();
            if (options.initialState.empty()) throw line.error("--initial-state needs a file name.");
        } else if (arg == "--threshold") {
            options.thresholds.push_back(parseThreshold(line, line.value(), options.thresholds));
        } else if (arg == "--point") {
            const int32_t column = pointNumber(line, line.value());
            const int32_t row = pointNumber(line, line.value());
            options.points.emplace_back(column, row);
        } else if (arg == "--member-files") {
            options.memberFiles = true;
        } else {
            throw line.error("unknown option \"" + arg + "\".");
        }
    }
    return options;
}
