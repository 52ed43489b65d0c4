#include "rainFiles.h"

#include "inputError.h"
#include "numberScanner.h"
#include "paramFile.h"
#include "resultFiles.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>
#include <sstream>

namespace {

std::string pointName(int i, int j) {
    return "rainfall point column " + std::to_string(j + 1) + ", row " + std::to_string(i + 1);
}

// Appends `value` as operator<< writes an integer.
void appendInt(std::string& text, long long value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    text.append(digits, result.ptr);
}

}  // namespace

// ---- The cache of the mapping -------------------------------------------------

RainCacheHeader rainCacheHeader(const ModelParams& p) {
    return {p.rainCols, p.rainRows, p.rainDx, p.rainDy, p.rainLon0, p.rainLat0,
            p.ncols,    p.nrows,    p.xllcorner, p.yllcorner};
}

bool cacheHeaderFits(const RainCacheHeader& a, const RainCacheHeader& b) {
    // The cached reals must agree to within the smallest normal double; written
    // as "within" so that a NaN never fits.
    auto near = [](double x, double y) { return std::fabs(x - y) <= kSmallestNormal; };
    return a.rainCols == b.rainCols && a.rainRows == b.rainRows && a.ncols == b.ncols && a.nrows == b.nrows &&
           near(a.rainDx, b.rainDx) && near(a.rainDy, b.rainDy) && near(a.rainLon0, b.rainLon0) &&
           near(a.rainLat0, b.rainLat0) && near(a.xllcorner, b.xllcorner) && near(a.yllcorner, b.yllcorner);
}

bool readRainCache(const std::string& path, const RainCacheHeader& current, std::vector<int32_t>& pointOf) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    RainCacheHeader cached;
    in >> cached.rainCols >> cached.rainRows >> cached.rainDx >> cached.rainDy >> cached.rainLon0 >>
        cached.rainLat0 >> cached.ncols >> cached.nrows >> cached.xllcorner >> cached.yllcorner;
    if (!in || !cacheHeaderFits(cached, current)) return false;

    // The header fits: every record must be there, well formed, and inside the rainfall grid.
    const int64_t rainPoints = static_cast<int64_t>(current.rainRows) * current.rainCols;
    if (current.nrows < 0 || current.ncols < 0 || rainPoints > INT32_MAX) return false;
    const std::size_t count = static_cast<std::size_t>(current.nrows) * static_cast<std::size_t>(current.ncols);
    std::vector<int32_t> points(count);
    NumberScanner scan(in);
    for (std::size_t k = 0; k < count; ++k) {
        int32_t r = 0, c = 0, i = 0, j = 0;
        if (scan.readInt(r) != ScanResult::kOk || scan.readInt(c) != ScanResult::kOk ||
            scan.readInt(i) != ScanResult::kOk || scan.readInt(j) != ScanResult::kOk) {
            return false;
        }
        if (i < 0 || i >= current.rainRows || j < 0 || j >= current.rainCols) return false;
        points[k] = i * current.rainCols + j;  // below rainPoints, so within int32
    }
    pointOf = std::move(points);
    return true;
}

void writeRainCache(std::ostream& file, const RainCacheHeader& h, const std::vector<int32_t>& pointOf) {
    std::ostringstream header;
    header.precision(15);
    header << h.rainCols << '\n' << h.rainRows << '\n' << h.rainDx << '\n' << h.rainDy << '\n' << h.rainLon0
           << '\n' << h.rainLat0 << '\n' << h.ncols << '\n' << h.nrows << '\n' << h.xllcorner << '\n'
           << h.yllcorner << '\n';
    file << header.str();
    // Records in blocks: one write per block instead of four formatted insertions per cell.
    std::string block;
    constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
    block.reserve(kBlockBytes + 64);
    for (std::size_t k = 0; k < pointOf.size(); ++k) {
        const std::size_t ncols = static_cast<std::size_t>(h.ncols);
        appendInt(block, static_cast<long long>(k / ncols));
        block += ' ';
        appendInt(block, static_cast<long long>(k % ncols));
        block += ' ';
        appendInt(block, pointOf[k] / h.rainCols);
        block += ' ';
        appendInt(block, pointOf[k] % h.rainCols);
        block += '\n';
        if (block.size() >= kBlockBytes) {
            file.write(block.data(), static_cast<std::streamsize>(block.size()));
            block.clear();
        }
    }
    file.write(block.data(), static_cast<std::streamsize>(block.size()));
}

void connectRainfall(CellGrid& grid, const RainGrid& rain, const ModelParams& params, std::ostream& out,
                     bool mayWrite) {
    out << "Connect rainfall data to grid cell\n";
    const RainCacheHeader header = rainCacheHeader(params);
    std::vector<int32_t> pointOf;
    if (readRainCache(kRainCachePath, header, pointOf)) {
        out << "Read ROF data from " << kRainCachePath << '\n';
    } else {
        out << "Make ROF data " << kRainCachePath << '\n';
        std::ofstream file;
        if (mayWrite) {
            file.open(kRainCachePath, std::ios::binary);
            if (!file) throw InputError(std::string(kRainCachePath) + " cannot open.\n");
        }
        // The whole mapping is found before any record is written, so a cell
        // without a point leaves an empty cache rather than a fitting header over partial records.
        pointOf = grid.isShare() ? mapShareRainPoints(grid, rain, params) : mapRainPoints(grid, rain);
        if (mayWrite) writeRainCache(file, header, pointOf);
    }
    if (grid.isShare()) {
        for (std::size_t k = 0; k < pointOf.size(); ++k)
            if (grid.holds(static_cast<int32_t>(k))) grid.cell(static_cast<int32_t>(k)).rainPoint = pointOf[k];
        grid.rainPoints = std::move(pointOf);
        return;
    }
    for (std::size_t k = 0; k < grid.cells.size(); ++k) grid.cells[k].rainPoint = pointOf[k];
}

// ---- Rainfall series --------------------------------------------------------

std::size_t readRainText(RainGrid& rain, std::istream& in, const std::string& path) {
    NumberScanner scan(in);
    const std::size_t records = seriesLength(rain.days, rain.obsPerHour);
    for (std::size_t record = 0; record < records; ++record) {
        const std::string where = "Error: " + path + " record " + std::to_string(record + 1);
        // Seven integers that carry no rainfall (any length: they are dropped).
        for (int n = 0; n < 7; ++n) {
            const ScanResult r = scan.skipInt();
            if (r == ScanResult::kEnd) return record;  // a file that ends early leaves the rest 0.0
            if (r == ScanResult::kMalformed) {
                throw InputError(where + ": \"" + scan.offendingText() +
                                 "\" is not an integer (a record starts with seven integers).\n");
            }
        }
        for (int i = rain.rainRows - 1; i >= 0; --i) {
            for (int j = 0; j < rain.rainCols; ++j) {
                float value = 0.0f;
                const ScanResult r = scan.readFloat(value);
                if (r == ScanResult::kEnd) return record;
                if (r == ScanResult::kMalformed) {
                    throw InputError(where + ", " + pointName(i, j) + ": \"" + scan.offendingText() +
                                     "\" is not a finite number.\n");
                }
                if (value > kMaxIntensity) {
                    throw InputError(where + ", " + pointName(i, j) + ": " + scan.offendingText() +
                                     " mm/h is beyond any rainfall intensity (at most 1e+06 mm/h).\n");
                }
                rain.at(i, j).rainSeries[record] = value;
            }
        }
    }
    return records;
}

std::size_t readRainBinary(RainGrid& rain, std::istream& in, const std::string& path) {
    const std::size_t count = rain.points.size();
    std::vector<char> frame(count * 4);
    const std::size_t frames = seriesLength(rain.days, rain.obsPerHour);
    for (std::size_t f = 0; f < frames; ++f) {
        in.read(frame.data(), static_cast<std::streamsize>(frame.size()));
        const std::size_t got = static_cast<std::size_t>(in.gcount()) / 4;
        for (std::size_t k = 0; k < got; ++k) {
            // Little-endian float32, assembled byte by byte whatever the host order.
            const unsigned char* b = reinterpret_cast<const unsigned char*>(frame.data() + 4 * k);
            const uint32_t bits = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                  static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
            float value;
            std::memcpy(&value, &bits, 4);
            if (!std::isfinite(value) || value > kMaxIntensity) {
                const int i = static_cast<int>(k / static_cast<std::size_t>(rain.rainCols));
                const int j = static_cast<int>(k % static_cast<std::size_t>(rain.rainCols));
                std::ostringstream text;
                text << "Error: " << path << " frame " << f + 1 << ", " << pointName(i, j) << ": " << value
                     << (std::isfinite(value) ? " mm/h is beyond any rainfall intensity (at most 1e+06 mm/h).\n"
                                              : " is not a finite number.\n");
                throw InputError(text.str());
            }
            rain.points[k].rainSeries[f] = value;
        }
        if (got < count) return f;  // a short file: this frame's rest and later frames stay 0.0
    }
    return frames;
}

void readRainfall(RainGrid& rain, const ModelParams& params, std::ostream& out, std::ostream* warnings) {
    const bool text = params.rainFormat == 1;
    const std::string path = text ? kRainTextPath : kRainBinaryPath;
    out << "Read " << path << '\n';
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError("ROF file cannot open.\n");
    const std::size_t found = text ? readRainText(rain, in, path) : readRainBinary(rain, in, path);
    const std::size_t needed = seriesLength(rain.days, rain.obsPerHour);
    if (found < needed && warnings != nullptr) {
        // A short file may be meant (a storm, then a dry recession) or cut off:
        // the run goes on, and says so where the console does not look.
        const char* const what = text ? " records" : " frames";
        *warnings << "Warning: " << path << " holds " << found << " of the " << needed << what
                  << " the event needs; the rest of the event is taken as dry.\n";
        warnings->flush();
    }
}

namespace {

// The totals grid, handed to `put` in pieces.
void putRainTotals(const std::function<void(const std::string&)>& put, const std::vector<double>& totals,
                   const ModelParams& params) {
    std::ostringstream header;
    header << "ncols " << params.ncols << '\n'
           << "nrows " << params.nrows << '\n'
           << "xllcorner " << params.xllcorner << '\n'
           << "yllcorner " << params.yllcorner << '\n'
           << "cellsize 0.00833333\n"
           << "NODATA_value -9999\n";
    put(header.str());
    std::string line;
    char number[40];
    const std::size_t ncols = static_cast<std::size_t>(params.ncols);
    for (std::size_t r = 0; r < static_cast<std::size_t>(params.nrows); ++r) {
        line.clear();
        for (std::size_t c = 0; c < ncols; ++c) {
            // "%.6g" is what operator<< writes for a double with default formatting.
            const int n = std::snprintf(number, sizeof number, "%.6g", totals[r * ncols + c]);
            line.append(number, static_cast<std::size_t>(n));
            line += ' ';
        }
        line += '\n';
        put(line);
    }
}

}  // namespace

void writeRainTotals(std::ostream& file, const std::vector<double>& totals, const ModelParams& params) {
    const auto put = [&](const std::string& piece) {
        file.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    };
    putRainTotals(put, totals, params);
}

int writeRainTotalsFile(const std::string& path, const std::vector<double>& totals, const ModelParams& params) {
    OutputFile file;
    openOutputFile(file, path);
    putRainTotals([&](const std::string& piece) { putBytes(file, piece); }, totals, params);
    return closeOutputFile(file);
}
