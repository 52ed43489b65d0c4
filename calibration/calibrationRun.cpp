#include "calibrationRun.h"

#include "calibrationResults.h"
#include "commandLine.h"
#include "inputError.h"
#include "progressLine.h"
#include "trace.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <thread>

std::string calibrateUsage() {
    return "Usage: calibrateModel CONFIG.toml [--threads N] [--resume] [-o DIR]\n"
           "\n"
           "Fits parameters of the model to observed discharge at gauges: runs the model in\n"
           "process on the cells upstream of each gauge, for every candidate that DDS or\n"
           "SCE-UA proposes, and scores the hourly means against the observations (KGE,\n"
           "KGE', NSE or NSE of log flows). CONFIG.toml names the events (prepared\n"
           "projects), their gauges and the parameters with their ranges; README.md lists\n"
           "every key. The same configuration gives the same results, byte for byte, with\n"
           "any number of threads.\n"
           "\n"
           "In DIR: trace.csv (every evaluation, written batch by batch), best.toml, for\n"
           "each event best/EVENT/param-hsx-event-ver400.dat with the best values, the\n"
           "best hydrograph of each gauge against its observations\n"
           "(best/EVENT/hydrograph-COL-ROW.svg and -skill.csv), and convergence.svg.\n"
           "\n"
           "Options:\n"
           "  --threads N      evaluations run side by side (default: every hardware thread)\n"
           "  --resume         go on with the trace of an interrupted calibration; without\n"
           "                   it an existing trace is not touched\n"
           "  -o, --output DIR the folder of the results (default: the folder of CONFIG.toml)\n"
           "  -h, --help       show this text\n"
           "  --version        show the version\n";
}

CalibrateOptions parseCalibrateOptions(const std::vector<std::string>& args) {
    CalibrateOptions options;
    CommandLine line(args, "calibrateModel");
    int files = 0;
    while (line.advance()) {
        if (line.takeInfoOption(options.help, options.version)) continue;
        if (line.argument == "--threads") {
            options.threads = line.positiveCount(line.value());
        } else if (line.argument == "--resume") {
            options.resume = true;
        } else if (line.argument == "-o" || line.argument == "--output") {
            options.outputDir = line.value();
        } else if (line.isOption()) {
            throw line.error("unknown option " + line.argument + ".");
        } else {
            options.configPath = line.argument;
            ++files;
        }
    }
    if (!options.help && !options.version && files != 1) throw line.error("give one configuration file.");
    return options;
}

namespace {

std::string fixed(double v, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string padded(const std::string& s, std::size_t width) { return s.size() < width ? s + std::string(width - s.size(), ' ') : s + " "; }

std::string general(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

// The search, its trace and its console.
struct Session {
    const Calibration& calibration;
    int threads = 1;
    std::ostream& out;
    TraceWriter trace;
    std::vector<Outcome> outcomes;  // every evaluation so far, the resumed ones first
    std::size_t resumed = 0;
    int64_t handedOut = 0;          // candidates the search has proposed
    ProgressLine progress = startProgress();
    bool showing = progressWanted();
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    Session(const Calibration& c, int t, std::ostream& o) : calibration(c), threads(t), out(o) {}

    std::vector<Evaluated> evaluate(const std::vector<std::vector<double>>& candidates);
    void batchLine(std::size_t fresh, std::size_t failed);
};

std::vector<Evaluated> Session::evaluate(const std::vector<std::vector<double>>& candidates) {
    const int64_t first = handedOut;  // evaluation number - 1 of candidates[0]
    handedOut += static_cast<int64_t>(candidates.size());
    // The resumed evaluations come from the trace; they must be the very candidates proposed now.
    std::vector<std::vector<double>> fresh;
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        const std::size_t number = static_cast<std::size_t>(first) + k;
        if (number >= outcomes.size()) {
            fresh.push_back(candidates[k]);
            continue;
        }
        std::vector<double> values = candidates[k];
        repairSoilDepths(calibration, values);
        if (std::memcmp(values.data(), outcomes[number].values.data(), values.size() * sizeof(double)) != 0) {
            throw InputError("Error: " + trace.path + " line " + std::to_string(number + 3) + ": evaluation " +
                             std::to_string(number + 1) + " holds other values than this calibration proposes; "
                             "the trace was edited or written by another version. Remove it to start again.\n");
        }
    }
    if (!fresh.empty()) {
        const int64_t before = static_cast<int64_t>(outcomes.size() - resumed);
        const int64_t total = calibration.config.evaluations - static_cast<int64_t>(resumed);
        const int64_t batch = static_cast<int64_t>(fresh.size());
        std::vector<Outcome> results = evaluateBatch(calibration, fresh, threads, [&](int64_t done, int64_t tasks) {
            if (showing) showProgress(progress, before + done * batch / tasks, total, "evaluations");
        });
        std::string lines;
        std::size_t failed = 0;
        for (Outcome& o : results) {
            lines += traceLine(static_cast<int64_t>(outcomes.size()) + 1, o);
            failed += o.failed ? 1 : 0;
            outcomes.push_back(std::move(o));
        }
        appendTrace(trace, lines);
        batchLine(fresh.size(), failed);
    }
    std::vector<Evaluated> evaluated;
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        const Outcome& o = outcomes[static_cast<std::size_t>(first) + k];
        evaluated.push_back({o.values, o.failed ? -INFINITY : o.aggregate});
    }
    return evaluated;
}

void Session::batchLine(std::size_t fresh, std::size_t failed) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double doneHere = static_cast<double>(outcomes.size() - resumed);
    const double left = elapsed / doneHere * static_cast<double>(calibration.config.evaluations - static_cast<int64_t>(outcomes.size()));
    const int64_t best = bestEvaluation(outcomes);
    clearBeforeOutput(progress);
    out << "Evaluations " << outcomes.size() << "/" << calibration.config.evaluations << ": best "
        << objectiveName(calibration.config.objective) << " "
        << (best >= 0 ? fixed(outcomes[static_cast<std::size_t>(best)].aggregate, 6) : std::string("none"))
        << ", elapsed " << durationText(elapsed) << ", about " << durationText(left) << " left";
    if (failed) out << " (" << failed << " of " << fresh << " failed)";
    out << std::endl;
}

void summary(const Calibration& c, const std::vector<Outcome>& outcomes, int64_t best, std::ostream& out) {
    const Outcome& o = outcomes[static_cast<std::size_t>(best)];
    std::size_t failed = 0;
    const Outcome* firstFailed = nullptr;
    for (const Outcome& x : outcomes) {
        failed += x.failed ? 1 : 0;
        if (x.failed && !firstFailed && !x.message.empty()) firstFailed = &x;
    }
    const std::string name = objectiveName(c.config.objective);
    out << "\nBest: evaluation " << best + 1 << " of " << outcomes.size() << ", " << name << " " << fixed(o.aggregate, 6)
        << (c.gaugeCount > 1 ? std::string(" (") + (c.config.aggregate == Aggregate::kMean ? "mean" : c.config.aggregate == Aggregate::kWeighted ? "weighted mean" : "worst") + " of the gauges)" : "")
        << "\n\n  " << padded("Parameter", 12) << padded("min", 14) << padded("max", 14) << padded("best", 14) << "scale\n";
    for (std::size_t j = 0; j < c.config.parameters.size(); ++j) {
        const ParameterConfig& p = c.config.parameters[j];
        const bool map = paramFileValues(c.events[0].event.params)[p.key] < 0.0;
        out << "  " << padded(kParamKeys[p.key], 12) << padded(general(p.min), 14) << padded(general(p.max), 14)
            << padded(general(o.values[j]), 14) << (p.logarithmic ? "log" : "linear") << (map ? ", multiplier of the map" : "") << '\n';
    }
    out << "\n  " << padded("Event", 16) << padded("Gauge", 22) << name << '\n';
    std::size_t k = 0;
    for (const LoadedEvent& e : c.events) {
        for (const GaugeData& g : e.gauges) {
            out << "  " << padded(e.config.name, 16)
                << padded("column " + std::to_string(g.config.column) + ", row " + std::to_string(g.config.row), 22)
                << fixed(o.scores[k++], 6) << '\n';
        }
    }
    if (failed) {
        out << "\nFailed evaluations: " << failed;
        if (firstFailed) {
            std::string message = firstFailed->message;
            for (char& ch : message)
                if (ch == '\n') ch = ' ';
            out << " (evaluation " << (firstFailed - outcomes.data()) + 1 << ": " << message << ")";
        }
        out << '\n';
    }
    out << '\n';
}

}  // namespace

int runCalibration(const CalibrateOptions& options, std::ostream& out) {
    namespace fs = std::filesystem;
    const CalibrationConfig config = readCalibrationConfig(options.configPath);
    const Calibration calibration = loadCalibration(config);
    const std::string folder = fs::path(options.configPath).parent_path().string();
    const std::string directory = !options.outputDir.empty() ? options.outputDir : folder.empty() ? "." : folder;
    const std::string tracePath = (fs::path(directory) / "trace.csv").string();
    const int threads = options.threads > 0 ? options.threads : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));

    // Everything is checked before the first byte is written.
    Session session(calibration, threads, out);
    TraceContents existing;
    std::error_code ec;
    if (fs::exists(tracePath, ec)) {
        if (!options.resume) {
            throw InputError("Error: " + tracePath + " exists: give --resume to go on with it, or remove it to start again.\n");
        }
        existing = readTrace(tracePath, calibration);
    }
    // A results folder that is a project's own folder would overwrite its parameter file.
    for (const LoadedEvent& e : calibration.events) {
        const fs::path results = fs::weakly_canonical(fs::path(directory) / eventResultFolder(e), ec);
        if (results == fs::weakly_canonical(e.config.projectPath, ec)) {
            throw configError(config, e.config.projectKey, "the event's results would go into its own project folder " +
                                                              e.config.projectPath + "; give the event another name or -o.");
        }
    }
    fs::create_directories(directory, ec);
    if (ec) throw InputError("Error: the folder " + directory + " cannot be made: " + ec.message() + ".\n");
    openTrace(session.trace, tracePath, traceHeader(calibration), !existing.headerComplete, existing.completeBytes);
    session.outcomes = std::move(existing.outcomes);
    session.resumed = session.outcomes.size();

    const std::size_t n = config.parameters.size();
    out << "calibrateModel: " << n << (n == 1 ? " parameter, " : " parameters, ") << calibration.gaugeCount
        << (calibration.gaugeCount == 1 ? " gauge" : " gauges") << " in " << calibration.events.size()
        << (calibration.events.size() == 1 ? " event" : " events") << "; "
        << (config.algorithm == Algorithm::kDds ? "DDS" : "SCE-UA with " + std::to_string(config.complexes) + " complexes")
        << ", " << config.evaluations << " evaluations"
        << (config.algorithm == Algorithm::kDds ? " in batches of " + std::to_string(config.batch) : "") << ", seed "
        << config.seed << ", objective " << objectiveName(config.objective) << "; " << threads
        << (threads == 1 ? " thread" : " threads") << ".\n"
        << "Trace: " << tracePath << " (configuration " << calibration.hash << ")\n";
    if (session.resumed) out << "Resumed: " << session.resumed << " evaluations from the trace.\n";
    out.flush();

    SearchSettings settings;
    settings.space = calibration.space;
    settings.budget = config.evaluations;
    settings.seed = config.seed;
    settings.batch = config.batch;
    settings.complexes = config.complexes;
    settings.initial = calibration.initial;
    const BatchEvaluator evaluate = [&](const std::vector<std::vector<double>>& candidates) { return session.evaluate(candidates); };
    if (config.algorithm == Algorithm::kDds) {
        runDds(settings, evaluate);
    } else {
        runSceUa(settings, evaluate);
    }
    clearProgress(session.progress);

    const int64_t best = bestEvaluation(session.outcomes);
    if (best < 0) {
        throw InputError("Error: every evaluation failed (see " + tracePath + "); check the parameters' ranges.\n");
    }
    summary(calibration, session.outcomes, best, out);
    writeCalibrationResults(calibration, session.outcomes, best, directory, out);
    return 0;
}
