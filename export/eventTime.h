#pragma once
// Calendar time of a flood event. The discharge files count minutes from the
// start of the run; a calendar start, when one is known, turns those minutes
// into dates for CF time coordinates and for axis labels.
//
// Dates are proleptic Gregorian and carry no time zone: they are written as
// given (CF readers take them as UTC).

#include <cstdint>
#include <optional>
#include <string>

struct DateTime {
    int32_t year = 0;
    int32_t month = 0;   // 1..12
    int32_t day = 0;     // 1..days in the month
    int32_t hour = 0;    // 0..23
    int32_t minute = 0;  // 0..59
    int32_t second = 0;  // 0..59
};

// The start of the event and where it came from.
struct EventStart {
    std::optional<DateTime> start;  // empty: only minutes since the start are known
    std::string source;             // for the console and the file's metadata
};

// Whether the six numbers form a real date and time (years 1..9999).
bool isValidDateTime(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second);

// Parses "YYYY-MM-DD", "YYYY-MM-DDTHH:MM" or "YYYY-MM-DDTHH:MM:SS"; a blank may
// stand for the T and '/' for the date's dashes. Anything else, or an
// impossible date, gives nothing.
std::optional<DateTime> parseDateTime(const std::string& text);

// The date of the first record of a text rainfall file: its first six integers
// as year, month, day, hour, minute, second, when they form a valid date and
// time. A missing file or any other first record gives nothing.
std::optional<DateTime> rainRecordDate(const std::string& rainTextPath);

// Chooses the start for the project in `projectDir`: `option` (from --start)
// when given; else, for binary rainfall (rainFormat 2), the start that
// prepareRainfall recorded in input/event.txt; for text rainfall (rainFormat
// 1), the first record of input/rain10min.dat; else none. Throws InputError
// when the option is not a valid date and time, or input/event.txt is malformed.
EventStart findEventStart(const std::string& option, int32_t rainFormat, const std::string& projectDir);

// "2024-09-01T06:30:00".
std::string isoText(const DateTime& t);

// CF time units: "minutes since 2024-09-01 00:00:00", or plain "minutes" (a
// duration from the start of the event) when no start is known.
std::string cfMinuteUnits(const EventStart& start);

// Minutes from `start` to `t` (negative before it), seconds included as fractions.
double minutesBetween(const DateTime& start, const DateTime& t);

// The date and time `minutes` (whole) after `start`.
DateTime addMinutes(const DateTime& start, int64_t minutes);
