#include "skillScores.h"

#include "inputError.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double ratio(double a, double b) { return b == 0.0 ? kNaN : a / b; }

// The simulation at `t`, linear between its samples; requires t inside its span.
double interpolate(const TimeSeries& s, double t) {
    const auto upper = std::lower_bound(s.minutes.begin(), s.minutes.end(), t);
    const std::size_t k = static_cast<std::size_t>(upper - s.minutes.begin());
    if (s.minutes[k] == t || k == 0) return s.values[k];
    const double t0 = s.minutes[k - 1], t1 = s.minutes[k];
    return s.values[k - 1] + (s.values[k] - s.values[k - 1]) * ((t - t0) / (t1 - t0));
}

// Index of the first largest value.
std::size_t peakIndex(const std::vector<double>& v) {
    return static_cast<std::size_t>(std::max_element(v.begin(), v.end()) - v.begin());
}

}  // namespace

SeriesPairs pairSeries(const TimeSeries& simulated, const TimeSeries& observed) {
    SeriesPairs pairs;
    if (simulated.minutes.empty()) return pairs;
    for (std::size_t k = 0; k < observed.minutes.size(); ++k) {
        const double t = observed.minutes[k];
        if (t < simulated.minutes.front() || t > simulated.minutes.back()) continue;
        pairs.observed.minutes.push_back(t);
        pairs.observed.values.push_back(observed.values[k]);
        pairs.simulated.minutes.push_back(t);
        pairs.simulated.values.push_back(interpolate(simulated, t));
    }
    return pairs;
}

SkillScores compareSeries(const TimeSeries& simulated, const TimeSeries& observed) {
    const SeriesPairs pairs = pairSeries(simulated, observed);
    const TimeSeries& obs = pairs.observed;
    const TimeSeries& sim = pairs.simulated;
    if (obs.minutes.size() < 2) {
        throw InputError("Error: the observations have " + std::to_string(obs.minutes.size()) +
                         " values inside the simulated period; the scores need at least two.\n");
    }
    const double n = static_cast<double>(obs.values.size());
    double sumO = 0.0, sumS = 0.0;
    for (std::size_t k = 0; k < obs.values.size(); ++k) {
        sumO += obs.values[k];
        sumS += sim.values[k];
    }
    const double meanO = sumO / n, meanS = sumS / n;
    double sqErr = 0.0, varO = 0.0, varS = 0.0, cov = 0.0;
    for (std::size_t k = 0; k < obs.values.size(); ++k) {
        const double dO = obs.values[k] - meanO, dS = sim.values[k] - meanS, e = sim.values[k] - obs.values[k];
        sqErr += e * e;
        varO += dO * dO;
        varS += dS * dS;
        cov += dO * dS;
    }
    SkillScores s;
    s.pairs = obs.values.size();
    s.firstMinute = obs.minutes.front();
    s.lastMinute = obs.minutes.back();
    s.nse = 1.0 - ratio(sqErr, varO);
    s.r = ratio(cov, std::sqrt(varO * varS));
    s.alpha = ratio(std::sqrt(varS / n), std::sqrt(varO / n));
    s.beta = ratio(meanS, meanO);
    s.kge = 1.0 - std::sqrt((s.r - 1.0) * (s.r - 1.0) + (s.alpha - 1.0) * (s.alpha - 1.0) +
                            (s.beta - 1.0) * (s.beta - 1.0));
    s.percentBias = 100.0 * ratio(sumS - sumO, sumO);

    // The simulated peak from the simulation's own samples inside the span;
    // the interpolated pairs when no sample falls inside it.
    TimeSeries window;
    for (std::size_t k = 0; k < simulated.minutes.size(); ++k) {
        if (simulated.minutes[k] >= s.firstMinute && simulated.minutes[k] <= s.lastMinute) {
            window.minutes.push_back(simulated.minutes[k]);
            window.values.push_back(simulated.values[k]);
        }
    }
    if (window.values.empty()) window = {obs.minutes, sim.values};
    const std::size_t ps = peakIndex(window.values), po = peakIndex(obs.values);
    s.peakErrorPercent = 100.0 * ratio(window.values[ps] - obs.values[po], obs.values[po]);
    s.peakTimingMinutes = window.minutes[ps] - obs.minutes[po];
    return s;
}

std::string skillScoresCsv(const SkillScores& s) {
    std::ostringstream csv;
    csv.precision(6);
    csv << "pairs,first_minute,last_minute,nse,kge,kge_r,kge_alpha,kge_beta,percent_bias,peak_error_percent,"
           "peak_timing_error_minutes\n"
        << s.pairs << ',' << s.firstMinute << ',' << s.lastMinute << ',' << s.nse << ',' << s.kge << ',' << s.r << ','
        << s.alpha << ',' << s.beta << ',' << s.percentBias << ',' << s.peakErrorPercent << ',' << s.peakTimingMinutes
        << '\n';
    return csv.str();
}

std::string skillScoresText(const SkillScores& s) {
    std::ostringstream text;
    text.precision(4);
    text << "Compared " << s.pairs << " observations from minute " << s.firstMinute << " to minute " << s.lastMinute
         << ":\n"
         << "  Nash-Sutcliffe efficiency NSE   " << s.nse << '\n'
         << "  Kling-Gupta efficiency KGE      " << s.kge << "  (r " << s.r << ", alpha " << s.alpha << ", beta "
         << s.beta << ")\n"
         << "  Percent bias                    " << s.percentBias << " %  (positive: simulation too high)\n"
         << "  Peak error                      " << s.peakErrorPercent << " %\n"
         << "  Peak timing error               " << s.peakTimingMinutes << " min  (positive: simulation late)\n";
    return text.str();
}
