#include "paramSection.h"

#include "inputError.h"

#include <cctype>
#include <cmath>
#include <sstream>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// Byte ranges (start, length) of the whitespace-separated tokens of `text`.
std::vector<std::pair<std::size_t, std::size_t>> tokenSpans(const std::string& text) {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
        const std::size_t start = pos;
        while (pos < text.size() && !std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
        if (pos > start) spans.emplace_back(start, pos - start);
    }
    return spans;
}

template <typename T>
T valueOf(const std::string& text, const std::pair<std::size_t, std::size_t>& span, int number,
          const std::string& path) {
    std::istringstream in(text.substr(span.first, span.second));
    T value{};
    char rest = 0;
    if (!(in >> value) || (in >> rest)) {
        throw InputError("Error: " + path + ": value " + std::to_string(number) + " (\"" +
                         text.substr(span.first, span.second) + "\") is not a " +
                         (std::is_integral<T>::value ? "whole number" : "number") + ".\n");
    }
    return value;
}

}  // namespace

ProjectArea readProjectArea(const std::string& text, const std::string& path) {
    const auto spans = tokenSpans(text);
    if (spans.size() < 14) {
        throw InputError("Error: " + path + " holds " + std::to_string(spans.size()) +
                         " numbers; sections 1 to 3 need 14 (run prepareTopography -p first).\n");
    }
    ProjectArea a;
    a.scale = valueOf<float>(text, spans[0], 1, path);
    a.ncols = valueOf<int32_t>(text, spans[1], 2, path);
    a.nrows = valueOf<int32_t>(text, spans[2], 3, path);
    a.xllcorner = valueOf<double>(text, spans[3], 4, path);
    a.yllcorner = valueOf<double>(text, spans[4], 5, path);
    a.days = valueOf<int32_t>(text, spans[13], 14, path);
    if (spans.size() > 14) a.stepSeconds = valueOf<int32_t>(text, spans[14], 15, path);
    if (!(a.scale > 0.0f) || a.ncols < 1 || a.nrows < 1 || !std::isfinite(a.xllcorner) ||
        !std::isfinite(a.yllcorner)) {
        throw InputError("Error: " + path + ": section 1 does not describe a study area (scale, ncols and nrows "
                         "must be larger than zero).\n");
    }
    if (a.days < 1 || a.days > 366) {
        throw InputError("Error: " + path + ": the duration (value 14) must be 1 to 366 days, not " +
                         std::to_string(a.days) + ".\n");
    }
    return a;
}

std::string withRainSection(const std::string& text, const RainGridSpec& g, int32_t interval) {
    const auto spans = tokenSpans(text);
    auto real = [](double v) {
        std::ostringstream s;
        s.precision(15);
        s << v;
        return s.str();
    };
    const std::string values[8] = {"2", std::to_string(interval), std::to_string(g.cols), std::to_string(g.rows),
                                   real(g.dx), real(g.dy), real(g.lon0), real(g.lat0)};
    std::string out;
    std::size_t copied = 0;
    for (int k = 0; k < 8; ++k) {
        const auto& span = spans.at(static_cast<std::size_t>(5 + k));
        out.append(text, copied, span.first - copied);
        out += values[k];
        copied = span.first + span.second;
    }
    out.append(text, copied, std::string::npos);
    return out;
}
