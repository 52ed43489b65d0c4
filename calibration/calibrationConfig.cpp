#include "calibrationConfig.h"

#include <toml++/toml.h>

#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

const char* objectiveName(Objective objective) {
    switch (objective) {
    case Objective::kKge: return "kge";
    case Objective::kKge2012: return "kge2012";
    case Objective::kNse: return "nse";
    case Objective::kLogNse: return "lognse";
    }
    return "";
}

namespace {

// The text with its control characters written as escapes (\n, \x01), so a
// message stays one line whatever a value of the file holds.
std::string printable(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string exactText(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    bytes = text.str();
    return true;
}

InputError configError(const CalibrationConfig& config, const KeyPlace& place, const std::string& problem) {
    return InputError(printable("Error: " + config.path + (place.line > 0 ? ":" + std::to_string(place.line) : "") + ": " +
                                place.key + ": " + problem) + "\n");
}

namespace {

// The checks of one table of the file: every key known, every value of its type.
struct TableReader {
    const CalibrationConfig& config;
    const toml::table& table;
    std::string prefix;  // "calibration.", "event[1]." ...
    int64_t line = 0;    // of the table's header

    KeyPlace place(const std::string& key) const {
        const toml::node* node = table.get(key);
        return {prefix + key, node ? static_cast<int64_t>(node->source().begin.line) : line};
    }
    [[noreturn]] void fail(const std::string& key, const std::string& problem) const {
        throw configError(config, place(key), problem);
    }

    void onlyKeys(std::initializer_list<const char*> known) const {
        for (auto&& [key, node] : table) {
            bool found = false;
            for (const char* k : known) found = found || key.str() == k;
            if (!found) {
                throw configError(config, {prefix + std::string(key.str()), static_cast<int64_t>(key.source().begin.line)},
                                  "unknown key.");
            }
        }
    }
    bool has(const std::string& key) const { return table.contains(key); }

    int64_t integer(const std::string& key, int64_t fallback, int64_t least, int64_t most) const {
        const toml::node* node = table.get(key);
        if (!node) return fallback;
        const std::optional<int64_t> v = node->value_exact<int64_t>();
        if (!v) fail(key, "must be a whole number.");
        if (*v < least || *v > most) {
            fail(key, "must be " + std::to_string(least) + " to " + std::to_string(most) + ", not " + std::to_string(*v) + ".");
        }
        return *v;
    }
    double real(const std::string& key, std::optional<double> fallback) const {
        const toml::node* node = table.get(key);
        if (!node) {
            if (!fallback) fail(key, "is missing.");
            return *fallback;
        }
        std::optional<double> v;
        if (node->is_floating_point()) v = node->as_floating_point()->get();
        if (node->is_integer()) v = static_cast<double>(node->as_integer()->get());
        if (!v) fail(key, "must be a number.");
        if (!std::isfinite(*v)) fail(key, "must be a finite number.");
        return *v;
    }
    std::string text(const std::string& key, std::optional<std::string> fallback) const {
        const toml::node* node = table.get(key);
        if (!node) {
            if (!fallback) fail(key, "is missing.");
            return *fallback;
        }
        if (!node->is_string()) fail(key, "must be a text in quotes.");
        return node->as_string()->get();
    }
    // One of `choices`; the first is the default.
    int choice(const std::string& key, std::initializer_list<const char*> choices) const {
        const std::string value = text(key, std::string(*choices.begin()));
        int index = 0;
        std::string list;
        for (const char* c : choices) {
            if (value == c) return index;
            list += (index == 0 ? "\"" : index + 1 == static_cast<int>(choices.size()) ? " or \"" : ", \"") + std::string(c) + "\"";
            ++index;
        }
        fail(key, "must be " + list + ", not \"" + value + "\".");
    }
};

// The tables of an array of tables `key` ([[event]]); none when it is missing.
std::vector<const toml::table*> tablesOf(const CalibrationConfig& config, const toml::table& parent, const std::string& key,
                                         const std::string& prefix, int64_t parentLine) {
    std::vector<const toml::table*> tables;
    const toml::node* node = parent.get(key);
    if (!node) return tables;
    const toml::array* array = node->as_array();
    if (!array || !array->is_array_of_tables()) {
        const int64_t line = static_cast<int64_t>(node->source().begin.line);
        throw configError(config, {prefix + key, line > 0 ? line : parentLine},
                          "must be given as [[" + (prefix.empty() ? key : "event." + key) + "]] tables.");
    }
    for (const toml::node& t : *array) tables.push_back(t.as_table());
    return tables;
}

std::string resolved(const std::string& folder, const std::string& path) {
    const std::filesystem::path p(path);
    return p.is_absolute() || folder.empty() ? path : (std::filesystem::path(folder) / p).string();
}

void readCalibrationTable(CalibrationConfig& config, const toml::table& root) {
    const toml::node* node = root.get("calibration");
    if (node && !node->is_table()) {
        throw configError(config, {"calibration", static_cast<int64_t>(node->source().begin.line)}, "must be a [calibration] table.");
    }
    static const toml::table empty;
    const toml::table& table = node ? *node->as_table() : empty;
    const TableReader r{config, table, "calibration.", node ? static_cast<int64_t>(node->source().begin.line) : 0};
    r.onlyKeys({"algorithm", "evaluations", "seed", "batch", "objective", "aggregate", "warmup_hours", "complexes", "initial"});
    config.algorithm = static_cast<Algorithm>(r.choice("algorithm", {"dds", "sce-ua"}));
    config.evaluations = r.integer("evaluations", config.evaluations, 1, 100000000);
    config.seed = static_cast<uint64_t>(r.integer("seed", 1, 0, INT64_MAX));
    config.batch = static_cast<int32_t>(r.integer("batch", config.batch, 1, 100000));
    config.objective = static_cast<Objective>(r.choice("objective", {"kge", "kge2012", "nse", "lognse"}));
    config.aggregate = static_cast<Aggregate>(r.choice("aggregate", {"mean", "weighted", "worst"}));
    config.warmupHours = static_cast<int32_t>(r.integer("warmup_hours", 0, 0, 366 * 24));
    config.complexes = static_cast<int32_t>(r.integer("complexes", config.complexes, 1, 1000));
    config.initial = static_cast<InitialPoint>(r.choice("initial", {"random", "file"}));
}

GaugeConfig readGauge(const CalibrationConfig& config, const toml::table& table, const std::string& prefix,
                      const std::string& folder) {
    const TableReader r{config, table, prefix, static_cast<int64_t>(table.source().begin.line)};
    r.onlyKeys({"cell", "observed", "weight", "start"});
    GaugeConfig gauge;
    gauge.cellKey = r.place("cell");
    const toml::node* cell = table.get("cell");
    if (!cell) r.fail("cell", "is missing: give the gauge's cell as [COLUMN, ROW].");
    const toml::array* numbers = cell->as_array();
    if (!numbers || numbers->size() != 2 || !(*numbers)[0].is_integer() || !(*numbers)[1].is_integer() ||
        (*numbers)[0].as_integer()->get() < 1 || (*numbers)[1].as_integer()->get() < 1 ||
        (*numbers)[0].as_integer()->get() > INT32_MAX || (*numbers)[1].as_integer()->get() > INT32_MAX) {
        r.fail("cell", "must be [COLUMN, ROW], two whole numbers from 1 (columns from the west, rows from the south).");
    }
    gauge.column = static_cast<int32_t>((*numbers)[0].as_integer()->get());
    gauge.row = static_cast<int32_t>((*numbers)[1].as_integer()->get());
    gauge.observed = r.text("observed", std::nullopt);
    gauge.observedPath = resolved(folder, gauge.observed);
    gauge.observedKey = r.place("observed");
    gauge.weight = r.real("weight", 1.0);
    if (!(gauge.weight > 0.0)) r.fail("weight", "must be larger than zero.");
    gauge.start = r.text("start", std::string());
    gauge.startKey = r.place("start");
    return gauge;
}

void readEvents(CalibrationConfig& config, const toml::table& root, const std::string& folder) {
    const std::vector<const toml::table*> tables = tablesOf(config, root, "event", "", 0);
    if (tables.empty()) throw configError(config, {"event", 0}, "no [[event]]: give at least one project with its gauges.");
    std::set<std::string> names;
    for (std::size_t e = 0; e < tables.size(); ++e) {
        const std::string prefix = "event[" + std::to_string(e + 1) + "].";
        const TableReader r{config, *tables[e], prefix, static_cast<int64_t>(tables[e]->source().begin.line)};
        r.onlyKeys({"project", "name", "gauge"});
        EventConfig event;
        event.project = r.text("project", std::nullopt);
        event.projectPath = resolved(folder, event.project);
        event.projectKey = r.place("project");
        if (!std::filesystem::is_directory(event.projectPath)) r.fail("project", "there is no project folder " + event.projectPath + ".");
        std::string fallback = std::filesystem::path(event.projectPath).lexically_normal().filename().string();
        if (fallback.empty() || fallback == "." || fallback == "..") {
            fallback = std::filesystem::weakly_canonical(event.projectPath).filename().string();
        }
        event.name = r.text("name", fallback);
        // The name is a folder of the results and part of the trace's column names.
        bool plain = !event.name.empty() && event.name != "." && event.name != "..";
        for (const char c : event.name) {
            plain = plain && static_cast<unsigned char>(c) > 0x20 && c != 0x7f && std::string(",;\"'/\\").find(c) == std::string::npos;
        }
        if (!plain) {
            r.fail(r.has("name") ? "name" : "project", "\"" + event.name + "\" cannot name the folder of the event's results: "
                                    "give the event a name without blanks, commas, quotes and slashes with the key name.");
        }
        if (!names.insert(event.name).second) {
            r.fail(r.has("name") ? "name" : "project", "a second event named \"" + event.name + "\": give each event its own name.");
        }
        const std::vector<const toml::table*> gauges = tablesOf(config, *tables[e], "gauge", prefix, r.line);
        if (gauges.empty()) throw configError(config, {prefix + "gauge", r.line}, "no [[event.gauge]] for this event.");
        for (std::size_t g = 0; g < gauges.size(); ++g) {
            event.gauges.push_back(readGauge(config, *gauges[g], prefix + "gauge[" + std::to_string(g + 1) + "].", folder));
        }
        config.events.push_back(std::move(event));
    }
}

void readParameters(CalibrationConfig& config, const toml::table& root) {
    const std::vector<const toml::table*> tables = tablesOf(config, root, "parameter", "", 0);
    if (tables.empty()) throw configError(config, {"parameter", 0}, "no [[parameter]]: give at least one parameter to calibrate.");
    std::array<bool, kParamCount> seen{};
    for (std::size_t p = 0; p < tables.size(); ++p) {
        const std::string prefix = "parameter[" + std::to_string(p + 1) + "].";
        const TableReader r{config, *tables[p], prefix, static_cast<int64_t>(tables[p]->source().begin.line)};
        r.onlyKeys({"name", "min", "max", "transform"});
        ParameterConfig param;
        const std::string name = r.text("name", std::nullopt);
        param.nameKey = r.place("name");
        int k = 0;
        while (k < kParamCount && name != kParamKeys[k]) ++k;
        if (k == kParamCount) r.fail("name", "\"" + name + "\" is none of Ns, Ka, Da, Dm, Beta, Nr and ROFinitial.");
        if (seen[static_cast<std::size_t>(k)]) r.fail("name", name + " is calibrated twice.");
        seen[static_cast<std::size_t>(k)] = true;
        param.key = static_cast<ParamKey>(k);
        param.min = r.real("min", std::nullopt);
        param.max = r.real("max", std::nullopt);
        param.logarithmic = r.choice("transform", {"none", "log"}) == 1;
        if (param.min < 0.0) r.fail("min", "must be zero or more, not " + exactText(param.min) + ".");
        if (!(param.min < param.max)) {
            r.fail("max", "must be larger than min (" + exactText(param.min) + "), not " + exactText(param.max) + ".");
        }
        if (param.logarithmic && !(param.min > 0.0)) r.fail("min", "must be larger than zero with transform = \"log\".");
        config.parameters.push_back(param);
    }
}

// The file as the TOML reader gets it: ASCII only. toml++ 3.3 meets an
// unreachable point (undefined behaviour) when it tests some characters
// beyond ASCII (U+00A1 to U+0499 among them) for whitespace, which it does
// in keys, after escapes and between tokens. So every character beyond ASCII
// in a string becomes its escape \uXXXX (a literal string becomes the basic
// string of the same value), in a comment a blank; elsewhere TOML allows
// none: that, and a string that is not UTF-8, is an InputError. Lines stay.
std::string asciiToml(const std::string& text, const std::string& path) {
    std::string out;
    std::size_t line = 1;
    auto fail = [&](const std::string& what) {
        return InputError("Error: " + path + ":" + std::to_string(line) + ": " + what + "\n");
    };
    // The code point of the UTF-8 sequence at k, k moved to its last byte.
    auto codePoint = [&](std::size_t& k) {
        const unsigned char b = static_cast<unsigned char>(text[k]);
        const int length = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
        if (length == 0 || k + static_cast<std::size_t>(length) > text.size()) throw fail("a string that is not UTF-8.");
        uint32_t c = b & (0x7Fu >> length);
        for (int i = 1; i < length; ++i) {
            const unsigned char n = static_cast<unsigned char>(text[k + static_cast<std::size_t>(i)]);
            if ((n & 0xC0u) != 0x80u) throw fail("a string that is not UTF-8.");
            c = c << 6 | (n & 0x3Fu);
        }
        const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) throw fail("a string that is not UTF-8.");
        k += static_cast<std::size_t>(length) - 1;
        char escape[16];
        std::snprintf(escape, sizeof escape, c > 0xFFFF ? "\\U%08X" : "\\u%04X", static_cast<unsigned>(c));
        return std::string(escape);
    };
    for (std::size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        if (c == '#') {
            for (; k < text.size() && text[k] != '\n'; ++k) out += static_cast<unsigned char>(text[k]) >= 0x80 ? ' ' : text[k];
            --k;
        } else if (c == '"' || c == '\'') {
            const bool literal = c == '\'', multiline = text.compare(k, 3, std::string(3, c)) == 0;
            out += multiline ? "\"\"\"" : "\"";
            for (k += multiline ? 3 : 1; k < text.size(); ++k) {
                const char d = text[k];
                if (d == c && (!multiline || text.compare(k, 3, std::string(3, c)) == 0)) {
                    std::size_t quotes = 1;
                    while (multiline && k + quotes < text.size() && text[k + quotes] == c && quotes < 5) ++quotes;
                    for (std::size_t q = multiline ? 3 : 1; q < quotes; ++q) out += literal ? "'" : "\\\"";
                    out += multiline ? "\"\"\"" : "\"";
                    k += quotes - 1;
                    break;
                }
                if (d == '\n') {
                    ++line;
                    if (!multiline) {  // unterminated: the reader stops at this line
                        out += d;
                        break;
                    }
                }
                if (static_cast<unsigned char>(d) >= 0x80) {
                    out += codePoint(k);
                } else if (literal && (d == '\\' || d == '"')) {
                    out += '\\';
                    out += d;
                } else if (!literal && d == '\\' && k + 1 < text.size()) {
                    if (static_cast<unsigned char>(text[k + 1]) >= 0x80) throw fail("an escape of a character beyond ASCII.");
                    if (text[k + 1] == '\n') ++line;
                    out += d;
                    out += text[++k];
                } else {
                    out += d;
                }
            }
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            throw fail("a character beyond ASCII outside quotes and comments.");
        } else {
            if (c == '\n') ++line;
            out += c;
        }
    }
    return out;
}

}  // namespace

CalibrationConfig readCalibrationConfig(const std::string& path) {
    CalibrationConfig config;
    config.path = path;
    std::string text;
    if (!readWholeFile(path, text)) throw InputError(printable("Error: the configuration " + path + " cannot open.") + "\n");
    toml::table root;
    try {
        root = toml::parse(asciiToml(text, printable(path)), path);
    } catch (const toml::parse_error& error) {
        std::string what(error.description());
        throw InputError(printable("Error: " + path + ":" + std::to_string(error.source().begin.line) + ": " + what +
                                   (what.empty() || what.back() == '.' ? "" : ".")) + "\n");
    }
    for (auto&& [key, node] : root) {
        const std::string k(key.str());
        if (k != "calibration" && k != "event" && k != "parameter") {
            throw configError(config, {k, static_cast<int64_t>(key.source().begin.line)},
                              "unknown key (the file holds [calibration], [[event]] and [[parameter]]).");
        }
    }
    const std::string folder = std::filesystem::path(path).parent_path().string();
    readCalibrationTable(config, root);
    readEvents(config, root, folder);
    readParameters(config, root);
    return config;
}

std::string canonicalText(const CalibrationConfig& c) {
    std::ostringstream text;
    text << "algorithm " << (c.algorithm == Algorithm::kDds ? "dds" : "sce-ua") << "\nevaluations " << c.evaluations
         << "\nseed " << c.seed << "\nbatch " << c.batch << "\nobjective " << objectiveName(c.objective) << "\naggregate "
         << static_cast<int>(c.aggregate) << "\nwarmup_hours " << c.warmupHours << "\ncomplexes " << c.complexes
         << "\ninitial " << static_cast<int>(c.initial) << '\n';
    for (const EventConfig& e : c.events) {
        text << "event " << e.name << ' ' << e.project << '\n';
        for (const GaugeConfig& g : e.gauges) {
            text << "gauge " << g.column << ' ' << g.row << ' ' << g.observed << ' ' << exactText(g.weight) << ' ' << g.start << '\n';
        }
    }
    for (const ParameterConfig& p : c.parameters) {
        text << "parameter " << kParamKeys[p.key] << ' ' << exactText(p.min) << ' ' << exactText(p.max) << ' '
             << (p.logarithmic ? "log" : "none") << '\n';
    }
    return text.str();
}
