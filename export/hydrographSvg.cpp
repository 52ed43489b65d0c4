#include "hydrographSvg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

// Page and plot area, in SVG pixels.
constexpr double kWidth = 960, kHeight = 580;
constexpr double kLeft = 86, kRight = 876, kTop = 76, kBottom = 430;

// Colours: dark blue for the simulated hourly means, lighter blue for the
// 10-minute means, orange for the inflow, black for the gauge, grey-blue rain.
const char* const kHourlyColour = "#1b4f9c";
const char* const kTenMinuteColour = "#5aa9e0";
const char* const kInflowColour = "#e07b00";
const char* const kObservedColour = "#111111";
const char* const kRainColour = "#9bb3cf";
const char* const kGridColour = "#e3e3e3";
const char* const kTextColour = "#222222";

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string px(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

std::string label(double v) {
    std::ostringstream s;
    s.precision(6);
    s << (std::fabs(v) < 1e-12 ? 0.0 : v);
    return s.str();
}

struct Axes {
    double totalMinutes, qMax, rainMax;
    double x(double minutes) const { return kLeft + (kRight - kLeft) * minutes / totalMinutes; }
    double y(double q) const { return kBottom - (kBottom - kTop) * q / qMax; }
    double rainDepth(double r) const { return (kBottom - kTop) * r / rainMax; }
};

double maxOf(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); }

void polyline(std::ostringstream& svg, const Axes& a, const TimeSeries& s, const char* colour, double width,
              const char* dash) {
    svg << "<polyline fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"" << width
        << "\" stroke-linejoin=\"round\"" << (dash ? std::string(" stroke-dasharray=\"") + dash + "\"" : "")
        << " points=\"";
    for (std::size_t k = 0; k < s.minutes.size(); ++k)
        svg << (k ? " " : "") << px(a.x(s.minutes[k])) << ',' << px(a.y(s.values[k]));
    svg << "\"/>\n";
}

std::string text(double x, double y, const std::string& content, const char* anchor = "middle", int size = 13,
                 const char* extra = "") {
    return "<text x=\"" + px(x) + "\" y=\"" + px(y) + "\" text-anchor=\"" + anchor + "\" font-size=\"" +
           std::to_string(size) + "\"" + extra + ">" + escape(content) + "</text>\n";
}

// Time ticks every 1, 2, 3, 6 or 12 hours or whole days, at most about 12.
double timeStep(double totalMinutes) {
    for (double hours : {1.0, 2.0, 3.0, 6.0, 12.0, 24.0, 48.0, 72.0, 168.0})
        if (totalMinutes / (hours * 60) <= 12) return hours * 60;
    return niceStep(totalMinutes / 1440.0, 10) * 1440;
}

void timeAxis(std::ostringstream& svg, const Axes& a, const EventStart& start) {
    static const char* months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const double step = timeStep(a.totalMinutes);
    int lastDay = -1;
    for (double t = 0; t <= a.totalMinutes + 1e-9; t += step) {
        const double x = a.x(t);
        svg << "<line x1=\"" << px(x) << "\" y1=\"" << px(kTop) << "\" x2=\"" << px(x) << "\" y2=\"" << px(kBottom)
            << "\" stroke=\"" << kGridColour << "\"/>\n";
        svg << "<line x1=\"" << px(x) << "\" y1=\"" << px(kBottom) << "\" x2=\"" << px(x) << "\" y2=\""
            << px(kBottom + 5) << "\" stroke=\"" << kTextColour << "\"/>\n";
        if (start.start) {
            const DateTime d = addMinutes(*start.start, static_cast<int64_t>(std::llround(t)));
            char clock[8];
            std::snprintf(clock, sizeof clock, "%02d:%02d", d.hour, d.minute);
            svg << text(x, kBottom + 20, clock);
            if (d.day != lastDay) {
                svg << text(x, kBottom + 36, std::to_string(d.day) + " " + months[d.month - 1] + " " +
                                                  std::to_string(d.year), "middle", 12, " fill=\"#555\"");
                lastDay = d.day;
            }
        } else {
            svg << text(x, kBottom + 20, label(t / 60.0) + " h");
        }
    }
    const std::string title = start.start ? "Date and time (event start " + isoText(*start.start).replace(10, 1, " ").substr(0, 16) + ")"
                                          : "Hours since the start of the event";
    svg << text((kLeft + kRight) / 2, kBottom + 58, title, "middle", 14);
}

void dischargeAxis(std::ostringstream& svg, const Axes& a, double step) {
    for (double q = 0; q <= a.qMax + step * 1e-9; q += step) {
        const double y = a.y(q);
        svg << "<line x1=\"" << px(kLeft) << "\" y1=\"" << px(y) << "\" x2=\"" << px(kRight) << "\" y2=\"" << px(y)
            << "\" stroke=\"" << kGridColour << "\"/>\n";
        svg << "<line x1=\"" << px(kLeft - 5) << "\" y1=\"" << px(y) << "\" x2=\"" << px(kLeft) << "\" y2=\"" << px(y)
            << "\" stroke=\"" << kTextColour << "\"/>\n";
        svg << text(kLeft - 8, y + 4.5, label(q), "end");
    }
    const double mid = (kTop + kBottom) / 2;
    svg << "<text x=\"" << px(kLeft - 62) << "\" y=\"" << px(mid) << "\" text-anchor=\"middle\" font-size=\"14\" "
        << "transform=\"rotate(-90 " << px(kLeft - 62) << ' ' << px(mid) << ")\">Discharge (m³/s)</text>\n";
}

// The hyetograph: bars hanging from the top, with its own axis on the right.
void rainBars(std::ostringstream& svg, const Axes& a, const std::vector<double>& rain, int interval, double step) {
    svg << "<g fill=\"" << kRainColour << "\">\n";
    for (std::size_t k = 0; k < rain.size(); ++k) {
        if (rain[k] <= 0) continue;
        const double x0 = a.x(static_cast<double>(k) * interval), x1 = a.x(static_cast<double>(k + 1) * interval);
        svg << "<rect x=\"" << px(x0) << "\" y=\"" << px(kTop) << "\" width=\"" << px(x1 - x0 + 0.2) << "\" height=\""
            << px(a.rainDepth(rain[k])) << "\"/>\n";
    }
    svg << "</g>\n";
    const double top = maxOf(rain);
    for (double r = 0; r <= top + step * 0.999; r += step) {
        const double y = kTop + a.rainDepth(r);
        svg << "<line x1=\"" << px(kRight) << "\" y1=\"" << px(y) << "\" x2=\"" << px(kRight + 5) << "\" y2=\""
            << px(y) << "\" stroke=\"" << kTextColour << "\"/>\n";
        svg << text(kRight + 8, y + 4.5, label(r), "start");
    }
    const double mid = kTop + a.rainDepth(std::max(top, step)) / 2;
    svg << "<text x=\"" << px(kRight + 62) << "\" y=\"" << px(mid) << "\" text-anchor=\"middle\" font-size=\"14\" "
        << "transform=\"rotate(90 " << px(kRight + 62) << ' ' << px(mid) << ")\">Rainfall (mm/h)</text>\n";
}

struct LegendEntry {
    std::string label;
    const char* colour;
    bool bar;
    const char* dash;
    double width;
    bool marker = false;  // a dot on the line, as the observations have
};

void legend(std::ostringstream& svg, const std::vector<LegendEntry>& entries) {
    // Entries side by side, centred under the plot; widths from the label length.
    std::vector<double> widths;
    double total = 0;
    for (const LegendEntry& e : entries) {
        widths.push_back(34 + 7.0 * static_cast<double>(e.label.size()) + 22);
        total += widths.back();
    }
    double x = (kLeft + kRight) / 2 - total / 2;
    const double y = kBottom + 88;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const LegendEntry& e = entries[k];
        if (e.bar) {
            svg << "<rect x=\"" << px(x) << "\" y=\"" << px(y - 7) << "\" width=\"26\" height=\"12\" fill=\"" << e.colour
                << "\"/>\n";
        } else {
            svg << "<line x1=\"" << px(x) << "\" y1=\"" << px(y) << "\" x2=\"" << px(x + 26) << "\" y2=\"" << px(y)
                << "\" stroke=\"" << e.colour << "\" stroke-width=\"" << e.width << "\""
                << (e.dash ? std::string(" stroke-dasharray=\"") + e.dash + "\"" : "") << "/>\n";
            if (e.marker) svg << "<circle cx=\"" << px(x + 13) << "\" cy=\"" << px(y) << "\" r=\"2.6\" fill=\"" << e.colour << "\"/>\n";
        }
        svg << text(x + 32, y + 4.5, e.label, "start");
        x += widths[k];
    }
}

}  // namespace

namespace {

std::string signedLabel(double v, const char* unit) {
    char s[48];
    std::snprintf(s, sizeof s, "%+.3g%s", v, unit);
    return s;
}

}  // namespace

std::string skillScoresLine(const SkillScores& s) {
    char head[160];
    // SVG collapses runs of blanks, so middle dots keep the scores apart.
    const std::string dot = " \xc2\xb7 ";
    std::snprintf(head, sizeof head, "NSE %.3f%sKGE %.3f (r %.3f, \xce\xb1 %.3f, \xce\xb2 %.3f)", s.nse, dot.c_str(),
                  s.kge, s.r, s.alpha, s.beta);
    return std::string(head) + dot + "bias " + signedLabel(s.percentBias, " %") + dot + "peak " +
           signedLabel(s.peakErrorPercent, " %") + dot + "peak timing " + signedLabel(s.peakTimingMinutes, " min") +
           dot + std::to_string(s.pairs) + " observations";
}

double niceStep(double range, int count) {
    if (!(range > 0)) return 1.0;
    const double raw = range / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * magnitude * 1.000001) return m * magnitude;
    return 10 * magnitude;
}

std::string hydrographSvg(const HydrographPlot& plot) {
    double qMax = maxOf(plot.hourly.values);
    if (plot.tenMinute) qMax = std::max(qMax, maxOf(plot.tenMinute->values));
    if (plot.inflow) qMax = std::max(qMax, maxOf(plot.inflow->values));
    if (plot.observed) qMax = std::max(qMax, maxOf(plot.observed->values));
    // The hydrograph keeps to the lower 60 % of the height, the rain to the upper 30 %.
    const double qStep = niceStep(std::max(qMax, 1e-9) / 0.6, 6);
    const double rainTop = maxOf(plot.rain);
    const double rainStep = niceStep(std::max(rainTop, 1e-9), 3);
    Axes a{std::max(plot.totalMinutes, 1.0), std::ceil(std::max(qMax, 1e-9) / 0.6 / qStep) * qStep,
           std::max(rainTop, 1e-9) / 0.3};

    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << kHeight
        << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight << "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" "
        << "fill=\"" << kTextColour << "\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << text(kLeft, 30, plot.title, "start", 18, " font-weight=\"bold\"")
        << text(kLeft, 52, plot.subtitle, "start", 13, " fill=\"#555\"");
    timeAxis(svg, a, plot.start);
    dischargeAxis(svg, a, qStep);
    rainBars(svg, a, plot.rain, plot.rainInterval, rainStep);

    // The series stay inside the plot frame.
    svg << "<clipPath id=\"plotArea\"><rect x=\"" << px(kLeft) << "\" y=\"" << px(kTop) << "\" width=\""
        << px(kRight - kLeft) << "\" height=\"" << px(kBottom - kTop) << "\"/></clipPath>\n"
        << "<g clip-path=\"url(#plotArea)\">\n";
    std::vector<LegendEntry> entries;
    entries.push_back({"Upstream mean rainfall", kRainColour, true, nullptr, 0});
    if (plot.inflow) {
        polyline(svg, a, *plot.inflow, kInflowColour, 1.8, "6 4");
        entries.push_back({"Inflow (hourly mean)", kInflowColour, false, "6 4", 1.8});
    }
    if (plot.tenMinute) {
        polyline(svg, a, *plot.tenMinute, kTenMinuteColour, 1.3, nullptr);
        entries.push_back({plot.inflow ? "Outflow (10-minute mean)" : "Simulated 10-minute mean", kTenMinuteColour,
                           false, nullptr, 1.3});
    }
    polyline(svg, a, plot.hourly, kHourlyColour, 2.2, nullptr);
    entries.push_back({plot.inflow ? "Outflow (hourly mean)" : "Simulated hourly mean", kHourlyColour, false, nullptr, 2.2});
    if (plot.observed) {
        polyline(svg, a, *plot.observed, kObservedColour, 1.0, nullptr);
        if (plot.observed->minutes.size() <= 400) {
            svg << "<g fill=\"" << kObservedColour << "\">\n";
            for (std::size_t k = 0; k < plot.observed->minutes.size(); ++k)
                svg << "<circle cx=\"" << px(a.x(plot.observed->minutes[k])) << "\" cy=\""
                    << px(a.y(plot.observed->values[k])) << "\" r=\"2.2\"/>\n";
            svg << "</g>\n";
        }
        entries.push_back({"Observed", kObservedColour, false, nullptr, 1.0, true});
    }
    svg << "</g>\n";
    svg << "<rect x=\"" << px(kLeft) << "\" y=\"" << px(kTop) << "\" width=\"" << px(kRight - kLeft) << "\" height=\""
        << px(kBottom - kTop) << "\" fill=\"none\" stroke=\"" << kTextColour << "\"/>\n";
    legend(svg, entries);
    if (plot.scores) svg << text((kLeft + kRight) / 2, kBottom + 120, skillScoresLine(*plot.scores), "middle", 13);
    svg << "</svg>\n";
    return svg.str();
}
