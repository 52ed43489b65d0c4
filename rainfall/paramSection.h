#pragma once
// The parts of a project's parameter file that rainfall preparation reads
// (sections 1, 3 and the time step of section 4) and the rewrite of section 2
// (values 6 to 13) in place: every other byte of the file stays as it was.

#include <cstdint>
#include <string>

// The rainfall grid of section 2: columns west to east, rows south to north,
// spacing in degrees, and the centre of the south-west point.
struct RainGridSpec {
    int32_t cols = 0;
    int32_t rows = 0;
    double dx = 0.0;
    double dy = 0.0;
    double lon0 = 0.0;
    double lat0 = 0.0;
};

struct ProjectArea {
    float scale = 0.0f;  // study-area cell size, arc-seconds
    int32_t ncols = 0;
    int32_t nrows = 0;
    double xllcorner = 0.0;
    double yllcorner = 0.0;
    int32_t days = 0;
    int32_t stepSeconds = 0;  // 0 when the file stops before section 4

    double west() const { return xllcorner; }
    double south() const { return yllcorner; }
    double east() const { return xllcorner + ncols * static_cast<double>(scale) / 3600.0; }
    double north() const { return yllcorner + nrows * static_cast<double>(scale) / 3600.0; }
};

// Reads values 1 to 5, 14 and (when present) 15 of the parameter file text.
// Throws InputError naming `path` when the file holds fewer than 14 numbers
// or a value of those sections is malformed or out of range.
ProjectArea readProjectArea(const std::string& text, const std::string& path);

// The file text with values 6 to 13 replaced: format 2 (binary), `interval`
// minutes, the grid's columns, rows, spacing and south-west centre. Reals are
// written with 15 significant digits.
std::string withRainSection(const std::string& text, const RainGridSpec& grid, int32_t interval);
