// makeSampleBasin: the synthetic sample basin of the examples.
//   makeSampleBasin dem FILE.asc [COLS ROWS]   writes the sample DEM (default 120 x 100)
//   makeSampleBasin inputs DIR [COLS ROWS]     after prepareTopography -o DIR FILE.asc:
//                                              parameter file, storm, dam and reservoir
//   makeSampleBasin ensemble DIR [COLS ROWS [MEMBERS]]
//                                              after inputs: storm members (10) in DIR/input/ensemble/
//   makeSampleBasin --help | --version

#include "consoleProgram.h"
#include "demGrid.h"
#include "inputError.h"
#include "programInfo.h"
#include "sampleBasin.h"
#include "topoFiles.h"

#include <charconv>
#include <ostream>
#include <sstream>
#include <string>

namespace {

const char* const kUsage =
    "Usage: makeSampleBasin dem FILE.asc [COLS ROWS]\n"
    "       makeSampleBasin inputs DIR [COLS ROWS]\n"
    "       makeSampleBasin ensemble DIR [COLS ROWS [MEMBERS]]\n"
    "       makeSampleBasin --help | --version\n"
    "The first writes the sample DEM; prepare it with prepareTopography -o DIR FILE.asc,\n"
    "then the second writes the parameter file, the storm, the dam and the reservoir into DIR,\n"
    "and the third members of the storm (moved, shifted in time and scaled; 10 by default)\n"
    "for runEnsemble.\n";

// Members of the sample's ensemble.
constexpr int kSampleMembers = 10;

int32_t gridSize(const char* text) {
    int32_t value = 0;
    const std::string s(text);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || value < 10 || value > 20000) {
        throw InputError("Error: the grid size must be a whole number from 10 to 20000, not \"" + s + "\".\n");
    }
    return value;
}

int memberCount(const char* text) {
    int value = 0;
    const std::string s(text);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || value < 1 || value > 999) {
        throw InputError("Error: the member count must be a whole number from 1 to 999, not \"" + s + "\".\n");
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    return runConsoleProgram(
        [&](std::ostream& out) {
            if (argc == 2 && (isHelpOption(argv[1]) || isVersionOption(argv[1]))) {
                out << (isHelpOption(argv[1]) ? std::string(kUsage) : versionLine("makeSampleBasin"));
                return 0;
            }
            const std::string stage = argc > 1 ? argv[1] : "";
            if (argc != 3 && argc != 5 && !(argc == 6 && stage == "ensemble")) throw InputError(kUsage);
            const std::string path = argv[2];
            const int32_t ncols = argc >= 5 ? gridSize(argv[3]) : 120;
            const int32_t nrows = argc >= 5 ? gridSize(argv[4]) : 100;
            if (stage == "dem") {
                out << "Write " << path << '\n';
                std::ostringstream text;
                writeDemGrid(text, makeSampleDem(ncols, nrows), 2);
                writeFileAtomically(path, text.str());
            } else if (stage == "inputs") {
                writeSampleInputs(path, ncols, nrows, out);
            } else if (stage == "ensemble") {
                writeSampleEnsemble(path, ncols, nrows, argc == 6 ? memberCount(argv[5]) : kSampleMembers, out);
            } else {
                throw InputError(kUsage);
            }
            return 0;
        },
        "Error: not enough memory for this grid.\n");
}
