#include "rainfall.h"

#include "paramFile.h"

#include <ostream>

RainGrid makeRainGrid(const ModelParams& params) {
    RainGrid rain;
    rain.rainRows = params.rainRows;
    rain.rainCols = params.rainCols;
    rain.days = params.days;
    rain.obsPerHour = params.obsPerHour;
    rain.points.resize(static_cast<std::size_t>(params.rainRows) * static_cast<std::size_t>(params.rainCols));
    return rain;
}

void connectRainfall(CellGrid& grid, const RainGrid&, const ModelParams&, std::ostream& out) {
    out << "Connect rainfall data to grid cell\n";
    for (Cell& cell : grid.cells) cell.rainPoint = 0;
}

void readRainfall(RainGrid&, const ModelParams&, std::ostream&) {}

std::vector<double> rainTotals(const CellGrid& grid, const RainGrid&) {
    return std::vector<double>(grid.cells.size(), 0.0);
}

RainTotalsFile openRainTotals(const std::string& path) {
    RainTotalsFile file;
    file.stream.open(path);
    return file;
}

void writeRainTotals(RainTotalsFile&, const std::vector<double>&, const ModelParams&) {}
