// A whole run of runoffSim on a tiny project made from the fuzz input.
//
// Pieces: 0 parameter file, 1 riverNumList.dat, 2..5 modDem.bin, flowDir.bin,
// flowAcc.bin, riverNum.bin, 6 the rainfall file (written as both
// rain10min.dat and rain.bin), 7 dam.dat, 8 reservoir.dat, 9 realA.dat, 10 the
// parameter map (written for all seven keys), 11 numOfBasin.dat,
// 12 orderedCell.dat, 13 setROFCell.dat.
//
// A parameter file that reads without error is rewritten with its sizes
// clamped so that a run stays fast: at most 8 x 8 cells, 4 x 4 rainfall
// points, 2 days, 60 steps an hour and 16 segments a cell. Anything else,
// including every parameter value, is taken as given.

#include "fuzzProject.h"

#include <algorithm>

namespace {

std::string clampedParamFile(const std::string& text) {
    ModelParams p;
    try {
        std::istringstream in(text);
        std::ostringstream console;
        readParamFile(in, kModelParamPath, console, p);
    } catch (const InputError&) {
        return text;  // stops while the parameters are read: nothing to clamp
    }
    p.ncols = std::min(p.ncols, 8);
    p.nrows = std::min(p.nrows, 8);
    p.rainCols = std::min(p.rainCols, 4);
    p.rainRows = std::min(p.rainRows, 4);
    p.days = std::min(p.days, 2);
    if (p.stepsPerHour > 60) p.stepSeconds = p.rainInterval * 60;  // still divides rainInterval x 60
    p.spaceSteps = std::min(p.spaceSteps, 16);
    return paramFileText(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    resetProject();
    const std::vector<std::string> parts = splitParts(data, size, 14);
    writeFile(kModelParamPath, clampedParamFile(parts[0]));
    writePart(parts, 1, "topoData/riverNumList.dat");
    writePart(parts, 2, "topoData/modDem.bin");
    writePart(parts, 3, "topoData/flowDir.bin");
    writePart(parts, 4, "topoData/flowAcc.bin");
    writePart(parts, 5, "topoData/riverNum.bin");
    writePart(parts, 6, "input/rain10min.dat");
    writePart(parts, 6, "input/rain.bin");
    writePart(parts, 7, "input/dam.dat");
    writePart(parts, 8, "input/reservoir.dat");
    writePart(parts, 9, "input/realDamOutflow/realA.dat");
    for (const char* key : {"Ns", "Ka", "Da", "Dm", "Beta", "Nr", "ROFinitial"}) {
        writePart(parts, 10, std::string("paramData/param_dist_") + key + ".dat");
    }
    writePart(parts, 11, "temp/numOfBasin.dat");
    writePart(parts, 12, "temp/orderedCell.dat");
    writePart(parts, 13, "temp/setROFCell.dat");
    runProject();
    return 0;
}
