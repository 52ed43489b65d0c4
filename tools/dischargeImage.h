#pragma once
// The discharge image maker: one binary PPM image ("P6", 5 x 5 pixels per
// cell, north at the top) per frame of a discharge grid file, coloured on a
// square-root scale between a minimum and a maximum discharge that are either
// found in the file or given on the console.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// What differs between the two image programs.
struct ImageToolConfig {
    const char* inputPath;   // discharge grid file in the working directory
    int32_t framesPerDay;    // frames per simulated day in that file
};

inline constexpr ImageToolConfig kImage10min{"./discharge10minMean.bin", 144};
inline constexpr ImageToolConfig kImageHourly{"./dischargeHourlyMean.bin", 24};

inline constexpr int32_t kNoDataLevel = -999;  // drawn black
inline constexpr int32_t kPixelsPerCell = 5;
inline constexpr int64_t kMaxImages = 10000;

struct Rgb {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

// The discharge range of the colour scale; minDischarge < maxDischarge.
struct DischargeRange {
    float maxDischarge;
    float minDischarge;
};

// Colour of a level: black below 0, then blue -> cyan -> green -> yellow -> red
// over 0..255 in steps of 4 (brightest component 252), yellow above 255.
Rgb levelToRgb(int32_t level);

// Colour level of one discharge value: kNoDataLevel for a negative value (no
// data), for a value below the minimum (no real root) and for NaN; 256 for any
// value beyond the top of the scale; else 0..255. Always defined.
int32_t dischargeLevel(float value, const DischargeRange& range);

// Levels of one frame in frame order (row 0 the southernmost). The second and
// the second-to-last rows and columns are blanked to kNoDataLevel whatever
// their values. `levels` is sized once and reused.
void frameLevels(const std::vector<float>& frame, int32_t nrows, int32_t ncols, const DischargeRange& range,
                 std::vector<int32_t>& levels);

// "P6\n<width> <height>\n255\n" for a grid of nrows x ncols cells.
std::string ppmHeader(int32_t nrows, int32_t ncols);

// The five pixel rows of grid row p (frame order): each cell a 5 x 5 block.
// `band` is sized once and reused.
void drawBand(const std::vector<int32_t>& levels, int32_t p, int32_t ncols, std::vector<char>& band);

// Writes the whole image file (header and pixels) of a frame's levels, north
// row at the top, one band at a time: the memory it needs is one band, not
// the image, which is 75 times the frame.
void writeImage(std::ostream& file, const std::vector<int32_t>& levels, int32_t nrows, int32_t ncols,
                std::vector<char>& band);

// The same image in memory.
void drawImage(const std::vector<int32_t>& levels, int32_t nrows, int32_t ncols, std::vector<char>& image);

// "./image/%4d_discharge.ppm" for image number m.
std::string imageFileName(int64_t m);

// The whole program on the given console: reads "../param-hsx-event-ver400.dat",
// holds the range dialogue and writes every image into "./image/". Returns the
// exit status; plain stops throw InputError with their console text.
int runDischargeImage(const ImageToolConfig& config, std::istream& in, std::ostream& out);
