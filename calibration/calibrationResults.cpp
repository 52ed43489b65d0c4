#include "calibrationResults.h"

#include "hydrographSvg.h"
#include "inputError.h"
#include "plotCommand.h"
#include "runResults.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

namespace {

// A TOML float: 17 significant digits, with a point or an exponent.
std::string tomlFloat(double v) {
    std::string t = exactText(v);
    if (std::isfinite(v) && t.find_first_of(".e") == std::string::npos) t += ".0";
    return t;
}

std::string tomlString(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            out += escape;
            continue;
        }
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string fixed(double v, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string readBytes(const std::string& path) {
    std::string bytes;
    if (!readWholeFile(path, bytes)) throw InputError("Error: " + path + " cannot open.\n");
    return bytes;
}

// The place of a parameter's value among the tokens of the parameter file.
std::size_t paramFileToken(ParamKey key) { return key == kROFinitial ? 25 : 17 + static_cast<std::size_t>(key); }

}  // namespace

std::string eventResultFolder(const LoadedEvent& event) { return "best/" + event.config.name; }

int64_t bestEvaluation(const std::vector<Outcome>& outcomes) {
    int64_t best = -1;
    for (std::size_t k = 0; k < outcomes.size(); ++k) {
        if (outcomes[k].failed) continue;
        if (best < 0 || outcomes[k].aggregate > outcomes[static_cast<std::size_t>(best)].aggregate) best = static_cast<int64_t>(k);
    }
    return best;
}

std::string withTokens(const std::string& text, const std::vector<std::pair<std::size_t, std::string>>& replacements) {
    std::string out;
    std::size_t pos = 0, token = 0, copied = 0;
    auto next = replacements.begin();
    while (pos < text.size() && next != replacements.end()) {
        while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
        const std::size_t start = pos;
        while (pos < text.size() && !std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
        if (pos == start) break;
        if (token == next->first) {
            out.append(text, copied, start - copied);
            out += next->second;
            copied = pos;
            ++next;
        }
        ++token;
    }
    out.append(text, copied, std::string::npos);
    return out;
}

std::string bestToml(const Calibration& c, const std::vector<Outcome>& outcomes, int64_t best) {
    const Outcome& o = outcomes[static_cast<std::size_t>(best)];
    std::ostringstream t;
    int64_t failed = 0;
    for (const Outcome& x : outcomes) failed += x.failed ? 1 : 0;
    // The configuration by its file name: the results do not depend on where it was called from.
    t << "# The best of " << outcomes.size() << " evaluations of " << std::filesystem::path(c.config.path).filename().string()
      << " (configuration " << c.hash
      << ").\n"
      << "evaluation = " << best + 1 << "\n"
      << "objective = " << tomlString(objectiveName(c.config.objective)) << "\n"
      << "aggregate = " << tomlFloat(o.aggregate) << "\n"
      << "failed_evaluations = " << failed << "\n\n"
      << "# Values of the parameter file, or multipliers of the map where the event reads one.\n"
      << "[parameters]\n";
    for (std::size_t j = 0; j < c.config.parameters.size(); ++j)
        t << kParamKeys[c.config.parameters[j].key] << " = " << tomlFloat(o.values[j]) << "\n";
    std::size_t k = 0;
    for (const LoadedEvent& e : c.events) {
        t << "\n[[event]]\nname = " << tomlString(e.config.name) << "\nproject = " << tomlString(e.config.project) << "\n";
        for (const GaugeData& g : e.gauges) {
            t << "\n[[event.gauge]]\ncell = [" << g.config.column << ", " << g.config.row << "]\n"
              << objectiveName(c.config.objective) << " = " << tomlFloat(o.scores[k++]) << "\n";
        }
    }
    return t.str();
}

namespace {

// The event's parameter file with the best values, and the maps of the
// parameters it reads from maps, multiplied, as (relative path, text).
std::vector<std::pair<std::string, std::string>> eventParameterFiles(const Calibration& c, const LoadedEvent& e,
                                                                     const std::vector<double>& values) {
    std::vector<std::pair<std::string, std::string>> files;
    const CellValues file = paramFileValues(e.event.params);
    std::vector<std::pair<std::size_t, std::string>> tokens;
    for (std::size_t j = 0; j < c.config.parameters.size(); ++j) {
        const ParamKey key = c.config.parameters[j].key;
        if (file[key] >= 0.0) {
            tokens.emplace_back(paramFileToken(key), exactText(values[j]));
            continue;
        }
        // Every value of the map times the multiplier, in double, as the model takes it.
        const std::string mapPath = std::string("paramData/param_dist_") + kParamKeys[key] + ".dat";
        const std::string map = readBytes(e.config.projectPath + "/" + mapPath);
        std::vector<std::pair<std::size_t, std::string>> scaled;
        std::istringstream in(map);
        std::string word;
        for (std::size_t token = 0; in >> word; ++token) {
            if (token < 12) continue;  // the six labelled header values
            std::istringstream number(word);
            double v = 0.0;
            number >> v;
            scaled.emplace_back(token, exactText(v * values[j]));
        }
        files.emplace_back(mapPath, withTokens(map, scaled));
    }
    std::sort(tokens.begin(), tokens.end());
    files.insert(files.begin(), {"param-hsx-event-ver400.dat", withTokens(e.paramFileText, tokens)});
    return files;
}

std::string gaugeTitle(const GaugeData& g, int64_t best, std::size_t count) {
    return "Discharge at column " + std::to_string(g.config.column) + ", row " + std::to_string(g.config.row) +
           ", calibrated (evaluation " + std::to_string(best + 1) + " of " + std::to_string(count) + ")";
}

}  // namespace

void writeCalibrationResults(const Calibration& c, const std::vector<Outcome>& outcomes, int64_t best,
                             const std::string& directory, std::ostream& out) {
    namespace fs = std::filesystem;
    const std::vector<double>& values = outcomes[static_cast<std::size_t>(best)].values;
    auto write = [&](const std::string& relative, const std::string& text) {
        const fs::path path = fs::path(directory) / relative;
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        if (ec) throw InputError("Error: the folder " + path.parent_path().string() + " cannot be made: " + ec.message() + ".\n");
        writeResultText(path.string(), text);
        out << "  " << path.string() << '\n';
    };
    out << "Results:\n";
    write("best.toml", bestToml(c, outcomes, best));
    for (std::size_t e = 0; e < c.events.size(); ++e) {
        const LoadedEvent& event = c.events[e];
        for (const auto& [relative, text] : eventParameterFiles(c, event, values)) write(eventResultFolder(event) + "/" + relative, text);
        const std::vector<std::vector<float>> series = gaugeHydrographs(c, e, values);
        for (std::size_t g = 0; g < event.gauges.size() && !series.empty(); ++g) {
            const GaugeData& gauge = event.gauges[g];
            HydrographPlot plot;
            plot.start = gauge.start;
            plot.totalMinutes = 60.0 * 24.0 * event.event.params.days;
            plot.hourly = hourlySeries(series[g]);
            Project project;
            project.dir = event.config.projectPath;
            describeCellPlot(plot, project, event.event.params, gauge.config.column, gauge.config.row,
                             gaugeTitle(gauge, best, outcomes.size()), false);
            plot.observed = gauge.observed.series;
            plot.scores = compareSeries(plot.hourly, gauge.scored);
            const std::string name = eventResultFolder(event) + "/hydrograph-" + std::to_string(gauge.config.column) + "-" +
                                     std::to_string(gauge.config.row);
            write(name + ".svg", hydrographSvg(plot));
            write(name + "-skill.csv", skillScoresCsv(*plot.scores));
        }
    }
    write("convergence.svg", convergenceSvg(c, outcomes));
}

// ---------------------------------------------------------------------------
// The convergence picture.

namespace {

constexpr double kWidth = 760, kHeight = 460;
constexpr double kLeft = 80, kRight = 730, kTop = 70, kBottom = 380;

std::string px(double v) { return fixed(v, 1); }

std::string label(double v) {
    std::ostringstream s;
    s.precision(6);
    s << (std::fabs(v) < 1e-12 ? 0.0 : v);
    return s.str();
}

std::string text(double x, double y, const std::string& content, const char* anchor, int size, const char* extra = "") {
    std::string escaped;
    for (const char ch : content) escaped += ch == '&' ? "&amp;" : ch == '<' ? "&lt;" : ch == '>' ? "&gt;" : std::string(1, ch);
    return "<text x=\"" + px(x) + "\" y=\"" + px(y) + "\" text-anchor=\"" + anchor + "\" font-size=\"" +
           std::to_string(size) + "\"" + extra + ">" + escaped + "</text>\n";
}

}  // namespace

std::string convergenceSvg(const Calibration& c, const std::vector<Outcome>& outcomes) {
    // The score axis: from the 10th percentile of the scores (or the first
    // best, if lower) to the highest; lower scores sit on the bottom edge.
    std::vector<double> finite, bestSoFar;
    double running = -INFINITY;
    for (const Outcome& o : outcomes) {
        if (std::isfinite(o.aggregate)) finite.push_back(o.aggregate);
        running = std::max(running, o.aggregate);
        bestSoFar.push_back(running);
    }
    std::sort(finite.begin(), finite.end());
    double lo = 0.0, hi = 1.0;
    if (!finite.empty()) {
        hi = finite.back();
        lo = finite[finite.size() / 10];
        for (const double b : bestSoFar)
            if (std::isfinite(b)) {
                lo = std::min(lo, b);
                break;
            }
    }
    if (!(hi > lo)) {
        lo -= 0.5;
        hi += 0.5;
    }
    const double yStep = niceStep(hi - lo, 6);
    lo = std::floor(lo / yStep) * yStep;
    hi = std::ceil(hi / yStep) * yStep;
    const double n = static_cast<double>(std::max<std::size_t>(outcomes.size(), 1));
    const double xStep = niceStep(n, 8);
    const double xMax = std::ceil(n / xStep) * xStep;
    auto x = [&](double e) { return kLeft + (kRight - kLeft) * e / xMax; };
    auto y = [&](double s) { return kBottom - (kBottom - kTop) * (std::max(s, lo) - lo) / (hi - lo); };

    const std::string name = objectiveName(c.config.objective);
    const int64_t best = bestEvaluation(outcomes);
    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << kHeight << "\" viewBox=\"0 0 "
        << kWidth << ' ' << kHeight << "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" fill=\"#222222\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << text(kLeft, 30, "Calibration: " + name + " (" + (c.config.aggregate == Aggregate::kMean ? "mean" : c.config.aggregate == Aggregate::kWeighted ? "weighted mean" : "worst") +
                               " of " + std::to_string(c.gaugeCount) + (c.gaugeCount == 1 ? " gauge" : " gauges") + ")",
                "start", 18, " font-weight=\"bold\"")
        << text(kLeft, 52,
                std::string(c.config.algorithm == Algorithm::kDds ? "DDS" : "SCE-UA") + ", " + std::to_string(outcomes.size()) +
                    " evaluations" + (best >= 0 ? ", best " + fixed(outcomes[static_cast<std::size_t>(best)].aggregate, 4) +
                                                       " at evaluation " + std::to_string(best + 1)
                                                 : ", none finished"),
                "start", 13, " fill=\"#555\"");
    for (double e = 0; e <= xMax + xStep * 1e-9; e += xStep) {
        svg << "<line x1=\"" << px(x(e)) << "\" y1=\"" << px(kTop) << "\" x2=\"" << px(x(e)) << "\" y2=\"" << px(kBottom)
            << "\" stroke=\"#e3e3e3\"/>\n"
            << text(x(e), kBottom + 20, label(e), "middle", 13);
    }
    for (double s = lo; s <= hi + yStep * 1e-9; s += yStep) {
        svg << "<line x1=\"" << px(kLeft) << "\" y1=\"" << px(y(s)) << "\" x2=\"" << px(kRight) << "\" y2=\"" << px(y(s))
            << "\" stroke=\"#e3e3e3\"/>\n"
            << text(kLeft - 8, y(s) + 4.5, label(s), "end", 13);
    }
    svg << text((kLeft + kRight) / 2, kBottom + 44, "Evaluations", "middle", 14);
    const double mid = (kTop + kBottom) / 2;
    svg << "<text x=\"" << px(kLeft - 58) << "\" y=\"" << px(mid) << "\" text-anchor=\"middle\" font-size=\"14\" transform=\"rotate(-90 "
        << px(kLeft - 58) << ' ' << px(mid) << ")\">" << name << "</text>\n";

    // Every evaluation a dot (failed ones a red cross on the bottom edge), the best so far a line.
    svg << "<g fill=\"#7f9cc4\" fill-opacity=\"0.75\">\n";
    for (std::size_t k = 0; k < outcomes.size(); ++k) {
        if (!outcomes[k].failed) svg << "<circle cx=\"" << px(x(static_cast<double>(k + 1))) << "\" cy=\"" << px(y(outcomes[k].aggregate)) << "\" r=\"2.4\"/>\n";
    }
    svg << "</g>\n<g stroke=\"#c0392b\" stroke-width=\"1.4\">\n";
    for (std::size_t k = 0; k < outcomes.size(); ++k) {
        if (!outcomes[k].failed) continue;
        const double cx = x(static_cast<double>(k + 1)), cy = kBottom - 4;
        svg << "<path d=\"M" << px(cx - 3) << ' ' << px(cy - 3) << "L" << px(cx + 3) << ' ' << px(cy + 3) << "M" << px(cx - 3)
            << ' ' << px(cy + 3) << "L" << px(cx + 3) << ' ' << px(cy - 3) << "\"/>\n";
    }
    svg << "</g>\n<polyline fill=\"none\" stroke=\"#1b4f9c\" stroke-width=\"2.2\" points=\"";
    bool first = true;
    for (std::size_t k = 0; k < outcomes.size(); ++k) {
        if (!std::isfinite(bestSoFar[k])) continue;
        if (!first && bestSoFar[k] != bestSoFar[k - 1]) svg << ' ' << px(x(static_cast<double>(k + 1))) << ',' << px(y(bestSoFar[k - 1]));
        svg << (first ? "" : " ") << px(x(static_cast<double>(k + 1))) << ',' << px(y(bestSoFar[k]));
        first = false;
    }
    svg << "\"/>\n<rect x=\"" << px(kLeft) << "\" y=\"" << px(kTop) << "\" width=\"" << px(kRight - kLeft) << "\" height=\""
        << px(kBottom - kTop) << "\" fill=\"none\" stroke=\"#222222\"/>\n";
    // Legend.
    const double ly = kBottom + 66;
    svg << "<circle cx=\"" << px(kLeft + 8) << "\" cy=\"" << px(ly) << "\" r=\"2.4\" fill=\"#7f9cc4\"/>\n"
        << text(kLeft + 18, ly + 4.5, "an evaluation", "start", 13)
        << "<line x1=\"" << px(kLeft + 150) << "\" y1=\"" << px(ly) << "\" x2=\"" << px(kLeft + 176) << "\" y2=\"" << px(ly)
        << "\" stroke=\"#1b4f9c\" stroke-width=\"2.2\"/>\n"
        << text(kLeft + 182, ly + 4.5, "best so far", "start", 13)
        << "<path d=\"M" << px(kLeft + 302) << ' ' << px(ly - 3) << "L" << px(kLeft + 308) << ' ' << px(ly + 3) << "M"
        << px(kLeft + 302) << ' ' << px(ly + 3) << "L" << px(kLeft + 308) << ' ' << px(ly - 3)
        << "\" stroke=\"#c0392b\" stroke-width=\"1.4\"/>\n"
        << text(kLeft + 316, ly + 4.5, "failed", "start", 13)
        << text(kRight, ly + 4.5, "scores below " + label(lo) + " drawn on the lower edge", "end", 12, " fill=\"#555\"")
        << "</svg>\n";
    return svg.str();
}
