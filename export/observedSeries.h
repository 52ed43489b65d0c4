#pragma once
// Observed discharge from a gauge, as CSV: one "time,discharge" line per
// observation. The time is minutes from the start of the event, or a date and
// time (2024-09-01T06:00, 2024-09-01 06:00:00, 2024/09/01 06:00) when the start
// of the event is known. A first line that is not data is a header; lines
// starting with '#' and blank lines are skipped; ';' or a tab may separate the
// fields. An empty, "NA" or "NaN" discharge, or a negative one (as -9999), is a
// gap and is left out.

#include "eventTime.h"
#include "skillScores.h"

#include <cstddef>
#include <string>

struct ObservedSeries {
    TimeSeries series;    // sorted by time
    std::size_t gaps = 0;  // lines left out as missing values
};

// Throws InputError naming the file (and the line) when it cannot be opened,
// holds a time or value that cannot be read, holds dates while the start of
// the event is unknown, or holds no value at all. `howToGiveStart` ends the
// message about an unknown start: how the caller's user gives it.
ObservedSeries readObservedCsv(const std::string& path, const EventStart& start,
                               const std::string& howToGiveStart = "give it with --start");
