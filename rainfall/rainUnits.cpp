#include "rainUnits.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>

namespace {

// A product of powers of mass (kg), length (m) and time (s), times a scale.
struct Dimension {
    double scale = 1.0;
    int mass = 0, length = 0, time = 0;

    void multiply(const Dimension& d, int power) {
        scale *= std::pow(d.scale, power);
        mass += d.mass * power;
        length += d.length * power;
        time += d.time * power;
    }
};

const std::map<std::string, Dimension>& namedUnits() {
    static const std::map<std::string, Dimension> units = {
        {"kg", {1.0, 1, 0, 0}},        {"g", {1e-3, 1, 0, 0}},           {"m", {1.0, 0, 1, 0}},
        {"meter", {1.0, 0, 1, 0}},     {"meters", {1.0, 0, 1, 0}},       {"metre", {1.0, 0, 1, 0}},
        {"metres", {1.0, 0, 1, 0}},    {"mm", {1e-3, 0, 1, 0}},          {"millimeter", {1e-3, 0, 1, 0}},
        {"millimeters", {1e-3, 0, 1, 0}}, {"millimetre", {1e-3, 0, 1, 0}}, {"millimetres", {1e-3, 0, 1, 0}},
        {"cm", {1e-2, 0, 1, 0}},       {"km", {1e3, 0, 1, 0}},           {"s", {1.0, 0, 0, 1}},
        {"sec", {1.0, 0, 0, 1}},       {"second", {1.0, 0, 0, 1}},       {"seconds", {1.0, 0, 0, 1}},
        {"min", {60.0, 0, 0, 1}},      {"minute", {60.0, 0, 0, 1}},      {"minutes", {60.0, 0, 0, 1}},
        {"h", {3600.0, 0, 0, 1}},      {"hr", {3600.0, 0, 0, 1}},        {"hour", {3600.0, 0, 0, 1}},
        {"hours", {3600.0, 0, 0, 1}},  {"d", {86400.0, 0, 0, 1}},        {"day", {86400.0, 0, 0, 1}},
        {"days", {86400.0, 0, 0, 1}},
    };
    return units;
}

// Recursive descent over "factor ((' ' | '.' | '*' | '/') factor)*", where a
// factor is a number, a unit name with an optional exponent ("m-2", "m^-2",
// "m**-2", "m2"), or a parenthesised product; '/' inverts the next factor.
struct Parser {
    const std::string& text;
    std::size_t pos = 0;

    void skipBlanks() {
        while (pos < text.size() && text[pos] == ' ') ++pos;
    }

    bool exponent(int& power) {
        if (text.compare(pos, 2, "**") == 0) {
            pos += 2;
        } else if (pos < text.size() && text[pos] == '^') {
            ++pos;
        }
        const std::size_t start = pos;
        if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) ++pos;
        while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) ++pos;
        if (pos == start) {
            power = 1;
            return true;
        }
        const std::string digits = text.substr(start, pos - start);
        if (digits == "-" || digits == "+") return false;
        power = std::atoi(digits.c_str());
        return true;
    }

    bool factor(Dimension& d) {
        skipBlanks();
        if (pos >= text.size()) return false;
        if (text[pos] == '(') {
            ++pos;
            if (!product(d)) return false;
            skipBlanks();
            if (pos >= text.size() || text[pos] != ')') return false;
            ++pos;
            int power = 1;
            if (!exponent(power)) return false;
            Dimension powered;
            powered.multiply(d, power);
            d = powered;
            return true;
        }
        if (std::isdigit(static_cast<unsigned char>(text[pos])) || text[pos] == '.') {
            char* end = nullptr;
            const double value = std::strtod(text.c_str() + pos, &end);
            if (end == text.c_str() + pos || !(value > 0.0)) return false;
            pos = static_cast<std::size_t>(end - text.c_str());
            d = Dimension{value, 0, 0, 0};
            return true;
        }
        const std::size_t start = pos;
        while (pos < text.size() && std::isalpha(static_cast<unsigned char>(text[pos]))) ++pos;
        const auto found = namedUnits().find(text.substr(start, pos - start));
        if (found == namedUnits().end()) return false;
        int power = 1;
        if (!exponent(power)) return false;
        d = Dimension{};
        d.multiply(found->second, power);
        return true;
    }

    bool product(Dimension& total) {
        total = Dimension{};
        Dimension d;
        if (!factor(d)) return false;
        total.multiply(d, 1);
        for (;;) {
            skipBlanks();
            if (pos >= text.size() || text[pos] == ')') return true;
            int power = 1;
            if (text[pos] == '/') {
                power = -1;
                ++pos;
            } else if (text[pos] == '.' || text[pos] == '*') {
                ++pos;
            }
            if (!factor(d)) return false;
            total.multiply(d, power);
        }
    }
};

}  // namespace

bool parseRainUnits(const std::string& raw, RainUnits& units) {
    std::string text;
    for (char ch : raw) {
        if (ch == '[' || ch == ']') continue;  // GRIB writes its units in brackets
        text += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    const std::string per[] = {"per hour", "per second"};
    for (const std::string& p : per) {
        const std::size_t at = text.find(p);
        if (at != std::string::npos) text.replace(at, p.size(), p == "per hour" ? "/h" : "/s");
    }
    Parser parser{text};
    Dimension d;
    if (!parser.product(d) || parser.pos != text.size()) return false;
    // A depth of water: a length, or a mass per area (1 kg m-2 = 1 mm).
    double toMillimetres = 0.0;
    if (d.mass == 0 && d.length == 1) {
        toMillimetres = d.scale * 1000.0;
    } else if (d.mass == 1 && d.length == -2) {
        toMillimetres = d.scale;
    } else {
        return false;
    }
    if (d.time == 0) {
        units = {false, toMillimetres};
    } else if (d.time == -1) {
        units = {true, toMillimetres * 3600.0};  // d.scale already holds the time unit in seconds
    } else {
        return false;
    }
    return true;
}
