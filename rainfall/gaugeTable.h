#pragma once
// Rain gauge records and their interpolation onto a rainfall grid.
//
// The table is CSV with a header line and one record per gauge and interval:
// gauge id, longitude, latitude (degrees), time (ISO, the end of the
// interval) and rainfall in mm for the interval. Columns are found by their
// header names (id/gauge/station, lon/longitude, lat/latitude, time/date,
// rain/rainfall/precipitation/value); with other names they are taken in
// that order.

#include "paramSection.h"

#include <cstdint>
#include <string>
#include <vector>

struct GaugeRecord {
    std::string id;
    double lon = 0.0;
    double lat = 0.0;
    int64_t time = 0;  // end of the interval, seconds since 1970 UTC
    double rain = 0.0; // mm in the interval
};

// Parses the table; `path` names it in messages. Throws InputError on a
// malformed line (naming its number), a rainfall that is negative or not a
// number, or a table without records.
std::vector<GaugeRecord> parseGaugeTable(const std::string& text, const std::string& path);

// One interpolated frame, rows south first: at every grid point the
// inverse-distance weighted mean of the gauges (weights 1 / d^power), or the
// value of the nearest gauge (the first listed among equally near ones).
// Distances are in degrees with the longitude difference shrunk by the cosine
// of the point's latitude; a gauge on the point gives its own value.
std::vector<float> interpolateGauges(const std::vector<const GaugeRecord*>& gauges, const RainGridSpec& grid,
                                     double power, bool nearest, double toMillimetresPerHour);
