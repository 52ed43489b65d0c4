#pragma once
// How well a simulated hydrograph matches an observed one: Nash-Sutcliffe
// efficiency, Kling-Gupta efficiency (2009) with its three components, percent
// bias, and the error of the peak in size and timing.

#include <cstddef>
#include <string>
#include <vector>

// A series of values at times in minutes from the start of the event, times ascending.
struct TimeSeries {
    std::vector<double> minutes;
    std::vector<double> values;
};

struct SkillScores {
    std::size_t pairs = 0;
    double firstMinute = 0.0;  // the span both series cover
    double lastMinute = 0.0;
    double nse = 0.0;    // 1 - sum (s - o)^2 / sum (o - mean o)^2
    double kge = 0.0;    // 1 - sqrt((r - 1)^2 + (alpha - 1)^2 + (beta - 1)^2)
    double r = 0.0;      // Pearson correlation of s and o
    double alpha = 0.0;  // standard deviation of s / that of o
    double beta = 0.0;   // mean of s / mean of o
    double percentBias = 0.0;        // 100 sum (s - o) / sum o: positive when the simulation is too high
    double peakErrorPercent = 0.0;   // 100 (peak s - peak o) / peak o
    double peakTimingMinutes = 0.0;  // time of peak s - time of peak o: positive when the simulation is late
};

// The observations inside the simulated span, each with the simulation
// interpolated linearly to its time (both as `values` at the same `minutes`).
struct SeriesPairs {
    TimeSeries observed;
    TimeSeries simulated;
};
SeriesPairs pairSeries(const TimeSeries& simulated, const TimeSeries& observed);

// Pairs each observation inside the simulated span with the simulation
// interpolated linearly to its time, and scores the pairs. The simulated peak
// is the highest simulated value inside the span of the pairs (the first one
// on a tie, as for the observed peak). A score whose denominator is zero
// (constant or zero observations) is NaN. Throws InputError when fewer than
// two observations fall inside the simulated span.
SkillScores compareSeries(const TimeSeries& simulated, const TimeSeries& observed);

// The scores as a CSV header line and one line of values.
std::string skillScoresCsv(const SkillScores& scores);

// The scores for the console, one per line.
std::string skillScoresText(const SkillScores& scores);
