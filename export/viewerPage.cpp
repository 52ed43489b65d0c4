#include "viewerPage.h"

#include "hydrographSvg.h"
#include "inputError.h"
#include "upstreamRain.h"
#include "viewerAssets.h"
#include "viewerData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

// ---- Reading -----------------------------------------------------------------

// A float32 raster (south row first in the file), north row first.
std::vector<float> readFloatRasterNorthUp(const std::string& path, int32_t nrows, int32_t ncols) {
    const std::vector<int32_t> words = readIntRasterNorthUp(path, nrows, ncols);
    std::vector<float> values(words.size());
    std::memcpy(values.data(), words.data(), words.size() * 4);
    return values;
}

TimeSeries hourlySeries(const std::vector<float>& values) {
    TimeSeries s;
    for (std::size_t k = 0; k < values.size(); ++k) {
        s.minutes.push_back(static_cast<double>(k + 1) * 60.0);
        s.values.push_back(values[k]);
    }
    return s;
}

std::size_t cellIndex(const GridGeometry& grid, int32_t columnNumber, int32_t rowNumber) {
    return static_cast<std::size_t>(grid.nrows - rowNumber) * static_cast<std::size_t>(grid.ncols) +
           static_cast<std::size_t>(columnNumber - 1);
}

}  // namespace

ViewerInputs readViewerInputs(const ExportRun& run, const std::vector<ViewerGauge>& gauges) {
    const GridGeometry& grid = run.grid;
    ViewerInputs in;
    in.elevation = readFloatRasterNorthUp(run.project.path("topoData/modDem.bin"), grid.nrows, grid.ncols);
    in.riverNum = readIntRasterNorthUp(run.project.path("topoData/riverNum.bin"), grid.nrows, grid.ncols);

    // Each cell's rainfall point, numbered among the points that some cell uses.
    const RainGrid rain = readRunRainfall(run.project, run.params);
    const CellRainPoints points(run.project, run.params, rain);
    std::vector<int64_t> used(rain.points.size(), -1);
    in.rainPoint.resize(grid.cells());
    for (std::size_t i = 0; i < grid.cells(); ++i) {
        const std::size_t p = points.pointOf(static_cast<int32_t>(i));
        if (used[p] < 0) {
            used[p] = static_cast<int64_t>(in.rainPoints++);
            const std::vector<float>& series = rain.points[p].rainSeries;
            in.rainSeries.insert(in.rainSeries.end(), series.begin(), series.end());
        }
        in.rainPoint[i] = static_cast<uint32_t>(used[p]);
    }
    for (int32_t r = 0; r < grid.nrows; ++r) in.rowArea.push_back(points.areaOf(r * grid.ncols));

    // Gauges: scored against the hourly means as plotHydrograph scores them.
    DischargeFile hourly;
    openDischargeFile(hourly, run.project.path(kHourlyFile), grid.cells(), run.hours);
    for (const ViewerGauge& gauge : gauges) {
        const std::string cellText =
            "column " + std::to_string(gauge.columnNumber) + ", row " + std::to_string(gauge.rowNumber);
        if (gauge.columnNumber > grid.ncols || gauge.rowNumber > grid.nrows) {
            throw InputError("Error: the gauge at " + cellText + " is outside the grid of " +
                             std::to_string(grid.ncols) + " x " + std::to_string(grid.nrows) + " cells.\n");
        }
        const std::vector<float> values = readCellSeries(hourly, grid.ncols, gauge.columnNumber, gauge.rowNumber);
        if (!values.empty() && values.front() == kFillValue) {
            throw InputError("Error: the gauge at " + cellText + " is on a cell that is not computed: " + hourly.path +
                             " holds no discharge there.\n");
        }
        ViewerInputs::Gauge g;
        g.option = gauge;
        g.observed = readObservedCsv(gauge.path, run.start);
        g.scores = compareSeries(hourlySeries(values), g.observed.series);
        in.gauges.push_back(std::move(g));
    }
    return in;
}

namespace {

// ---- Writing -----------------------------------------------------------------

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c == '<') {
            out += "\\u003c";  // no "</script>" inside the script element
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Enough digits to give the same double back; null for what JSON cannot hold.
std::string jsonNumber(double v) {
    if (!std::isfinite(v)) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// A float32 with the fewest of 9 digits that give it back.
std::string jsonFloat(float v) {
    char text[32];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(v));
        if (std::strtof(text, nullptr) == v) break;
    }
    return text;
}

template <typename T, typename Format>
std::string jsonArray(const std::vector<T>& values, Format format) {
    std::string out = "[";
    for (std::size_t k = 0; k < values.size(); ++k) out += (k ? "," : "") + format(values[k]);
    return out + "]";
}

// The data elements of the page: each blob a script element of base64 text.
struct BlobWriter {
    std::ostream& out;
    int count = 0;
    uint64_t bytes = 0;

    // Writes the bytes and returns the blob's descriptor for the JSON object.
    std::string write(const void* data, std::size_t size, const char* type) {
        static const char* const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const std::string id = "b" + std::to_string(count++);
        out << "<script type=\"application/octet-stream\" id=\"" << id << "\">";
        const unsigned char* p = static_cast<const unsigned char*>(data);
        std::string line;
        line.reserve(4096);
        for (std::size_t k = 0; k < size; k += 3) {
            const uint32_t b0 = p[k], b1 = k + 1 < size ? p[k + 1] : 0, b2 = k + 2 < size ? p[k + 2] : 0;
            const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
            line += alphabet[(triple >> 18) & 63];
            line += alphabet[(triple >> 12) & 63];
            line += k + 1 < size ? alphabet[(triple >> 6) & 63] : '=';
            line += k + 2 < size ? alphabet[triple & 63] : '=';
            if (line.size() >= 4000) {
                out << line;
                line.clear();
            }
        }
        out << line << "</script>\n";
        bytes += (size + 2) / 3 * 4;
        return "{\"id\":\"" + id + "\",\"type\":\"" + type + "\",\"length\":" + std::to_string(size) + "}";
    }
    template <typename T>
    std::string write(const std::vector<T>& values, const char* type) {
        return write(values.data(), values.size() * sizeof(T), type);
    }
    // Non-negative integers in the narrowest of u8, u16 and u32 (negative values as 0).
    std::string writeNarrow(const std::vector<int64_t>& values) {
        int64_t top = 0;
        for (int64_t v : values) top = std::max(top, v);
        auto narrow = [&](auto zero, const char* type) {
            std::vector<decltype(zero)> w(values.size());
            for (std::size_t k = 0; k < values.size(); ++k) w[k] = static_cast<decltype(zero)>(std::max<int64_t>(values[k], 0));
            return write(w, type);
        };
        if (top < 256) return narrow(uint8_t{}, "u8");
        if (top < 65536) return narrow(uint16_t{}, "u16");
        return narrow(uint32_t{}, "u32");
    }
};

// The kind of every cell: computed or not from the first hourly frame, channel
// above the threshold, dams and reservoirs where their lists put them.
std::vector<uint8_t> cellKinds(const ExportRun& run, const std::vector<float>& firstFrame) {
    std::vector<uint8_t> kinds(firstFrame.size(), kViewerNone);
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (firstFrame[i] == kFillValue) continue;
        kinds[i] = run.flowAcc[i] > run.params.channelThreshold ? kViewerChannel : kViewerSlope;
    }
    for (const StructureSite& s : run.dams) kinds[cellIndex(run.grid, s.columnNumber, s.rowNumber)] = kViewerDam;
    for (const StructureSite& s : run.reservoirs)
        kinds[cellIndex(run.grid, s.columnNumber, s.rowNumber)] = kViewerReservoir;
    return kinds;
}

std::string structuresJson(const ExportRun& run, const std::vector<StructureSite>& sites,
                           const std::vector<std::vector<std::vector<float>>>& tables) {
    static const char* const columns[3] = {"inflow", "outflow", "storage"};
    std::string out = "[";
    for (std::size_t s = 0; s < sites.size(); ++s) {
        const StructureSite& site = sites[s];
        out += std::string(s ? "," : "") + "{\"name\":" + jsonString(site.name) +
               ",\"column\":" + std::to_string(site.columnNumber) + ",\"row\":" + std::to_string(site.rowNumber) +
               ",\"cell\":" + std::to_string(cellIndex(run.grid, site.columnNumber, site.rowNumber)) +
               ",\"table\":" + jsonString(tablePath(site));
        for (std::size_t c = 0; c < tables[s].size(); ++c)
            out += std::string(",\"") + columns[c] + "\":" + jsonArray(tables[s][c], jsonFloat);
        out += "}";
    }
    return out + "]";
}

std::string gaugesJson(const GridGeometry& grid, const std::vector<ViewerInputs::Gauge>& gauges) {
    std::string out = "[";
    for (std::size_t k = 0; k < gauges.size(); ++k) {
        const ViewerInputs::Gauge& g = gauges[k];
        out += std::string(k ? "," : "") + "{\"column\":" + std::to_string(g.option.columnNumber) +
               ",\"row\":" + std::to_string(g.option.rowNumber) +
               ",\"cell\":" + std::to_string(cellIndex(grid, g.option.columnNumber, g.option.rowNumber)) +
               ",\"file\":" + jsonString(g.option.path) +
               ",\"minutes\":" + jsonArray(g.observed.series.minutes, jsonNumber) +
               ",\"values\":" + jsonArray(g.observed.series.values, jsonNumber) +
               ",\"scores\":" + jsonString(skillScoresLine(g.scores)) +
               ",\"skillCsv\":" + jsonString(skillScoresCsv(g.scores)) + "}";
    }
    return out + "]";
}

// The series of the exact cells (cell-major) and the levels of the slopes'
// blocks, frame by frame, from one discharge file.
struct FramePass {
    std::vector<float> exact;                 // exact cells x frames
    std::vector<std::vector<uint8_t>> maps;   // per frame, when maps are asked for
};

FramePass readFrames(DischargeFile& file, const ExportRun& run, const std::vector<int32_t>& exactCells,
                     const std::vector<uint8_t>& kinds, const BlockGrid* blocks, const LogScale& scale,
                     PeakFields* peaks) {
    FramePass pass;
    const std::size_t frames = static_cast<std::size_t>(file.frames);
    pass.exact.resize(exactCells.size() * frames);
    std::vector<float> frame;
    for (std::size_t f = 0; f < frames; ++f) {
        readNorthUpFrames(file, 1, run.grid.nrows, run.grid.ncols, frame);
        for (std::size_t e = 0; e < exactCells.size(); ++e)
            pass.exact[e * frames + f] = frame[static_cast<std::size_t>(exactCells[e])];
        if (blocks) pass.maps.push_back(blockLevels(*blocks, kinds, frame.data(), scale));
        if (peaks) addToPeaks(*peaks, frame, static_cast<int64_t>(f), 1);
    }
    return pass;
}

// The project directory's own name, for the page's title.
std::string projectName(const Project& project) {
    std::filesystem::path dir = std::filesystem::absolute(project.dir).lexically_normal();
    if (dir.filename().empty()) dir = dir.parent_path();
    return dir.filename().string();
}

std::string blockNote(int32_t factor) {
    return factor == 1 ? "full resolution"
                       : "reduced resolution: slopes in blocks of " + std::to_string(factor) + " x " +
                             std::to_string(factor) + " cells";
}

}  // namespace

std::string writeViewerPage(const ExportRun& run, const ViewerInputs& inputs, const std::string& path,
                            uint64_t budget) {
    const GridGeometry& grid = run.grid;
    const std::size_t cells = grid.cells();
    const int64_t hours = run.hours;

    DischargeFile hourly, tenMinute;
    openDischargeFile(hourly, run.project.path(kHourlyFile), cells, hours);
    openDischargeFile(tenMinute, run.project.path(k10minMeanFile), cells, hours * 6);
    std::vector<float> first;
    readNorthUpFrames(hourly, 1, grid.nrows, grid.ncols, first);
    hourly.stream.seekg(0);
    const std::vector<uint8_t> kinds = cellKinds(run, first);

    // Exact series for channel, dam, reservoir and gauge cells.
    std::vector<bool> exact(cells, false);
    for (std::size_t i = 0; i < cells; ++i) exact[i] = kinds[i] >= kViewerChannel;
    for (const ViewerInputs::Gauge& g : inputs.gauges) exact[cellIndex(grid, g.option.columnNumber, g.option.rowNumber)] = true;
    std::vector<int32_t> exactCells;
    for (std::size_t i = 0; i < cells; ++i)
        if (exact[i]) exactCells.push_back(static_cast<int32_t>(i));

    // The colour scale reaches the largest 10-minute mean, which no hourly mean exceeds.
    float largest = 0.0f;
    {
        std::vector<float> frame;
        for (int64_t f = 0; f < tenMinute.frames; ++f) {
            readNorthUpFrames(tenMinute, 1, grid.nrows, grid.ncols, frame);
            for (float q : frame) largest = std::max(largest, q);
        }
        tenMinute.stream.seekg(0);
    }
    const LogScale scale = logScaleUpTo(largest);

    // The plan: how finely the slopes' maps can be kept within the budget.
    ViewerSizes sizes;
    sizes.hours = hours;
    sizes.exactCells = exactCells.size();
    sizes.fixedBytes = cells * (2 + 1 + 4 + 4 + 1 + 2 + 2) + 8 * static_cast<uint64_t>(grid.nrows) +
                       4 * inputs.rainSeries.size() + exactCells.size() * (4 + 4 * static_cast<uint64_t>(hours));
    for (int32_t k = 1; k <= 16; ++k) {
        uint64_t count = 0;
        const int32_t blockCols = (grid.ncols + k - 1) / k;
        std::vector<bool> seen(static_cast<std::size_t>((grid.nrows + k - 1) / k) * static_cast<std::size_t>(blockCols));
        for (int32_t r = 0; r < grid.nrows; ++r)
            for (int32_t c = 0; c < grid.ncols; ++c) {
                if (kinds[static_cast<std::size_t>(r) * static_cast<std::size_t>(grid.ncols) + static_cast<std::size_t>(c)] != kViewerSlope) continue;
                const std::size_t b = static_cast<std::size_t>(r / k) * static_cast<std::size_t>(blockCols) + static_cast<std::size_t>(c / k);
                if (!seen[b]) ++count;
                seen[b] = true;
            }
        sizes.slopeBlocks.push_back(count);
    }
    const ViewerPlan plan = planViewer(sizes, budget);

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw InputError("Error: " + path + " cannot be written.\n");
    out << kViewerPageHead;
    BlobWriter blobs{out};
    std::ostringstream meta;
    meta << "{\"version\":1";
    meta << ",\"title\":" << jsonString(projectName(run.project));
    meta << ",\"grid\":{\"ncols\":" << grid.ncols << ",\"nrows\":" << grid.nrows << ",\"west\":" << jsonNumber(grid.west)
         << ",\"south\":" << jsonNumber(grid.south) << ",\"cellDeg\":" << jsonNumber(grid.cellDeg) << "}";
    meta << ",\"start\":" << (run.start.start ? jsonString(isoText(*run.start.start)) : "null")
         << ",\"startSource\":" << jsonString(run.start.source);
    meta << ",\"hours\":" << hours << ",\"rainInterval\":" << run.params.rainInterval
         << ",\"channelThreshold\":" << run.params.channelThreshold;
    meta << ",\"scale\":{\"qMin\":" << jsonNumber(scale.qMin) << ",\"qMax\":" << jsonNumber(scale.qMax) << "}";

    meta << ",\"info\":" << blobs.write(cellInfo(kinds, run.flowDir, inputs.riverNum, grid.nrows, grid.ncols), "u16");
    meta << ",\"relief\":" << blobs.write(hillshade(inputs.elevation, grid), "u8");
    meta << ",\"flowAcc\":" << blobs.writeNarrow(std::vector<int64_t>(run.flowAcc.begin(), run.flowAcc.end()));
    meta << ",\"rain\":{\"points\":" << inputs.rainPoints
         << ",\"cellPoint\":" << blobs.writeNarrow(std::vector<int64_t>(inputs.rainPoint.begin(), inputs.rainPoint.end()))
         << ",\"series\":" << blobs.write(inputs.rainSeries, "f32")
         << ",\"rowArea\":" << blobs.write(inputs.rowArea, "f64") << "}";

    // Hourly: exact series, slope maps, peaks.
    const BlockGrid hourlyBlocks(plan.hourlyFactor, kinds, grid.nrows, grid.ncols);
    PeakFields peaks(cells);
    FramePass pass = readFrames(hourly, run, exactCells, kinds, &hourlyBlocks, scale, &peaks);
    meta << ",\"exact\":{\"cells\":" << blobs.write(exactCells, "i32") << ",\"hourly\":" << blobs.write(pass.exact, "f32");
    std::string hourlyMaps = "{\"factor\":" + std::to_string(plan.hourlyFactor) + ",\"blocks\":" + blobs.write(hourlyBlocks.blocks, "i32") + ",\"frames\":[";
    for (std::size_t f = 0; f < pass.maps.size(); ++f) hourlyMaps += (f ? "," : "") + blobs.write(pass.maps[f], "u8");
    hourlyMaps += "]}";
    pass = {};

    // 10-minute: exact or levelled series, and slope maps when they fit.
    const BlockGrid tenBlocks(std::max(plan.tenMinuteFactor, 1), kinds, grid.nrows, grid.ncols);
    pass = readFrames(tenMinute, run, exactCells, kinds, plan.tenMinuteFactor ? &tenBlocks : nullptr, scale, nullptr);
    if (plan.tenMinuteExact) {
        meta << ",\"tenMinute\":" << blobs.write(pass.exact, "f32") << ",\"tenMinuteExact\":true}";
    } else {
        std::vector<uint8_t> levels(pass.exact.size());
        for (std::size_t k = 0; k < levels.size(); ++k) levels[k] = scale.level(pass.exact[k]);
        meta << ",\"tenMinute\":" << blobs.write(levels, "u8") << ",\"tenMinuteExact\":false}";
    }
    std::string tenMaps = "null";
    if (plan.tenMinuteFactor) {
        tenMaps = "{\"factor\":" + std::to_string(plan.tenMinuteFactor) + ",\"blocks\":" + blobs.write(tenBlocks.blocks, "i32") + ",\"frames\":[";
        for (std::size_t f = 0; f < pass.maps.size(); ++f) tenMaps += (f ? "," : "") + blobs.write(pass.maps[f], "u8");
        tenMaps += "]}";
    }
    pass = {};
    meta << ",\"maps\":{\"hourly\":" << hourlyMaps << ",\"tenMinute\":" << tenMaps;

    // Event maps: the peak (levels), the hour it ends (1..hours, 0 none), the rainfall total.
    std::vector<uint8_t> peakLevels(cells);
    std::vector<int64_t> peakHour(cells, 0);
    for (std::size_t i = 0; i < cells; ++i) {
        peakLevels[i] = scale.level(peaks.discharge[i]);
        if (peaks.minutes[i] != kFillValue) peakHour[i] = static_cast<int64_t>(peaks.minutes[i] / 60.0f);
    }
    float rainTop = 0.0f;
    for (float v : run.rainTotals) rainTop = std::max(rainTop, v);
    std::vector<uint16_t> rainTotal(cells, 0);
    if (rainTop > 0.0f)
        for (std::size_t i = 0; i < cells; ++i)
            rainTotal[i] = static_cast<uint16_t>(std::lround(std::max(run.rainTotals[i], 0.0f) / rainTop * 65535.0f));
    meta << ",\"peak\":" << blobs.write(peakLevels, "u8") << ",\"peakHour\":" << blobs.writeNarrow(peakHour)
         << ",\"rainTotal\":" << blobs.write(rainTotal, "u16") << ",\"rainTotalMax\":" << jsonNumber(rainTop) << "}";

    meta << ",\"dams\":" << structuresJson(run, run.dams, run.damTables)
         << ",\"reservoirs\":" << structuresJson(run, run.reservoirs, run.reservoirTables)
         << ",\"gauges\":" << gaugesJson(grid, inputs.gauges);
    // No ensemble yet: the script draws its section only when this holds data.
    meta << ",\"ensemble\":null}";

    out << "<script type=\"application/json\" id=\"viewer-meta\">" << meta.str() << "</script>\n";
    out << kViewerPageTail;
    out.close();
    if (!out) throw InputError("Error: " + path + " cannot be written.\n");

    std::string note = "Viewer: hourly maps at " + blockNote(plan.hourlyFactor) + "; 10-minute maps " +
                       (plan.tenMinuteFactor ? "at " + blockNote(plan.tenMinuteFactor) : std::string("left out")) +
                       "; 10-minute series of channel cells " +
                       (plan.tenMinuteExact ? "exact" : "quantised") + ".\n";
    return note;
}
