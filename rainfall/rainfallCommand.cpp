#include "rainfallCommand.h"

#include "productTime.h"
#include "gaugeTable.h"
#include "commandLine.h"
#include "eventInfo.h"
#include "inputError.h"
#include "rainProduct.h"
#include "rainRegrid.h"
#include "topoFiles.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>

namespace fs = std::filesystem;

std::string rainfallUsage() {
    return "Usage: prepareRainfall [options] SOURCE...\n"
           "       prepareRainfall [options] --gauges FILE.csv\n"
           "\n"
           "Writes a project's rainfall: DIR/input/rain.bin (float32 frames in mm/h, the\n"
           "southernmost row first) and section 2 of DIR/param-hsx-event-ver400.dat, which\n"
           "must already hold the study area (section 1) and the duration (section 3).\n"
           "Every other number and the layout of the parameter file are kept. The event's\n"
           "start (UTC), interval, source and variable go to DIR/input/event.txt, where\n"
           "exportResults and plotHydrograph find the start.\n"
           "\n"
           "SOURCE is one file with a time axis (CF-NetCDF, GRIB2, or anything GDAL reads\n"
           "with times), or rasters without one (GeoTIFF and the like; every band is one\n"
           "interval), given in time order with --interval. The precipitation variable is\n"
           "the only one, or the one whose standard_name is a precipitation amount, flux or\n"
           "rate. Units: mm/h and other rates, mm, kg m-2 or m per interval, kg m-2 s-1, in\n"
           "any UDUNITS spelling. An accumulation or period mean is stamped at the end of its\n"
           "interval, an instantaneous rate at its start, unless time bounds say otherwise.\n"
           "\n"
           "A regular longitude/latitude grid is cut without resampling; a projected or\n"
           "curvilinear grid is warped to longitude/latitude cells of about its resolution,\n"
           "keeping the area mean. The cut covers the study area plus one rainfall cell\n"
           "all round. The event window is the parameter file's days from --start.\n"
           "\n"
           "A product of several members (along a dimension whose coordinate has the\n"
           "standard_name realization, or one named realization, member, ensemble or\n"
           "number) needs --ensemble or --member K.\n"
           "\n"
           "Options:\n"
           "  -o, --output DIR       project directory (default: the current directory)\n"
           "  --variable NAME        the precipitation variable of SOURCE\n"
           "  --units UNITS          units of the values, replacing missing or wrong metadata\n"
           "  --start TIME           start of the event, YYYY-MM-DDTHH:MM in UTC unless a zone\n"
           "                         follows (+09:00); default: the start of the source's\n"
           "                         first interval\n"
           "  --interval MINUTES     interval of rasters without times (a divisor of 60)\n"
           "  --gauges FILE.csv      gauge records: id, longitude, latitude, time (end of the\n"
           "                         interval), rainfall in mm per interval; a header line first\n"
           "  --idw-power P          inverse-distance weighting power (default: 2)\n"
           "  --nearest              take the nearest gauge instead\n"
           "  --spacing DEGREES      spacing of the gauge grid (default: about 1/50 of the\n"
           "                         study area's longer side, at least 36 arc-seconds)\n"
           "  --ensemble             write every member of the product, in its order, as\n"
           "                         DIR/input/ensemble/rain.MMM.bin (MMM from 000),\n"
           "                         replacing an earlier DIR/input/ensemble/ whole\n"
           "  --member K             write member K (from 0) as DIR/input/rain.bin\n"
           "  -h, --help             show this text\n"
           "  --version              show the version\n";
}


RainfallOptions parseRainfallOptions(const std::vector<std::string>& args) {
    RainfallOptions o;
    CommandLine line(args, "prepareRainfall");
    while (line.advance()) {
        const std::string& arg = line.argument;
        if (line.takeInfoOption(o.help, o.version)) continue;
        if (arg == "-o" || arg == "--output") {
            o.projectDir = line.value();
        } else if (arg == "--variable") {
            o.variable = line.value();
        } else if (arg == "--units") {
            o.units = line.value();
        } else if (arg == "--start") {
            const std::string text = line.value();
            int64_t t = 0;
            if (!parseIsoTime(text, t)) throw line.error("--start needs a time YYYY-MM-DDTHH:MM, not \"" + text + "\".");
            o.start = t;
        } else if (arg == "--interval") {
            const std::string text = line.value();
            const double minutes = line.positiveReal(text);
            if (minutes != std::floor(minutes) || minutes > 60 || 60 % static_cast<int>(minutes) != 0) {
                throw line.error("--interval must be a whole number of minutes that divides 60, not \"" + text + "\".");
            }
            o.intervalMinutes = static_cast<int32_t>(minutes);
        } else if (arg == "--gauges") {
            o.gauges = line.value();
        } else if (arg == "--idw-power") {
            o.idwPower = line.positiveReal(line.value());
        } else if (arg == "--nearest") {
            o.nearest = true;
        } else if (arg == "--spacing") {
            o.spacing = line.positiveReal(line.value());
        } else if (arg == "--ensemble") {
            o.ensemble = true;
        } else if (arg == "--member") {
            const std::string text = line.value();
            int64_t k = -1;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), k);
            if (ec != std::errc() || end != text.data() + text.size() || k < 0) {
                throw line.error("--member needs a member number from 0, not \"" + text + "\".");
            }
            o.member = k;
        } else if (line.isOption()) {
            throw line.error("unknown option " + arg + ".");
        } else {
            o.sources.push_back(arg);
        }
    }
    if (o.help || o.version) return o;
    if (o.gauges.empty() && o.sources.empty()) throw line.error("no rainfall source given.");
    if (!o.gauges.empty() && !o.sources.empty()) throw line.error("give either --gauges or gridded sources, not both.");
    if (o.ensemble && o.member) throw line.error("give either --ensemble or --member, not both.");
    if ((o.ensemble || o.member) && !o.gauges.empty()) {
        throw line.error((o.ensemble ? "--ensemble" : "--member") + std::string(" needs a gridded product with members, not --gauges."));
    }
    if (o.sources.size() > 1 && o.intervalMinutes == 0) {
        throw line.error("several sources are single-time rasters: give their interval with --interval MINUTES.");
    }
    return o;
}

namespace {

int32_t framesNeeded(const ProjectArea& area, int32_t intervalMinutes) {
    return area.days * 24 * (60 / intervalMinutes);
}

// Counts missing and negative values of one frame's source part; throws naming the time.
void checkPart(const std::vector<double>& part, const std::string& source, const std::string& when) {
    std::size_t missing = 0, negative = 0;
    double lowest = 0.0;
    for (double v : part) {
        if (std::isnan(v)) {
            ++missing;
        } else if (v < 0.0) {
            ++negative;
            lowest = std::min(lowest, v);
        }
    }
    if (missing > 0) {
        throw InputError("Error: " + source + ": the interval " + when + " has " + std::to_string(missing) +
                         " missing values (fill value or NaN) inside the cut.\n");
    }
    if (negative > 0) {
        std::ostringstream low;
        low << lowest;
        throw InputError("Error: " + source + ": the interval " + when + " has " + std::to_string(negative) +
                         " negative values inside the cut (down to " + low.str() + " mm/h).\n");
    }
}

std::string intervalText(int64_t start, int64_t seconds) {
    return "from " + formatIsoTime(start) + " to " + formatIsoTime(start + seconds);
}

// The rainfall of an event, planned before any frame is written: its grid,
// window and summary lines, and the source to make each member's frames from
// (frames of grid.rows x grid.cols intensities in mm/h, rows south first, the
// layout of "input/rain.bin").
struct RainPlan {
    RainGridSpec grid;
    int32_t intervalMinutes = 0;
    bool timed = false;
    int64_t start = 0;  // timed: start of the first interval, seconds since 1970 UTC
    std::vector<std::string> report;  // summary lines on the source, the variable and the grid
    EventInfo event;                  // what input/event.txt records
    // A gridded product: the part read and its window.
    std::optional<RainProduct> product;
    RainCut cut;
    std::size_t first = 0;  // the product's frame at the start of the event
    int32_t needed = 0;     // frames of the event
    std::vector<std::size_t> members = {0};  // the members to write, in the product's order
    // A gauge table: the frames themselves.
    std::vector<float> frames;
};

// The paths as the user gave them, made absolute, for the record of the event.
std::vector<std::string> absolutePaths(const std::vector<std::string>& paths) {
    std::vector<std::string> result;
    for (const std::string& path : paths) {
        std::error_code ec;
        const fs::path full = fs::absolute(path, ec);
        result.push_back(ec ? path : full.lexically_normal().string());
    }
    return result;
}

// The members of `p` to write, as the options choose them; throws when the
// product has members and no option chooses, or an option asks for members
// the product does not have.
std::vector<std::size_t> chooseMembers(const RainProduct& p, const RainfallOptions& options) {
    if (p.memberDimension.empty()) {
        if (!options.ensemble && !options.member) return {0};
        throw InputError("Error: " + p.source + " has no member dimension (a coordinate with standard_name "
                         "realization, or a dimension named realization, member, ensemble or number), so " +
                         (options.ensemble ? "--ensemble" : "--member") + " cannot be used.\n");
    }
    const std::string along = " along its dimension " + p.memberDimension;
    if (options.ensemble) {
        std::vector<std::size_t> all(p.members);
        for (std::size_t m = 0; m < all.size(); ++m) all[m] = m;
        if (all.empty()) throw InputError("Error: " + p.source + " has no members" + along + ".\n");
        return all;
    }
    if (options.member) {
        if (static_cast<uint64_t>(*options.member) >= p.members) {
            throw InputError("Error: --member " + std::to_string(*options.member) + ": " + p.source + " has " +
                             std::to_string(p.members) + " members" + along + ", numbered from 0.\n");
        }
        return {static_cast<std::size_t>(*options.member)};
    }
    if (p.members > 1) {
        throw InputError("Error: " + p.source + " has " + std::to_string(p.members) + " members" + along +
                         "; give --ensemble to write them all or --member K (from 0) for one.\n");
    }
    return {0};
}

RainPlan fromProduct(const RainfallOptions& options, const ProjectArea& area) {
    const RainProduct p = openRainProduct(options.sources, {options.variable, options.units, options.intervalMinutes});
    RainPlan s;
    s.members = chooseMembers(p, options);
    s.intervalMinutes = static_cast<int32_t>(p.intervalSeconds / 60);
    const int32_t needed = framesNeeded(area, s.intervalMinutes);
    std::size_t first = 0;
    if (p.timed) {
        const int64_t start = options.start.value_or(p.starts.front());
        const int64_t last = p.starts.back();
        const int64_t end = start + static_cast<int64_t>(needed) * p.intervalSeconds;
        if ((start - p.starts.front()) % p.intervalSeconds != 0) {
            throw InputError("Error: --start " + formatIsoTime(start) + " is not the start of an interval of " +
                             p.source + " (they start at " + formatIsoTime(p.starts.front()) + " and every " +
                             std::to_string(s.intervalMinutes) + " minutes).\n");
        }
        if (start < p.starts.front() || start > last) {
            throw InputError("Error: " + p.source + " covers " + formatIsoTime(p.starts.front()) + " to " +
                             formatIsoTime(last + p.intervalSeconds) + "; the event starting at " +
                             formatIsoTime(start) + " is outside it.\n");
        }
        if (end > last + p.intervalSeconds) {
            throw InputError("Error: " + p.source + " ends at " + formatIsoTime(last + p.intervalSeconds) +
                             "; the event of " + std::to_string(area.days) + " days " +
                             intervalText(start, end - start) + " needs " +
                             std::to_string((end - last - p.intervalSeconds) / p.intervalSeconds) +
                             " more intervals.\n");
        }
        first = static_cast<std::size_t>((start - p.starts.front()) / p.intervalSeconds);
        s.timed = true;
        s.start = start;
    } else {
        if (p.frameCount < static_cast<std::size_t>(needed)) {
            throw InputError("Error: " + p.source + ": " + std::to_string(p.frameCount) + " frames; the event of " +
                             std::to_string(area.days) + " days in intervals of " + std::to_string(s.intervalMinutes) +
                             " minutes needs " + std::to_string(needed) + " (" +
                             std::to_string(needed - static_cast<int32_t>(p.frameCount)) + " missing).\n");
        }
        s.timed = options.start.has_value();
        if (s.timed) s.start = *options.start;
    }
    s.cut = planCut(p.grid, area, p.source);
    const RainCut& cut = s.cut;
    s.grid = cut.out;
    s.first = first;
    s.needed = needed;

    std::ostringstream line;
    line << "Source: " << p.source;
    s.report.push_back(line.str());
    line.str("");
    line << "Variable: " << p.variable << ", units \"" << p.unitsText << "\" (" << (p.isRate ? "a rate" : "an amount per interval")
         << (options.units.empty() ? "" : ", from --units") << "), x " << p.toMillimetresPerHour << " to mm/h";
    if (!p.cellMethods.empty()) line << ", cell_methods \"" << p.cellMethods << "\"";
    s.report.push_back(line.str());
    line.str("");
    line << "Window: " << needed << " intervals of " << s.intervalMinutes << " minutes";
    if (s.timed) line << ", " << intervalText(s.start, int64_t{needed} * p.intervalSeconds) << " UTC";
    line << " (source frames " << first + 1 << " to " << first + static_cast<std::size_t>(needed) << " of "
         << p.frameCount << ")";
    s.report.push_back(line.str());
    line.str("");
    if (options.ensemble || options.member) {
        line << (options.ensemble ? "Members: all " : "Member: " + std::to_string(s.members.front()) + " of ")
             << p.members << " along " << p.memberDimension;
        s.report.push_back(line.str());
        line.str("");
    }
    line << "Grid: " << (cut.warped ? "warped from " : "cut from ") << p.grid.crsName
         << (cut.warped ? " to longitude/latitude, area-weighted average" : " without resampling") << " (source "
         << p.grid.nx << " x " << p.grid.ny << ")";
    s.report.push_back(line.str());
    s.event.sources = absolutePaths(options.sources);
    s.event.variable = p.variable;
    s.product = p;
    return s;
}

// The frames of `member` of the planned product; throws InputError, naming
// the interval, for a missing or negative value inside the cut.
std::vector<float> productFrames(const RainPlan& s, std::size_t member) {
    const RainProduct& p = *s.product;
    const RainCut& cut = s.cut;
    std::vector<float> frames;
    frames.reserve(static_cast<std::size_t>(s.needed) * static_cast<std::size_t>(cut.out.rows) *
                   static_cast<std::size_t>(cut.out.cols));
    for (int32_t k = 0; k < s.needed; ++k) {
        const std::vector<double> part =
            readFrame(p, member, s.first + static_cast<std::size_t>(k), cut.row0, cut.rows, cut.col0, cut.cols);
        std::string when = s.timed ? intervalText(s.start + int64_t{k} * p.intervalSeconds, p.intervalSeconds)
                                   : "of frame " + std::to_string(k + 1);
        if (!p.memberDimension.empty()) when += " of member " + std::to_string(member);
        checkPart(part, p.source, when);
        const std::vector<float> frame = cutFrame(cut, part);
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    return frames;
}

RainPlan fromGauges(const RainfallOptions& options, const ProjectArea& area) {
    std::ifstream in(options.gauges, std::ios::binary);
    if (!in) throw InputError("Error: " + options.gauges + " cannot be opened.\n");
    std::ostringstream text;
    text << in.rdbuf();
    const std::vector<GaugeRecord> records = parseGaugeTable(text.str(), options.gauges);
    std::map<int64_t, std::vector<const GaugeRecord*>> byTime;
    for (const GaugeRecord& r : records) byTime[r.time].push_back(&r);
    int64_t step = int64_t{options.intervalMinutes} * 60;
    if (step == 0) {
        for (auto it = std::next(byTime.begin()); it != byTime.end(); ++it) {
            const int64_t d = it->first - std::prev(it)->first;
            if (step == 0 || d < step) step = d;
        }
    }
    if (step == 0) throw InputError("Error: " + options.gauges + " holds one time only; give --interval MINUTES.\n");
    for (const auto& [t, gauges] : byTime) {
        if ((t - byTime.begin()->first) % step != 0) {
            throw InputError("Error: " + options.gauges + ": the record times are not regular (" + formatIsoTime(t) +
                             " is off the " + std::to_string(step / 60) + "-minute steps from " +
                             formatIsoTime(byTime.begin()->first) + ").\n");
        }
        std::map<std::string, int> seen;
        for (const GaugeRecord* g : gauges)
            if (seen[g->id]++) {
                throw InputError("Error: " + options.gauges + ": gauge " + g->id + " has two records at " +
                                 formatIsoTime(t) + ".\n");
            }
    }
    if (step % 60 != 0 || step > 3600 || 3600 % step != 0) {
        throw InputError("Error: " + options.gauges + ": the records are " + std::to_string(step) +
                         " s apart; runoffSim needs whole minutes that divide 60 minutes, so coarser records "
                         "cannot be used.\n");
    }
    RainPlan s;
    s.intervalMinutes = static_cast<int32_t>(step / 60);
    s.timed = true;
    s.event.sources = absolutePaths({options.gauges});
    // Records are stamped at the end of their interval.
    s.start = options.start.value_or(byTime.begin()->first - step);
    const double side = std::max(area.east() - area.west(), area.north() - area.south());
    const double spacing = options.spacing > 0.0 ? options.spacing : std::max(36.0, std::round(side * 3600.0 / 50.0)) / 3600.0;
    s.grid.dx = s.grid.dy = spacing;
    s.grid.cols = static_cast<int32_t>(std::ceil((area.east() - area.west()) / spacing - 1e-9)) + 2;
    s.grid.rows = static_cast<int32_t>(std::ceil((area.north() - area.south()) / spacing - 1e-9)) + 2;
    s.grid.lon0 = area.west() - 0.5 * spacing;
    s.grid.lat0 = area.south() - 0.5 * spacing;
    const int32_t needed = framesNeeded(area, s.intervalMinutes);
    for (int32_t k = 0; k < needed; ++k) {
        const int64_t end = s.start + (int64_t{k} + 1) * step;
        const auto found = byTime.find(end);
        if (found == byTime.end()) {
            throw InputError("Error: " + options.gauges + ": no gauge has a record for the interval " +
                             intervalText(end - step, step) + "; the event needs " + std::to_string(needed) +
                             " intervals " + intervalText(s.start, int64_t{needed} * step) + ".\n");
        }
        const std::vector<float> frame =
            interpolateGauges(found->second, s.grid, options.idwPower, options.nearest, 60.0 / s.intervalMinutes);
        s.frames.insert(s.frames.end(), frame.begin(), frame.end());
    }
    std::map<std::string, int> ids;
    for (const GaugeRecord& r : records) ids[r.id]++;
    std::ostringstream line;
    line << "Source: " << options.gauges << ", " << ids.size() << " gauges, " << records.size() << " records";
    s.report.push_back(line.str());
    line.str("");
    line << "Variable: rainfall in mm per interval, x " << 60.0 / s.intervalMinutes << " to mm/h";
    s.report.push_back(line.str());
    line.str("");
    line << "Window: " << needed << " intervals of " << s.intervalMinutes << " minutes, "
         << intervalText(s.start, int64_t{needed} * step) << " UTC";
    s.report.push_back(line.str());
    line.str("");
    if (options.nearest) {
        line << "Grid: the nearest gauge at every point";
    } else {
        line << "Grid: inverse-distance weighting, power " << options.idwPower;
    }
    s.report.push_back(line.str());
    return s;
}

// The study cells that the summary averages over: the selected basins when
// topoData/riverNum.bin fits the grid, else the whole study area. File order
// (south row first).
std::vector<bool> basinCells(const fs::path& project, const ProjectArea& area, bool& fromBasins) {
    const std::size_t count = static_cast<std::size_t>(area.ncols) * static_cast<std::size_t>(area.nrows);
    std::vector<bool> cells(count, true);
    std::ifstream in(project / "topoData" / "riverNum.bin", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fromBasins = bytes.size() == count * 4;
    if (!fromBasins) return cells;
    bool any = false;
    for (std::size_t k = 0; k < count; ++k) {
        int32_t v = 0;
        std::memcpy(&v, bytes.data() + 4 * k, 4);
        cells[k] = v >= 0;
        any = any || cells[k];
    }
    if (!any) {
        fromBasins = false;
        cells.assign(count, true);
    }
    return cells;
}

// The lines that describe the plan: the source, the window and the grid.
std::string summaryHead(const RainPlan& s) {
    std::ostringstream text;
    for (const std::string& line : s.report) text << line << '\n';
    const RainGridSpec& g = s.grid;
    text.precision(15);
    text << "Rainfall grid: " << g.cols << " columns x " << g.rows << " rows, spacing " << g.dx << " x " << g.dy
         << " degrees, south-west point at " << g.lon0 << ", " << g.lat0 << '\n';
    return text.str();
}

// The event total over `cells` (the study cells, file order) and the largest
// intensity of `frames`, each line after `prefix`.
std::string summaryTotals(const RainPlan& s, const std::vector<float>& frames, const ProjectArea& area,
                          const std::vector<bool>& cells, bool fromBasins, const std::string& prefix) {
    const RainGridSpec& g = s.grid;
    const std::size_t points = static_cast<std::size_t>(g.rows) * static_cast<std::size_t>(g.cols);
    std::vector<double> totals(points, 0.0);
    float largest = 0.0f;
    std::size_t at = 0;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        totals[k % points] += frames[k] * (s.intervalMinutes / 60.0);  // mm/h over the interval: mm
        if (frames[k] > largest) largest = frames[k], at = k;
    }
    const double sec = area.scale / 3600.0;
    double sum = 0.0;
    std::size_t counted = 0;
    for (int32_t rs = 0; rs < area.nrows; ++rs) {  // rows from the south
        for (int32_t c = 0; c < area.ncols; ++c) {
            if (!cells[static_cast<std::size_t>(rs) * static_cast<std::size_t>(area.ncols) + c]) continue;
            const double lat = area.yllcorner + (rs + 0.5) * sec, lon = area.xllcorner + (c + 0.5) * sec;
            const long i = std::clamp<long>(std::lround((lat - g.lat0) / g.dy), 0, g.rows - 1);
            const long j = std::clamp<long>(std::lround((lon - g.lon0) / g.dx), 0, g.cols - 1);
            sum += totals[static_cast<std::size_t>(i) * static_cast<std::size_t>(g.cols) + static_cast<std::size_t>(j)];
            ++counted;
        }
    }
    std::ostringstream text;
    text.precision(4);
    text << std::fixed << prefix << "Event total, " << (fromBasins ? "basin" : "study-area") << " mean: "
         << sum / static_cast<double>(std::max<std::size_t>(counted, 1)) << " mm\n";
    const std::size_t frame = at / points, point = at % points;
    text << prefix << "Largest intensity: " << largest << " mm/h";
    if (largest > 0.0f) {
        text << " at column " << point % static_cast<std::size_t>(g.cols) + 1 << ", row "
             << point / static_cast<std::size_t>(g.cols) + 1;
        if (s.timed) {
            const int64_t start = s.start + static_cast<int64_t>(frame) * s.intervalMinutes * 60;
            text << ", " << intervalText(start, s.intervalMinutes * 60);
        } else {
            text << ", frame " << frame + 1;
        }
    }
    text << " (" << frames.size() / points << " frames)\n";
    return text.str();
}

std::string frameBytes(const std::vector<float>& frames) {
    std::string bytes(frames.size() * 4, '\0');
    for (std::size_t k = 0; k < frames.size(); ++k) {
        uint32_t bits = 0;
        std::memcpy(&bits, &frames[k], 4);
        for (int b = 0; b < 4; ++b) bytes[4 * k + b] = static_cast<char>((bits >> (8 * b)) & 0xFFu);  // little-endian
    }
    return bytes;
}

// "rain.007.bin": the file of member 7 in input/ensemble/.
std::string memberFileName(std::size_t member) {
    char name[32];
    std::snprintf(name, sizeof name, "rain.%03zu.bin", member);
    return name;
}

// Renames `part` to `path`; throws naming `path` and the system's reason.
void renameOver(const fs::path& part, const fs::path& path) {
    std::error_code ec;
    fs::rename(part, path, ec);
    if (ec) throw InputError("Error: " + path.string() + " cannot be replaced: " + ec.message() + ".\n");
}

// Puts the finished directory `part` in the place of `dir`, which may exist:
// the old one is moved aside first and removed once the new one is in place.
void swapDirectory(const fs::path& part, const fs::path& dir) {
    const fs::path old = fs::path(dir.string() + ".old");
    std::error_code ec;
    fs::remove_all(old, ec);
    const bool hadOld = fs::exists(dir, ec);
    if (hadOld) renameOver(dir, old);
    fs::rename(part, dir, ec);
    if (ec) {
        const std::string reason = ec.message();
        if (hadOld) fs::rename(old, dir, ec);
        throw InputError("Error: " + dir.string() + " cannot be replaced: " + reason + ".\n");
    }
    fs::remove_all(old, ec);
}

}  // namespace

int runPrepareRainfall(const RainfallOptions& options, std::ostream& out) {
    const fs::path project(options.projectDir);
    const fs::path paramPath = project / "param-hsx-event-ver400.dat";
    std::ifstream in(paramPath, std::ios::binary);
    if (!in) {
        throw InputError("Error: " + paramPath.string() + " cannot be opened; run prepareTopography -p -o " +
                         options.projectDir + " first.\n");
    }
    std::ostringstream text;
    text << in.rdbuf();
    const std::string paramText = text.str();
    const ProjectArea area = readProjectArea(paramText, paramPath.string());

    RainPlan plan = options.gauges.empty() ? fromProduct(options, area) : fromGauges(options, area);
    if (area.stepSeconds > 0 && (plan.intervalMinutes * 60) % area.stepSeconds != 0) {
        throw InputError("Error: the time step of " + std::to_string(area.stepSeconds) + " s in " + paramPath.string() +
                         " does not divide the rainfall interval of " + std::to_string(plan.intervalMinutes) +
                         " minutes; change the time step (value 15) first.\n");
    }
    plan.event.intervalMinutes = plan.intervalMinutes;
    if (plan.timed) plan.event.start = plan.start;
    bool fromBasins = false;
    const std::vector<bool> cells = basinCells(project, area, fromBasins);
    std::string summary = summaryHead(plan);

    // Every file complete under a temporary name before any replaces its
    // original; a failure removes them all and leaves the project as it was.
    const fs::path input = project / "input";
    const fs::path rainPath = input / "rain.bin", ensembleDir = input / "ensemble";
    const fs::path eventPath = input / "event.txt";
    const fs::path rainPart = options.ensemble ? temporaryPath(ensembleDir) : temporaryPath(rainPath);
    const fs::path paramPart = temporaryPath(paramPath), eventPart = temporaryPath(eventPath);
    std::error_code ec;
    const bool hadInput = fs::is_directory(input, ec);
    createDirectory(input);
    try {
        if (options.ensemble) {
            fs::remove_all(rainPart, ec);
            createDirectory(rainPart);
            for (std::size_t m : plan.members) {
                const std::vector<float> frames = productFrames(plan, m);
                const std::string name = memberFileName(m);
                summary += summaryTotals(plan, frames, area, cells, fromBasins,
                                         "Member " + name.substr(5, name.size() - 9) + ": ");
                writeWhole(rainPart / name, frameBytes(frames));
            }
        } else {
            const std::vector<float> frames = plan.product ? productFrames(plan, plan.members.front()) : plan.frames;
            summary += summaryTotals(plan, frames, area, cells, fromBasins, "");
            writeWhole(rainPart, frameBytes(frames));
        }
        writeWhole(paramPart, withRainSection(paramText, plan.grid, plan.intervalMinutes));
        writeWhole(eventPart, eventInfoText(plan.event));
    } catch (...) {
        for (const fs::path& part : {rainPart, paramPart, eventPart}) fs::remove_all(part, ec);
        if (!hadInput) fs::remove(input, ec);
        throw;
    }
    out << summary;
    try {
        if (options.ensemble) {
            out << "Write " << ensembleDir.string() << "/ (" << plan.members.size() << " members, "
                << memberFileName(0) << " to " << memberFileName(plan.members.size() - 1) << ")\n";
            swapDirectory(rainPart, ensembleDir);
        } else {
            out << "Write " << rainPath.string() << '\n';
            renameOver(rainPart, rainPath);
        }
        out << "Write " << paramPath.string() << " (section 2: binary rainfall, " << plan.intervalMinutes
            << "-minute interval, this grid)\n";
        renameOver(paramPart, paramPath);
        out << "Write " << eventPath.string() << '\n';
        renameOver(eventPart, eventPath);
    } catch (...) {
        for (const fs::path& part : {rainPart, paramPart, eventPart}) fs::remove_all(part, ec);
        throw;
    }
    return 0;
}
