#pragma once
// The rainfall files: the cache of the cell-to-point mapping in
// "./temp/setROFCell.dat", the text and binary rainfall readers and the
// event totals grid "./output/totalRainDistribution.asc".

#include "rainfall.h"

#include <cstdint>
#include <fstream>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

struct ModelParams;

inline const char* const kRainTextPath = "./input/rain10min.dat";
inline const char* const kRainBinaryPath = "./input/rain.bin";
inline const char* const kRainCachePath = "./temp/setROFCell.dat";
inline const char* const kRainTotalsPath = "./output/totalRainDistribution.asc";

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
// is an InputError naming `path`, the record and the point. Returns the number
// of complete records read.
std::size_t readRainText(RainGrid& rain, std::istream& in, const std::string& path);

// Binary frames of rainRows x rainCols little-endian float32, south row first,
// each read whole into one reused buffer. A short file leaves the missing
// values 0.0; a value that is not finite is an InputError naming `path`, the
// frame and the point. Returns the number of complete frames read.
std::size_t readRainBinary(RainGrid& rain, std::istream& in, const std::string& path);

// Prints "Read " and the path, then reads "./input/rain10min.dat" (rainFormat 1)
// or "./input/rain.bin" (any other format). A file that cannot be opened is the
// InputError "ROF file cannot open.\n". A file shorter than the event is read
// as it is, and one line on `warnings` (if given) names it with the records
// it holds and the records the event needs.
void readRainfall(RainGrid& rain, const ModelParams& params, std::ostream& out, std::ostream* warnings = nullptr);

// ---- Event totals: "./output/totalRainDistribution.asc" ------------------

// Writes the ESRI ASCII grid header and one line per row, north first, each
// value in 6 significant digits followed by one space. The caller closes the file.
void writeRainTotals(std::ostream& file, const std::vector<double>& totals, const ModelParams& params);

// The same into the file `path` (created or truncated); returns the system's
// error number of the first failure, or 0.
int writeRainTotalsFile(const std::string& path, const std::vector<double>& totals, const ModelParams& params);
