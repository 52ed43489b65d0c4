#include "productTime.h"

#include "calendar.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

// Reads an unsigned decimal number of 1 to `maxDigits` digits at text[pos].
bool number(const std::string& text, std::size_t& pos, int maxDigits, int64_t& value) {
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) &&
           pos - start < static_cast<std::size_t>(maxDigits)) {
        value = value * 10 + (text[pos++] - '0');
    }
    return pos > start;
}

bool expect(const std::string& text, std::size_t& pos, char ch) {
    if (pos < text.size() && text[pos] == ch) {
        ++pos;
        return true;
    }
    return false;
}

}  // namespace

bool parseIsoTime(const std::string& raw, int64_t& seconds) {
    std::string text = raw;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    std::size_t pos = 0;
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!number(text, pos, 4, y) || !expect(text, pos, '-') || !number(text, pos, 2, mo) || !expect(text, pos, '-') ||
        !number(text, pos, 2, d)) {
        return false;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo)) return false;
    if (pos < text.size() && (text[pos] == 'T' || text[pos] == ' ')) {
        ++pos;
        if (!number(text, pos, 2, h) || !expect(text, pos, ':') || !number(text, pos, 2, mi)) return false;
        if (expect(text, pos, ':')) {
            if (!number(text, pos, 2, s)) return false;
            if (expect(text, pos, '.')) {
                int64_t fraction = 0;
                if (!number(text, pos, 9, fraction)) return false;
            }
        }
        if (h > 24 || mi > 59 || s > 60 || (h == 24 && (mi != 0 || s != 0))) return false;
    }
    while (pos < text.size() && text[pos] == ' ') ++pos;
    int64_t zone = 0;
    const std::string rest = text.substr(pos);
    if (rest == "Z" || rest == "UTC" || rest == "GMT" || rest.empty()) {
        pos = text.size();
    } else if (rest[0] == '+' || rest[0] == '-') {
        const int64_t sign = rest[0] == '-' ? -1 : 1;
        ++pos;
        int64_t zh = 0, zm = 0;
        if (!number(text, pos, 2, zh)) return false;
        if (expect(text, pos, ':')) {
            if (!number(text, pos, 2, zm)) return false;
        } else {
            number(text, pos, 2, zm);
        }
        zone = sign * (zh * 3600 + zm * 60);
    }
    if (pos != text.size()) return false;
    seconds = daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s - zone;
    return true;
}

std::string formatIsoTime(int64_t seconds) {
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t y = 0, m = 0, d = 0;
    civilFromDays(days, y, m, d);
    char text[160];
    if (rest % 60 == 0) {
        std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld", static_cast<long long>(y),
                      static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(rest / 3600),
                      static_cast<long long>(rest / 60 % 60));
    } else {
        std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(y),
                      static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(rest / 3600),
                      static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    }
    return text;
}

bool parseTimeUnits(const std::string& text, TimeUnits& units) {
    std::istringstream in(text);
    std::string unit, since;
    if (!(in >> unit)) return false;
    for (char& ch : unit) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    double perUnit = 0.0;
    if (unit == "s" || unit == "sec" || unit == "secs" || unit == "second" || unit == "seconds") {
        perUnit = 1.0;
    } else if (unit == "min" || unit == "mins" || unit == "minute" || unit == "minutes") {
        perUnit = 60.0;
    } else if (unit == "h" || unit == "hr" || unit == "hrs" || unit == "hour" || unit == "hours") {
        perUnit = 3600.0;
    } else if (unit == "d" || unit == "day" || unit == "days") {
        perUnit = 86400.0;
    } else {
        return false;
    }
    if (!(in >> since)) return false;
    if (since == "UTC" && perUnit == 1.0) {  // GRIB valid times: seconds since 1970
        units = {1.0, 0};
        return true;
    }
    if (since != "since") return false;
    std::string epochText;
    std::getline(in, epochText);
    int64_t epoch = 0;
    if (!parseIsoTime(epochText, epoch)) return false;
    units = {perUnit, epoch};
    return true;
}
