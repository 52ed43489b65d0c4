#include "observedSeries.h"

#include "inputError.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <numeric>

namespace {

std::string trim(const std::string& s) {
    const std::size_t a = s.find_first_not_of(" \t\r\"");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t\r\"") - a + 1);
}

// The whole text as a finite number, or false.
bool number(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && errno == 0 && std::isfinite(value);
}

bool isMissing(const std::string& text) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return lower.empty() || lower == "na" || lower == "nan" || lower == "n/a";
}

InputError lineError(const std::string& path, std::size_t line, const std::string& what) {
    return InputError("Error: " + path + " line " + std::to_string(line) + ": " + what + "\n");
}

}  // namespace

ObservedSeries readObservedCsv(const std::string& path, const EventStart& start, const std::string& howToGiveStart) {
    std::ifstream in(path);
    if (!in) throw InputError("Error: the observations " + path + " cannot open.\n");
    ObservedSeries observed;
    std::string text;
    bool first = true;
    for (std::size_t line = 1; std::getline(in, text); ++line) {
        if (trim(text).empty() || trim(text)[0] == '#') continue;
        const std::size_t sep = text.find_first_of(",;\t");
        const std::string timeText = trim(text.substr(0, sep));
        const std::string valueText = sep == std::string::npos ? "" : trim(text.substr(sep + 1, text.find_first_of(",;\t", sep + 1) - sep - 1));
        double minutes = 0.0;
        const std::optional<DateTime> date = parseDateTime(timeText);
        const bool isTime = number(timeText, minutes) || date;
        const bool wasFirst = first;
        first = false;
        if (!isTime) {
            if (wasFirst) continue;  // a header
            throw lineError(path, line, "\"" + timeText + "\" is neither minutes from the start nor a date and time.");
        }
        if (date) {
            if (!start.start) {
                throw lineError(path, line, "the time is a date, but the start of the event is unknown: " + howToGiveStart + ".");
            }
            minutes = minutesBetween(*start.start, *date);
        }
        double value = 0.0;
        if (isMissing(valueText)) {
            ++observed.gaps;
            continue;
        }
        if (!number(valueText, value)) {
            throw lineError(path, line, "the discharge \"" + valueText + "\" is not a number.");
        }
        if (value < 0.0) {
            ++observed.gaps;
            continue;
        }
        observed.series.minutes.push_back(minutes);
        observed.series.values.push_back(value);
    }
    if (observed.series.minutes.empty()) throw InputError("Error: the observations " + path + " hold no discharge value.\n");
    // Sort by time, keeping the file order of equal times.
    std::vector<std::size_t> order(observed.series.minutes.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return observed.series.minutes[a] < observed.series.minutes[b];
    });
    TimeSeries sorted;
    for (std::size_t k : order) {
        sorted.minutes.push_back(observed.series.minutes[k]);
        sorted.values.push_back(observed.series.values[k]);
    }
    observed.series = sorted;
    return observed;
}
