#include "eventTime.h"

#include "calendar.h"
#include "eventInfo.h"
#include "inputError.h"
#include "runResults.h"

#include <cstdio>
#include <fstream>

namespace {

void civilFromDays(int64_t z, DateTime& t) {
    int64_t y = 0, m = 0, d = 0;
    ::civilFromDays(z, y, m, d);
    t.year = static_cast<int32_t>(y);
    t.month = static_cast<int32_t>(m);
    t.day = static_cast<int32_t>(d);
}

// Reads exactly `width` digits at text[pos], advancing pos.
bool digits(const std::string& text, std::size_t& pos, std::size_t width, int64_t& value) {
    if (pos + width > text.size()) return false;
    value = 0;
    for (std::size_t k = 0; k < width; ++k) {
        const char c = text[pos + k];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    pos += width;
    return true;
}

bool expect(const std::string& text, std::size_t& pos, const std::string& choices) {
    if (pos >= text.size() || choices.find(text[pos]) == std::string::npos) return false;
    ++pos;
    return true;
}

// The UTC date and time `seconds` after 1970-01-01.
DateTime dateTimeOf(int64_t seconds) {
    const int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const int64_t inDay = seconds - days * 86400;
    DateTime t;
    civilFromDays(days, t);
    t.hour = static_cast<int32_t>(inDay / 3600);
    t.minute = static_cast<int32_t>(inDay / 60 % 60);
    t.second = static_cast<int32_t>(inDay % 60);
    return t;
}

}  // namespace

bool isValidDateTime(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month) &&
           hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

std::optional<DateTime> parseDateTime(const std::string& text) {
    std::size_t pos = 0;
    int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!digits(text, pos, 4, y) || !expect(text, pos, "-/") || !digits(text, pos, 2, mo) ||
        !expect(text, pos, "-/") || !digits(text, pos, 2, d)) {
        return std::nullopt;
    }
    if (pos < text.size()) {
        if (!expect(text, pos, "T ") || !digits(text, pos, 2, h) || !expect(text, pos, ":") ||
            !digits(text, pos, 2, mi)) {
            return std::nullopt;
        }
        if (pos < text.size() && (!expect(text, pos, ":") || !digits(text, pos, 2, s))) return std::nullopt;
    }
    if (pos != text.size() || !isValidDateTime(y, mo, d, h, mi, s)) return std::nullopt;
    return DateTime{static_cast<int32_t>(y), static_cast<int32_t>(mo), static_cast<int32_t>(d),
                    static_cast<int32_t>(h), static_cast<int32_t>(mi), static_cast<int32_t>(s)};
}

std::optional<DateTime> rainRecordDate(const std::string& rainTextPath) {
    std::ifstream in(rainTextPath);
    int64_t v[6];
    for (int64_t& x : v)
        if (!(in >> x)) return std::nullopt;
    if (!isValidDateTime(v[0], v[1], v[2], v[3], v[4], v[5])) return std::nullopt;
    return DateTime{static_cast<int32_t>(v[0]), static_cast<int32_t>(v[1]), static_cast<int32_t>(v[2]),
                    static_cast<int32_t>(v[3]), static_cast<int32_t>(v[4]), static_cast<int32_t>(v[5])};
}

EventStart findEventStart(const std::string& option, int32_t rainFormat, const std::string& projectDir) {
    if (!option.empty()) {
        const std::optional<DateTime> start = parseDateTime(option);
        if (!start) {
            throw InputError("Error: --start needs a date and time such as 2024-09-01T00:00, not \"" + option +
                             "\".\n");
        }
        return {start, "given with --start"};
    }
    if (rainFormat == 2) {
        const std::optional<EventInfo> info = readEventInfo(projectDir);
        if (info && info->start) return {dateTimeOf(*info->start), "recorded in " + eventInfoPath(projectDir)};
    }
    if (rainFormat == 1) {
        Project project;
        project.dir = projectDir;
        const std::string rainTextPath = project.path("input/rain10min.dat");
        if (const std::optional<DateTime> start = rainRecordDate(rainTextPath)) {
            return {start, "the date of the first record of " + rainTextPath};
        }
    }
    return {std::nullopt, "unknown: times count minutes since the start of the event (give the date with --start)"};
}

std::string isoText(const DateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

std::string cfMinuteUnits(const EventStart& start) {
    if (!start.start) return "minutes";
    std::string iso = isoText(*start.start);
    iso[10] = ' ';
    return "minutes since " + iso;
}

double minutesBetween(const DateTime& start, const DateTime& t) {
    const int64_t days = daysFromCivil(t.year, t.month, t.day) - daysFromCivil(start.year, start.month, start.day);
    const int64_t seconds = days * 86400 + (t.hour - start.hour) * 3600 + (t.minute - start.minute) * 60 +
                            (t.second - start.second);
    return static_cast<double>(seconds) / 60.0;
}

DateTime addMinutes(const DateTime& start, int64_t minutes) {
    const int64_t total = daysFromCivil(start.year, start.month, start.day) * 1440 + start.hour * 60 +
                          start.minute + minutes;
    const int64_t day = total >= 0 ? total / 1440 : (total - 1439) / 1440;
    const int64_t inDay = total - day * 1440;
    DateTime t;
    civilFromDays(day, t);
    t.hour = static_cast<int32_t>(inDay / 60);
    t.minute = static_cast<int32_t>(inDay % 60);
    t.second = start.second;
    return t;
}
