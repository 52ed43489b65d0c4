#pragma once
// Times of a rainfall product: whole seconds since 1970-01-01 00:00:00 UTC on
// the proleptic Gregorian calendar, read from ISO dates and from CF time
// units ("minutes since 2020-09-01 00:00:00").

#include <cstdint>
#include <string>

// Parses "YYYY-MM-DD", optionally followed by "T" or a blank and "HH:MM",
// "HH:MM:SS" or "HH:MM:SS.fff", and optionally a zone "Z", "UTC" or "+HH:MM".
// Returns false when the text is not such a time.
bool parseIsoTime(const std::string& text, int64_t& seconds);

// "YYYY-MM-DD HH:MM" (with ":SS" when the seconds are not zero), UTC.
std::string formatIsoTime(int64_t seconds);

// A CF time axis: value v means epoch + v x secondsPerUnit.
struct TimeUnits {
    double secondsPerUnit = 0.0;
    int64_t epoch = 0;
};

// Parses "<unit> since <ISO time>" (unit seconds, minutes, hours or days, in
// any of the usual spellings), and the GRIB form "sec UTC" (seconds since
// 1970). Returns false otherwise.
bool parseTimeUnits(const std::string& text, TimeUnits& units);
