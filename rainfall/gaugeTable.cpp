#include "gaugeTable.h"

#include "productTime.h"
#include "inputError.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace {

std::vector<std::string> splitCsv(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (char ch : line) {
        if (ch == '"') {
            quoted = !quoted;
        } else if ((ch == ',' || ch == ';' || ch == '\t') && !quoted) {
            fields.push_back(field);
            field.clear();
        } else {
            field += ch;
        }
    }
    fields.push_back(field);
    for (std::string& f : fields) {
        while (!f.empty() && std::isspace(static_cast<unsigned char>(f.back()))) f.pop_back();
        std::size_t start = 0;
        while (start < f.size() && std::isspace(static_cast<unsigned char>(f[start]))) ++start;
        f.erase(0, start);
    }
    return fields;
}

std::string lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

// Column of each of the five fields, by header name, else by position.
std::vector<std::size_t> columnsOf(const std::vector<std::string>& header) {
    const std::vector<std::vector<std::string>> names = {
        {"id", "gauge", "station", "gauge_id", "station_id", "name"},
        {"lon", "longitude", "x", "lon_deg"},
        {"lat", "latitude", "y", "lat_deg"},
        {"time", "date", "datetime", "date_time", "timestamp", "end", "end_time"},
        {"rain", "rainfall", "precipitation", "precip", "value", "mm", "rain_mm", "rainfall_mm"},
    };
    std::vector<std::size_t> columns;
    for (std::size_t k = 0; k < names.size(); ++k) {
        std::size_t found = k;
        for (std::size_t c = 0; c < header.size(); ++c) {
            if (std::find(names[k].begin(), names[k].end(), lower(header[c])) != names[k].end()) {
                found = c;
                break;
            }
        }
        columns.push_back(found);
    }
    return columns;
}

bool realOf(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

}  // namespace

std::vector<GaugeRecord> parseGaugeTable(const std::string& text, const std::string& path) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    std::vector<std::size_t> columns;
    std::vector<GaugeRecord> records;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        const std::vector<std::string> fields = splitCsv(line);
        if (columns.empty()) {
            columns = columnsOf(fields);
            continue;
        }
        auto bad = [&](const std::string& what) {
            return InputError("Error: " + path + " line " + std::to_string(number) + ": " + what + "\n");
        };
        if (fields.size() < 5) throw bad("a record needs 5 fields (id, longitude, latitude, time, rainfall).");
        GaugeRecord r;
        r.id = fields[columns[0]];
        if (!realOf(fields[columns[1]], r.lon) || !realOf(fields[columns[2]], r.lat) || std::fabs(r.lat) > 90.0 ||
            !std::isfinite(r.lon) || std::fabs(r.lon) > 360.0) {
            throw bad("the longitude and latitude must be degrees (\"" + fields[columns[1]] + "\", \"" +
                      fields[columns[2]] + "\").");
        }
        if (!parseIsoTime(fields[columns[3]], r.time)) {
            throw bad("\"" + fields[columns[3]] + "\" is not a time (YYYY-MM-DD HH:MM).");
        }
        if (!realOf(fields[columns[4]], r.rain) || !std::isfinite(r.rain)) {
            throw bad("the rainfall \"" + fields[columns[4]] + "\" is not a number.");
        }
        if (r.rain < 0.0) throw bad("the rainfall " + fields[columns[4]] + " is negative.");
        records.push_back(std::move(r));
    }
    if (records.empty()) throw InputError("Error: " + path + " holds no gauge records below its header.\n");
    return records;
}

std::vector<float> interpolateGauges(const std::vector<const GaugeRecord*>& gauges, const RainGridSpec& grid,
                                     double power, bool nearest, double toMillimetresPerHour) {
    const double pi = std::acos(-1.0);
    std::vector<float> frame(static_cast<std::size_t>(grid.rows) * static_cast<std::size_t>(grid.cols));
    for (int32_t i = 0; i < grid.rows; ++i) {
        const double lat = grid.lat0 + i * grid.dy;
        const double shrink = std::cos(lat * pi / 180.0);
        for (int32_t j = 0; j < grid.cols; ++j) {
            const double lon = grid.lon0 + j * grid.dx;
            double weights = 0.0, sum = 0.0, best = HUGE_VAL, value = 0.0;
            bool onGauge = false;
            for (const GaugeRecord* g : gauges) {
                const double ex = (g->lon - lon) * shrink, ey = g->lat - lat;
                const double d = std::sqrt(ex * ex + ey * ey);
                if (nearest) {
                    if (d < best) best = d, value = g->rain;
                } else if (d == 0.0) {
                    value = g->rain;
                    onGauge = true;
                    break;
                } else {
                    const double w = 1.0 / std::pow(d, power);
                    weights += w;
                    sum += w * g->rain;
                }
            }
            if (!nearest && !onGauge) value = sum / weights;
            frame[static_cast<std::size_t>(i) * static_cast<std::size_t>(grid.cols) + j] =
                static_cast<float>(value * toMillimetresPerHour);
        }
    }
    return frame;
}
