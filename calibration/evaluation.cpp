#include "evaluation.h"

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

namespace {

constexpr double kWorst = -std::numeric_limits<double>::infinity();

int parameterIndex(const Calibration& c, ParamKey key) {
    for (std::size_t j = 0; j < c.config.parameters.size(); ++j)
        if (c.config.parameters[j].key == key) return static_cast<int>(j);
    return -1;
}

// Whether some soil cell of some event gets Dm > Da under `values`.
bool capillaryTooDeep(const Calibration& c, const std::vector<double>& values) {
    const ParamChange change = changeOf(c, values);
    for (const LoadedEvent& e : c.events) {
        for (const int32_t i : e.soilCells) {
            const CellValues v = changedValues(e.event, i, change);
            if (v[kDm] > v[kDa]) return true;
        }
    }
    return false;
}

}  // namespace

bool repairSoilDepths(const Calibration& c, std::vector<double>& values) {
    const int jm = parameterIndex(c, kDm), ja = parameterIndex(c, kDa);
    if ((jm < 0 && ja < 0) || !capillaryTooDeep(c, values)) return true;
    const ParamChange change = changeOf(c, values);
    // The limit from every soil cell: a value, or a multiplier of the cell's map value.
    const bool lowerDm = jm >= 0;
    const std::size_t j = static_cast<std::size_t>(lowerDm ? jm : ja);
    double limit = lowerDm ? std::numeric_limits<double>::infinity() : 0.0;
    for (const LoadedEvent& e : c.events) {
        const bool map = paramFileValues(e.event.params)[lowerDm ? kDm : kDa] < 0.0;
        for (const int32_t i : e.soilCells) {
            const CellValues v = changedValues(e.event, i, change);
            const double own = map ? e.event.cellValues[static_cast<std::size_t>(i)][lowerDm ? kDm : kDa] : 1.0;
            if (lowerDm) {
                if (own > 0.0) limit = std::min(limit, v[kDa] / own);
            } else if (v[kDm] > 0.0) {
                if (!(own > 0.0)) return false;  // a map value of zero cannot be raised; nothing changed yet
                limit = std::max(limit, v[kDm] / own);
            }
        }
    }
    // The quotient may round to the wrong side of the limit: step until every cell holds.
    const double proposed = values[j];
    values[j] = limit;
    for (int step = 0; step < 64 && capillaryTooDeep(c, values); ++step) {
        values[j] = std::nextafter(values[j], lowerDm ? 0.0 : std::numeric_limits<double>::infinity());
    }
    if (!capillaryTooDeep(c, values) && values[j] >= c.space.min[j] && values[j] <= c.space.max[j]) return true;
    values[j] = proposed;
    return false;
}

double gaugeScore(Objective objective, const std::vector<float>& hourlyMeans, const GaugeData& gauge) {
    TimeSeries simulated;
    for (std::size_t h = 0; h < hourlyMeans.size(); ++h) {
        simulated.minutes.push_back(60.0 * static_cast<double>(h + 1));  // the end of its hour
        simulated.values.push_back(hourlyMeans[h]);
    }
    double score = 0.0;
    if (objective == Objective::kLogNse) {
        // NSE of log(q + c), c 1 % of the mean scored observation, so that
        // zero flows have a finite log and the low flows weigh in.
        SeriesPairs pairs = pairSeries(simulated, gauge.scored);
        for (double& v : pairs.observed.values) v = std::log(v + gauge.logOffset);
        for (double& v : pairs.simulated.values) v = std::log(v + gauge.logOffset);
        score = compareSeries(pairs.simulated, pairs.observed).nse;
    } else {
        const SkillScores s = compareSeries(simulated, gauge.scored);
        if (objective == Objective::kKge) score = s.kge;
        if (objective == Objective::kNse) score = s.nse;
        if (objective == Objective::kKge2012) {
            // The ratio of the coefficients of variation in place of that of the standard deviations.
            const double gamma = s.alpha / s.beta;
            score = 1.0 - std::sqrt((s.r - 1.0) * (s.r - 1.0) + (gamma - 1.0) * (gamma - 1.0) +
                                    (s.beta - 1.0) * (s.beta - 1.0));
        }
    }
    return std::isnan(score) ? kWorst : score;
}

double aggregateScore(const Calibration& c, const std::vector<double>& scores) {
    double sum = 0.0, weights = 0.0, worst = std::numeric_limits<double>::infinity();
    std::size_t k = 0;
    for (const LoadedEvent& e : c.events) {
        for (const GaugeData& g : e.gauges) {
            const double w = c.config.aggregate == Aggregate::kWeighted ? g.config.weight : 1.0;
            sum += w * scores[k];
            weights += w;
            worst = std::min(worst, scores[k]);
            ++k;
        }
    }
    return c.config.aggregate == Aggregate::kWorst ? worst : sum / weights;
}

namespace {

struct EventResult {
    bool failed = false;
    std::string message;
    std::vector<double> scores;
};

EventResult runEvent(const Calibration& c, std::size_t event, const std::vector<double>& values) {
    const LoadedEvent& e = c.events[event];
    const SelectionRun run = runSelection(e.event, e.selection, changeOf(c, values));
    EventResult result;
    result.failed = run.stopped;
    result.message = run.message;
    for (const GaugeData& g : e.gauges) result.scores.push_back(run.stopped ? kWorst : gaugeScore(c.config.objective, run.hourlyMeans[g.target], g));
    return result;
}

}  // namespace

std::vector<Outcome> evaluateBatch(const Calibration& c, const std::vector<std::vector<double>>& candidates, int threads,
                                   const std::function<void(int64_t, int64_t)>& finished) {
    std::vector<Outcome> outcomes(candidates.size());
    std::vector<char> rejected(candidates.size(), 0);
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        outcomes[k].values = candidates[k];
        rejected[k] = repairSoilDepths(c, outcomes[k].values) ? 0 : 1;
    }
    // Tasks: (candidate, event) pairs of the candidates that run.
    std::vector<std::pair<std::size_t, std::size_t>> tasks;
    for (std::size_t k = 0; k < candidates.size(); ++k)
        for (std::size_t e = 0; !rejected[k] && e < c.events.size(); ++e) tasks.emplace_back(k, e);
    std::vector<EventResult> results(tasks.size());

    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t done = 0;
    auto work = [&] {
        for (std::size_t t; (t = next.fetch_add(1)) < tasks.size();) {
            results[t] = runEvent(c, tasks[t].second, outcomes[tasks[t].first].values);
            const std::lock_guard<std::mutex> lock(mutex);
            ++done;
            changed.notify_one();
        }
    };
    std::vector<std::thread> workers;
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(std::max(threads, 1)), tasks.size());
    for (std::size_t w = 0; w < count; ++w) workers.emplace_back(work);
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (done < tasks.size()) {
            changed.wait(lock);
            const std::size_t now = done;
            lock.unlock();
            if (finished) finished(static_cast<int64_t>(now), static_cast<int64_t>(tasks.size()));
            lock.lock();
        }
    }
    for (std::thread& w : workers) w.join();

    // Scores in candidate and event order.
    std::size_t t = 0;
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        Outcome& o = outcomes[k];
        if (rejected[k]) {
            o.failed = true;
            o.message = "Dm deeper than Da cannot be repaired within the bounds";
            o.scores.assign(c.gaugeCount, kWorst);
        }
        for (std::size_t e = 0; !rejected[k] && e < c.events.size(); ++e, ++t) {
            if (results[t].failed && !o.failed) {
                o.failed = true;
                o.message = results[t].message;
            }
            o.scores.insert(o.scores.end(), results[t].scores.begin(), results[t].scores.end());
        }
        o.aggregate = o.failed ? kWorst : aggregateScore(c, o.scores);
    }
    return outcomes;
}

std::vector<std::vector<float>> gaugeHydrographs(const Calibration& c, std::size_t event, const std::vector<double>& values) {
    const LoadedEvent& e = c.events[event];
    const SelectionRun run = runSelection(e.event, e.selection, changeOf(c, values));
    std::vector<std::vector<float>> series;
    if (run.stopped) return series;
    for (const GaugeData& g : e.gauges) series.push_back(run.hourlyMeans[g.target]);
    return series;
}
