#pragma once
// A hydrograph as a self-contained SVG page: discharge against time with the
// rainfall as an inverted hyetograph hanging from the top, axes with units,
// time labels (dates when the start of the event is known), a legend, and the
// skill scores when observations are drawn.

#include "eventTime.h"
#include "skillScores.h"

#include <optional>
#include <string>
#include <vector>

struct HydrographPlot {
    std::string title;
    std::string subtitle;
    EventStart start;
    double totalMinutes = 0.0;            // the time axis runs from 0 to here
    TimeSeries hourly;                    // simulated hourly means, m3/s
    std::optional<TimeSeries> tenMinute;  // simulated 10-minute means
    std::optional<TimeSeries> inflow;     // hourly mean inflow of a dam or reservoir
    std::optional<TimeSeries> observed;
    std::vector<double> rain;  // mm/h, one value per rainfall interval from the start
    int rainInterval = 10;     // minutes
    std::optional<SkillScores> scores;
};

std::string hydrographSvg(const HydrographPlot& plot);

// The scores on one line, as the picture shows them under the legend.
std::string skillScoresLine(const SkillScores& scores);

// Tick spacing for about `count` ticks over `range`: 1, 2 or 5 times a power of ten.
double niceStep(double range, int count);
