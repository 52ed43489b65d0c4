#pragma once
// The results of a finished run read back for the exporters: the parameter
// file, the three discharge grid files, the rainfall total, the flow rasters
// and the dam and reservoir tables of a project directory.
//
// Every reader checks its file once, before anything is written: a missing
// file, a size that does not fit the parameter file, or an unreadable table is
// an InputError with a one-line message naming the file. In memory, grids are
// row-major with row 0 in the north (the files store the south row first).

#include "paramFile.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// Paths of a project directory; `dir` "." is the working directory.
struct Project {
    std::string dir = ".";
    std::string path(const std::string& relative) const;
};

inline const char* const kHourlyFile = "output/dischargeHourlyMean.bin";
inline const char* const k10minMeanFile = "output/discharge10minMean.bin";
inline const char* const k10minSnapshotFile = "output/discharge10minSnapshot.bin";
inline const char* const kRainTotalFile = "output/totalRainDistribution.asc";
inline const char* const kFlowDirFile = "topoData/flowDir.bin";
inline const char* const kFlowAccFile = "topoData/flowAcc.bin";
inline const char* const kDamListFile = "input/dam.dat";
inline const char* const kReservoirListFile = "input/reservoir.dat";

inline constexpr float kFillValue = -9999.0f;

// The whole parameter file of the project, checked as runoffSim checks it, without the echo.
ModelParams readProjectParams(const Project& project);

// Grid geometry from the parameter file: cell centres in degrees.
struct GridGeometry {
    int32_t nrows = 0;
    int32_t ncols = 0;
    double west = 0.0;   // xllcorner
    double south = 0.0;  // yllcorner
    double cellDeg = 0.0;  // scale / 3600
    std::size_t cells() const { return static_cast<std::size_t>(nrows) * static_cast<std::size_t>(ncols); }
    double lonCentre(int32_t column) const { return west + (column + 0.5) * cellDeg; }
    // Row 0 is the northernmost.
    double latCentre(int32_t rowFromNorth) const { return south + (nrows - rowFromNorth - 0.5) * cellDeg; }
};
GridGeometry gridGeometry(const ModelParams& params);

// A discharge grid file opened for reading frame by frame, its size checked
// against the frame count.
struct DischargeFile {
    std::string path;
    std::ifstream stream;
    std::size_t cells = 0;
    int64_t frames = 0;
};

// Opens `path` and checks that it holds exactly `frames` frames of `cells`
// values; otherwise throws InputError (missing, short, or too long for the
// parameter file).
void openDischargeFile(DischargeFile& file, const std::string& path, std::size_t cells, int64_t frames);

// Reads the next `count` frames into `north` (resized), each turned north-up
// (row 0 north) and laid one after the other.
void readNorthUpFrames(DischargeFile& file, int64_t count, int32_t nrows, int32_t ncols, std::vector<float>& north);

// The series of one cell (file coordinates: column number from 1 at the west,
// row number from 1 at the south), every frame of the file.
std::vector<float> readCellSeries(DischargeFile& file, int32_t ncols, int32_t columnNumber, int32_t rowNumber);

// The totals grid of runoffSim, north row first, each value as float32.
std::vector<float> readRainTotals(const std::string& path, int32_t nrows, int32_t ncols);

// A raster of int32 values (south row first in the file), north row first.
std::vector<int32_t> readIntRasterNorthUp(const std::string& path, int32_t nrows, int32_t ncols);

// A dam or reservoir as its list names it.
struct StructureSite {
    std::string name;
    int32_t number = 0;
    int32_t columnNumber = 0;  // from 1 at the west
    int32_t rowNumber = 0;     // from 1 at the south
    int32_t operation = -1;    // dam kind 0, 1 or 2; -1 for a reservoir
};

// The dams of "input/dam.dat" and the reservoirs of "input/reservoir.dat"; a
// missing list means none. Positions outside the grid are an InputError.
std::vector<StructureSite> readDamSites(const Project& project, int32_t nrows, int32_t ncols);
std::vector<StructureSite> readReservoirSites(const Project& project, int32_t nrows, int32_t ncols);

// The hourly table of a structure: "output/damData/NAMEIQS.dat" or "output/resData/NAMEIQ.dat".
std::string tablePath(const StructureSite& site);

// Columns 2.. of an hourly table, one vector per column, `hours` lines with
// the hour numbers 1, 2, ... Throws InputError for a missing, short or
// malformed table.
std::vector<std::vector<float>> readHourlyTable(const std::string& path, int64_t hours, int valueColumns);
