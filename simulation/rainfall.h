#pragma once
// Gridded rainfall: the rainfall grid and its points, the nearest-point mapping
// of the study-area cells (cached in "./temp/setROFCell.dat"), the text and
// binary readers, the rainfall of a calculation step and the event totals.
//
// Every value is an intensity in mm/h. The rainfall grid has its own origin,
// spacing and size; its row 0 is the southernmost row (the study-area grid
// keeps row 0 in the north).

#include "grid.h"

#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <string>
#include <vector>

struct ModelParams;

inline const char* const kRainTextPath = "./input/rain10min.dat";
inline const char* const kRainBinaryPath = "./input/rain.bin";
inline const char* const kRainCachePath = "./temp/setROFCell.dat";
inline const char* const kRainTotalsPath = "./output/totalRainDistribution.asc";

struct RainPoint {
    float latitude = 0.0f;   // degrees
    float longitude = 0.0f;  // degrees, points east of 180 stored as negative
    int32_t columnNumber = 0;  // j + 1
    int32_t rowNumber = 0;     // i + 1
    // Intensity in mm/h, [day][hour][observation] at (day * 24 + hour) * obsPerHour + observation.
    std::vector<float> rainSeries;
};

// rainRows x rainCols points; row i = 0 is the southernmost row.
struct RainGrid {
    int32_t rainRows = 0;
    int32_t rainCols = 0;
    int32_t days = 0;
    int32_t obsPerHour = 0;
    std::vector<RainPoint> points;  // index i * rainCols + j

    std::size_t indexOf(int i, int j) const {
        return static_cast<std::size_t>(i) * static_cast<std::size_t>(rainCols) + static_cast<std::size_t>(j);
    }
    RainPoint& at(int i, int j) { return points[indexOf(i, j)]; }
    const RainPoint& at(int i, int j) const { return points[indexOf(i, j)]; }
};

// A point of column j and row i at the given float32 coordinates; a longitude
// above 180 is stored as float32(longitude - 360), subtracted in double.
// The series is allocated for the whole event and zeroed.
RainPoint makeRainPoint(float latitude, float longitude, int j, int i, int days, int obsPerHour);

// Builds the rainfall grid with zeroed series: point (i, j) lies at latitude
// float32(i * rainDy + rainLat0) and longitude float32(j * rainDx + rainLon0),
// each computed in double and rounded once. A grid of more points than an
// int32 index can name is an InputError.
RainGrid makeRainGrid(const ModelParams& params);

// ---- Mapping cells to rainfall points ------------------------------------

// The ten values that identify the geometry of the two grids, in cache order.
struct RainCacheHeader {
    int32_t rainCols = -9999;
    int32_t rainRows = -9999;
    double rainDx = -9999.0;
    double rainDy = -9999.0;
    double rainLon0 = -9999.0;
    double rainLat0 = -9999.0;
    int32_t ncols = -9999;
    int32_t nrows = -9999;
    double xllcorner = -9999.0;
    double yllcorner = -9999.0;
};

RainCacheHeader rainCacheHeader(const ModelParams& params);
// True when the integers are equal and every real differs by at most the
// smallest normal double (in effect, equality).
bool cacheHeaderFits(const RainCacheHeader& cached, const RainCacheHeader& current);

// The point index (i * rainCols + j) of every cell, row-major over the study
// area (row 0 north). Throws InputError naming the first cell with no point
// nearer than 1e29 (absurd coordinates). Cells are independent of each other.
std::vector<int32_t> mapRainPoints(const CellGrid& grid, const RainGrid& rain);

// Reads a cache file. Returns true, with `pointOf` filled, only when the file
// opens, its header fits `current`, and it holds one well-formed "r c i j"
// record per cell of the current study area with (i, j) inside the current
// rainfall grid. The records' r and c are read but not compared with the cell
// order. Anything else (missing, other geometry, short, malformed) is false.
bool readRainCache(const std::string& path, const RainCacheHeader& current, std::vector<int32_t>& pointOf);

// Writes the header (reals with 15 significant digits, integers plain) and one
// "r c i j" line per cell, in the bytes of default stream formatting.
void writeRainCache(std::ostream& file, const RainCacheHeader& header, const std::vector<int32_t>& pointOf);

// Prints "Connect rainfall data to grid cell" and gives every cell, edges
// included, its rainfall point: from "./temp/setROFCell.dat" when it fits
// ("Read ROF data from ..."), else by the nearest-point search, rewriting the
// cache ("Make ROF data ..."). Requires the cell geometry (readTopography).
// In a share (CellGrid::slots), the held cells get their points and the share
// keeps every cell's. Without `mayWrite` the cache is only read (another
// process writes it): a cache that does not fit is computed anew, not written.
void connectRainfall(CellGrid& grid, const RainGrid& rain, const ModelParams& params, std::ostream& out,
                     bool mayWrite = true);

// ---- Rainfall series ------------------------------------------------------

// Text records in time order (day, hour, observation): seven integers that are
// dropped, then the intensities, north row first, each row west to east. A
// text that ends early leaves the rest 0.0; a token that is not a finite number
// is an InputError naming `path`, the record and the point.
void readRainText(RainGrid& rain, std::istream& in, const std::string& path);

// Binary frames of rainRows x rainCols little-endian float32, south row first,
// each read whole into one reused buffer. A short file leaves the missing
// values 0.0; a value that is not finite is an InputError naming `path`, the
// frame and the point.
void readRainBinary(RainGrid& rain, std::istream& in, const std::string& path);

// Prints "Read " and the path, then reads "./input/rain10min.dat" (rainFormat 1)
// or "./input/rain.bin" (any other format). A file that cannot be opened is the
// InputError "ROF file cannot open.\n".
void readRainfall(RainGrid& rain, const ModelParams& params, std::ostream& out);

// Observation of the hour that calculation step `step` uses.
inline int rainStep(int step, int stepSeconds, int rainInterval) { return step * stepSeconds / (60 * rainInterval); }

// Rain of the cell's point at (day, hour, rainStep), mm/h. Requires the cell's point (connectRainfall).
inline float rainfallAt(const RainGrid& rain, const Cell& cell, int day, int hour, int obs) {
    const RainPoint& point = rain.points[static_cast<std::size_t>(cell.rainPoint)];
    return point.rainSeries[(static_cast<std::size_t>(day) * 24 + static_cast<std::size_t>(hour)) *
                                static_cast<std::size_t>(rain.obsPerHour) +
                            static_cast<std::size_t>(obs)];
}

// ---- Event totals: "./output/totalRainDistribution.asc" ------------------
//
// The writer of the discharge files keeps the file's place in its sequence:
//
//     out << "Write " << kRainTotalsPath << '\n';
//     std::ofstream totalsFile = openRainTotals(kRainTotalsPath);  // created or truncated now
//     ... discharge frames; close the three discharge files ...
//     writeRainTotals(totalsFile, rainTotals(grid, rain), params);  // filled last
//     totalsFile.close();
//
// A file that cannot be created stays silent: the stream ignores the writes.

// Event rainfall in mm of every cell, edges included, row-major (row 0 north):
// value / obsPerHour (double) added for every observation in time order, which
// for 10-minute rainfall is the sum of value / 6.0 over the six intervals of
// each hour. A cell without a rainfall point totals 0.
std::vector<double> rainTotals(const CellGrid& grid, const RainGrid& rain);

// Opens (creates or truncates) the totals file for text output.
std::ofstream openRainTotals(const std::string& path);

// Writes the ESRI ASCII grid header and one line per row, north first, each
// value in 6 significant digits followed by one space. The caller closes the file.
void writeRainTotals(std::ostream& file, const std::vector<double>& totals, const ModelParams& params);
