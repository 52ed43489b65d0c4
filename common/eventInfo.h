#pragma once
// The calendar of a project's rainfall, kept beside it: prepareRainfall
// records the event's start, the interval, the source and the variable in
// input/event.txt whenever it writes the rainfall, so that later programs
// (exportResults, plotHydrograph) date the results without being told again.
//
// The file is text, one "key = value" per line; '#' starts a comment line and
// blank lines are skipped:
//     # Written by prepareRainfall: the calendar of this project's rainfall.
//     start = 2018-09-14T00:00:00Z
//     interval_minutes = 60
//     source = /data/stage4.nc
//     variable = Total_precipitation_surface_1_Hour_Accumulation
// `start` (UTC, whole seconds) is absent when the rainfall has no calendar
// time; `source` is repeated for each file of a source given as several files,
// in time order; `variable` is empty for a gauge table. Keys this version does
// not know are skipped, so later versions can add some.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct EventInfo {
    std::optional<int64_t> start;      // start of the first interval, seconds since 1970-01-01 UTC
    int32_t intervalMinutes = 0;       // 0: not recorded
    std::vector<std::string> sources;  // the files the rainfall was made from
    std::string variable;
};

// "input/event.txt" of the project directory `projectDir` ("." or "": the
// working directory, giving the relative path itself).
std::string eventInfoPath(const std::string& projectDir);

// The file's text for `info`.
std::string eventInfoText(const EventInfo& info);

// The record of the project, or nothing when it has none. Throws InputError
// with one line naming the file and the line for a line that is not
// "key = value", a start that is not a UTC time like 2018-09-14T00:00:00Z, an
// interval that is not a whole number of minutes dividing 60, or a key given
// twice (other than source).
std::optional<EventInfo> readEventInfo(const std::string& projectDir);

// "2018-09-14T00:00:00Z" for `seconds` since 1970-01-01 UTC, and back: the
// parse takes exactly that form (a real date, the Z included).
std::string utcText(int64_t seconds);
std::optional<int64_t> parseUtcText(const std::string& text);
