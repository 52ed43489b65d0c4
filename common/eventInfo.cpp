#include "eventInfo.h"

#include "calendar.h"
#include "inputError.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

namespace {

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Exactly `width` digits at text[pos].
bool digitsAt(const std::string& text, std::size_t pos, std::size_t width, int64_t& value) {
    if (pos + width > text.size()) return false;
    value = 0;
    for (std::size_t k = pos; k < pos + width; ++k) {
        if (text[k] < '0' || text[k] > '9') return false;
        value = value * 10 + (text[k] - '0');
    }
    return true;
}

}  // namespace

std::string eventInfoPath(const std::string& projectDir) {
    if (projectDir.empty() || projectDir == ".") return "input/event.txt";
    return projectDir + (projectDir.back() == '/' ? "" : "/") + "input/event.txt";
}

std::string utcText(int64_t seconds) {
    const int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const int64_t inDay = seconds - days * 86400;
    int64_t y = 0, m = 0, d = 0;
    civilFromDays(days, y, m, d);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(inDay / 3600),
                  static_cast<long long>(inDay / 60 % 60), static_cast<long long>(inDay % 60));
    return text;
}

std::optional<int64_t> parseUtcText(const std::string& text) {
    int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (text.size() != 20 || !digitsAt(text, 0, 4, y) || text[4] != '-' || !digitsAt(text, 5, 2, mo) ||
        text[7] != '-' || !digitsAt(text, 8, 2, d) || text[10] != 'T' || !digitsAt(text, 11, 2, h) ||
        text[13] != ':' || !digitsAt(text, 14, 2, mi) || text[16] != ':' || !digitsAt(text, 17, 2, s) ||
        text[19] != 'Z') {
        return std::nullopt;
    }
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || s > 59) {
        return std::nullopt;
    }
    return daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

std::string eventInfoText(const EventInfo& info) {
    std::string text = "# Written by prepareRainfall: the calendar of this project's rainfall.\n";
    if (info.start) text += "start = " + utcText(*info.start) + "\n";
    text += "interval_minutes = " + std::to_string(info.intervalMinutes) + "\n";
    for (const std::string& source : info.sources) text += "source = " + source + "\n";
    text += "variable =" + (info.variable.empty() ? "" : " " + info.variable) + "\n";
    return text;
}

std::optional<EventInfo> readEventInfo(const std::string& projectDir) {
    const std::string path = eventInfoPath(projectDir);
    std::error_code ec;
    const std::filesystem::file_type type = std::filesystem::status(path, ec).type();
    if (type == std::filesystem::file_type::not_found) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (type != std::filesystem::file_type::regular || !in) throw InputError("Error: " + path + " cannot be opened.\n");
    EventInfo info;
    std::set<std::string> seen;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string content = trimmed(line);
        if (content.empty() || content[0] == '#') continue;
        const std::string where = "Error: " + path + ", line " + std::to_string(number) + ": ";
        const std::size_t equals = content.find('=');
        if (equals == std::string::npos) throw InputError(where + "\"" + content + "\" is not \"key = value\".\n");
        const std::string key = trimmed(content.substr(0, equals)), value = trimmed(content.substr(equals + 1));
        if (key != "source" && !seen.insert(key).second) throw InputError(where + key + " is given twice.\n");
        if (key == "start") {
            info.start = parseUtcText(value);
            if (!info.start) {
                throw InputError(where + "start must be a UTC time such as 2018-09-14T00:00:00Z, not \"" + value +
                                 "\".\n");
            }
        } else if (key == "interval_minutes") {
            int64_t minutes = 0;
            if (value.empty() || value.size() > 2 || !digitsAt(value, 0, value.size(), minutes) || minutes < 1 ||
                60 % minutes != 0) {
                throw InputError(where + "interval_minutes must be a whole number of minutes that divides 60, not \"" +
                                 value + "\".\n");
            }
            info.intervalMinutes = static_cast<int32_t>(minutes);
        } else if (key == "source") {
            info.sources.push_back(value);
        } else if (key == "variable") {
            info.variable = value;
        }
    }
    if (in.bad()) throw InputError("Error: " + path + " cannot be read.\n");
    return info;
}
