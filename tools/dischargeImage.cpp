#include "dischargeImage.h"

#include "consoleProgram.h"
#include "frameFile.h"
#include "inputError.h"
#include "paramFile.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

Rgb levelToRgb(int32_t level) {
    auto rgb = [](int32_t r, int32_t g, int32_t b) {
        return Rgb{static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)};
    };
    if (level < 0) return rgb(0, 0, 0);
    if (level <= 63) return rgb(0, 4 * level, 252);
    if (level <= 127) return rgb(0, 252, 508 - 4 * level);
    if (level <= 191) return rgb(4 * level - 512, 252, 0);
    if (level <= 255) return rgb(252, 1020 - 4 * level, 0);
    return rgb(252, 252, 0);
}

int32_t dischargeLevel(float value, const DischargeRange& range) {
    if (value < 0.0f) return kNoDataLevel;
    // Difference and quotient are float32, and the root is a float32 power with
    // exponent 0.5 (not sqrt): this is the rounding the colour scale is defined by.
    const float difference = value - range.minDischarge;
    const float fraction = difference / (range.maxDischarge - range.minDischarge);
    const float root = std::pow(fraction, 0.5f);
    // The product with 255 is taken in double precision, then truncated.
    const double scaled = 255.0 * static_cast<double>(root);
    // NaN (a value below the minimum, or a damaged value) has no colour: black.
    if (!(scaled >= 0.0)) return kNoDataLevel;
    // Everything past the top, up to +inf, is "above 255"; this also keeps the
    // conversion to int defined.
    if (scaled >= 256.0) return 256;
    return static_cast<int32_t>(scaled);
}

void frameLevels(const std::vector<float>& frame, int32_t nrows, int32_t ncols, const DischargeRange& range,
                 std::vector<int32_t>& levels) {
    levels.resize(frame.size());
    std::size_t i = 0;
    for (int32_t p = 0; p < nrows; ++p) {
        const bool blankRow = p == 1 || p == nrows - 2;
        for (int32_t n = 0; n < ncols; ++n, ++i) {
            const bool blank = blankRow || n == 1 || n == ncols - 2;
            levels[i] = blank ? kNoDataLevel : dischargeLevel(frame[i], range);
        }
    }
}

std::string ppmHeader(int32_t nrows, int32_t ncols) {
    // 64-bit sizes: the width of a very wide grid does not fit in int32.
    return "P6\n" + std::to_string(int64_t{ncols} * kPixelsPerCell) + " " +
           std::to_string(int64_t{nrows} * kPixelsPerCell) + "\n255\n";
}

void drawBand(const std::vector<int32_t>& levels, int32_t p, int32_t ncols, std::vector<char>& band) {
    const std::size_t rowBytes = static_cast<std::size_t>(ncols) * kPixelsPerCell * 3;
    band.resize(rowBytes * kPixelsPerCell);
    char* pixel = band.data();
    const int32_t* rowLevels = levels.data() + static_cast<std::size_t>(p) * static_cast<std::size_t>(ncols);
    for (int32_t n = 0; n < ncols; ++n) {
        const Rgb colour = levelToRgb(rowLevels[n]);
        for (int32_t k = 0; k < kPixelsPerCell; ++k) {
            *pixel++ = static_cast<char>(colour.red);
            *pixel++ = static_cast<char>(colour.green);
            *pixel++ = static_cast<char>(colour.blue);
        }
    }
    // The other four pixel rows of the band repeat the first.
    for (int32_t k = 1; k < kPixelsPerCell; ++k) std::memcpy(band.data() + k * rowBytes, band.data(), rowBytes);
}

void writeImage(std::ostream& file, const std::vector<int32_t>& levels, int32_t nrows, int32_t ncols,
                std::vector<char>& band) {
    file << ppmHeader(nrows, ncols);
    // North first: the last row of the frame is the top of the image.
    for (int32_t p = nrows - 1; p >= 0; --p) {
        drawBand(levels, p, ncols, band);
        file.write(band.data(), static_cast<std::streamsize>(band.size()));
    }
}

void drawImage(const std::vector<int32_t>& levels, int32_t nrows, int32_t ncols, std::vector<char>& image) {
    std::ostringstream file;
    std::vector<char> band;
    writeImage(file, levels, nrows, ncols, band);
    const std::string bytes = file.str();
    image.assign(bytes.begin(), bytes.end());
}

std::string imageFileName(int64_t m) {
    char name[64];
    std::snprintf(name, sizeof name, "./image/%4lld_discharge.ppm", static_cast<long long>(m));
    return name;
}

namespace {

// The two stops that leave the console open until the user presses a key.
int stopAfterKey(std::istream& in, std::ostream& out, const char* message) {
    out << message << "\n\nProgram ends. Hit any key!\n";
    out.flush();
    echoStop(out, message);  // before the wait: with the console in a log, nothing else shows why
    in.get();
    return 1;
}

// The range dialogue. Returns true with `range` set for the manual range (only
// the exact answer "y"), false for the automatic range. An answer that is not
// a number, or a minimum not below the maximum, stops the program.
bool askManualRange(std::istream& in, std::ostream& out, DischargeRange& range) {
    out << "\nDo you want to set the maximum and minimun values of rainfall intensity? (y/n)\n";
    out.flush();
    std::string answer;
    in >> answer;
    if (answer != "y") return false;
    out << "Input maximum value : ";
    out.flush();
    if (!(in >> range.maxDischarge)) throw InputError("Wrong values inputted!\n");
    out << "Input minimum value : ";
    out.flush();
    if (!(in >> range.minDischarge)) throw InputError("Wrong values inputted!\n");
    if (range.minDischarge >= range.maxDischarge) throw InputError("Wrong values inputted!\n");
    return true;
}

// The range of every non-negative value of the first `frames` frames, in file
// order. NaN and infinity take no part (every comparison with NaN is false).
DischargeRange automaticRange(FrameFile& file, int64_t frames, std::vector<float>& frame) {
    DischargeRange range{-1.0f, 10000.0f};
    for (int64_t f = 0; f < frames; ++f) {
        readFrame(file, frame, frames);
        for (const float v : frame) {
            if (v < 0.0f) continue;
            // An infinite value is damage, not a discharge: as the top of the
            // range it would make every other level 0.
            if (std::isinf(v)) continue;
            if (v > range.maxDischarge) range.maxDischarge = v;
            if (v < range.minDischarge) range.minDischarge = v;
        }
    }
    return range;
}

// Draws image m = 1..frames from consecutive frames of `file`. A frame is read
// before its image file is created, so a short file never leaves a broken image.
void drawImages(FrameFile& file, int64_t frames, const ToolParams& params, const DischargeRange& range,
                std::ostream& out) {
    std::vector<float> frame;
    std::vector<int32_t> levels;
    std::vector<char> band;
    for (int64_t m = 1; m <= frames; ++m) {
        readFrame(file, frame, frames);
        const std::string name = imageFileName(m);
        out << "Write " << name << '\r';
        std::ofstream imageFile(name, std::ios::binary);
        if (!imageFile) throw InputError("Image output file cannot open.\n");
        frameLevels(frame, params.nrows, params.ncols, range, levels);
        writeImage(imageFile, levels, params.nrows, params.ncols, band);
        imageFile.close();
        if (!imageFile) throw InputError("Image output file " + name + " cannot be written.\n");
    }
}

}  // namespace

int runDischargeImage(const ImageToolConfig& config, std::istream& in, std::ostream& out) {
    out << "Reading parameters for runoff simulation.\n";
    ToolParams params;
    if (!readParamFile(out, params)) return stopAfterKey(in, out, "param-hsx-event-ver400.dat cannot open.");
    out << '\n';

    const uint64_t cells = static_cast<uint64_t>(params.nrows) * static_cast<uint64_t>(params.ncols);
    out << "Read " << config.inputPath << '\n';
    FrameFile file;
    if (!openFrameFile(file, config.inputPath, cells)) throw InputError("Discharge data cannot open.\n");
    // 64-bit product: a large `days` must not wrap around below the limit.
    const int64_t maxTimeCounter = int64_t{params.days} * config.framesPerDay;
    if (maxTimeCounter > kMaxImages) throw InputError("Max_time_counter exceeds 10000!\n");

    DischargeRange range{};
    std::vector<float> frame;
    if (!askManualRange(in, out, range)) range = automaticRange(file, maxTimeCounter, frame);
    file.stream.close();
    if (range.minDischarge >= range.maxDischarge) throw InputError("Maximun discharge <= Minimum discharge!\n");
    out << "Maximun discharge = " << range.maxDischarge << " Minimum discharge = " << range.minDischarge << '\n';

    out << "Read " << config.inputPath << '\n';
    FrameFile drawing;
    if (!openFrameFile(drawing, config.inputPath, cells)) {
        return stopAfterKey(in, out, "Discharge data cannot open.");
    }
    drawImages(drawing, maxTimeCounter, params, range, out);
    out << "\nProgram ends!\n";
    return 0;
}
