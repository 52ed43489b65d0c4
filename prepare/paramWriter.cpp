#include "paramWriter.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <sstream>

void setStudyArea(ModelParams& params, const DemGrid& grid) {
    params.scale = static_cast<float>(grid.cellsize * 3600.0);
    params.ncols = grid.ncols;
    params.nrows = grid.nrows;
    params.xllcorner = grid.xllcorner;
    params.yllcorner = grid.yllcorner;
}

ModelParams starterParams(const DemGrid& grid) {
    ModelParams p;
    setStudyArea(p, grid);
    p.rainFormat = 1;
    p.rainInterval = 10;
    p.rainCols = 1;
    p.rainRows = 1;
    p.rainDx = grid.ncols * grid.cellsize;
    p.rainDy = grid.nrows * grid.cellsize;
    p.rainLon0 = grid.xllcorner + 0.5 * p.rainDx;
    p.rainLat0 = grid.yllcorner + 0.5 * p.rainDy;
    p.obsPerHour = 60 / p.rainInterval;
    p.days = 1;
    p.stepSeconds = 60;
    p.spaceSteps = 4;
    p.fdWeight = 0.6;
    p.stepsPerHour = 3600 / p.stepSeconds;
    p.Ns = 0.4;
    p.Ka = 0.01;
    p.Da = 0.3;
    p.Dm = 0.1;
    p.Beta = 4.0;
    p.Nr = 0.035;
    // Cell area at the middle latitude, with the simulation's 30.9 m per arc-second.
    const double side = grid.cellsize * 3600.0 * 30.9;
    const double pi = std::acos(-1.0);
    const double area = side * side * std::cos((grid.yllcorner + 0.5 * p.rainDy) * pi / 180.0);
    p.channelThreshold = static_cast<int32_t>(std::max(1.0, std::round(2.0e6 / area)));
    p.slopeLength = 100.0;
    p.ROFinitial = 0.1;
    return p;
}

std::string paramFileText(const ModelParams& p) {
    std::ostringstream s;
    s.precision(9);
    s << p.scale << '\n';
    s.precision(15);
    s << p.ncols << ' ' << p.nrows << '\n' << p.xllcorner << ' ' << p.yllcorner << '\n';
    s << p.rainFormat << '\n' << p.rainInterval << '\n' << p.rainCols << ' ' << p.rainRows << '\n';
    s << p.rainDx << ' ' << p.rainDy << '\n' << p.rainLon0 << ' ' << p.rainLat0 << '\n';
    s << p.days << '\n';
    s << p.stepSeconds << '\n' << p.spaceSteps << '\n' << p.fdWeight << '\n';
    s << p.Ns << '\n' << p.Ka << '\n' << p.Da << '\n' << p.Dm << '\n' << p.Beta << '\n' << p.Nr << '\n';
    s << p.channelThreshold << '\n' << p.slopeLength << '\n';
    s << p.ROFinitial << '\n';
    return s.str();
}

void printStudyArea(std::ostream& out, const ModelParams& p) {
    std::ostringstream s;
    s << "Section 1 of the parameter file for this grid:\n";
    s.precision(9);
    s << "  Topography scale (arc-seconds) : " << p.scale << '\n';
    s.precision(15);
    s << "  ncols nrows : " << p.ncols << ' ' << p.nrows << '\n';
    s << "  xllcorner yllcorner (degrees) : " << p.xllcorner << ' ' << p.yllcorner << '\n';
    out << s.str();
}
