// runEnsemble against runoffSim: on random projects with 2 to 7 random
// rainfall members, each member's discharge files equal runoffSim's with that
// member's rain as input/rain.bin, byte for byte, on 1, 2 and 3 threads (and
// from a saved state as runoffSim --initial-state), and output/ensemble.nc
// holds the products computed here, independently, from those files. Then the
// refusals, and the file as xarray reads it.

#include "ensembleCommand.h"
#include "ensembleInputs.h"
#include "ensembleProducts.h"
#include "ensembleRun.h"
#include "driver.h"
#include "randomProject.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

uint64_t splitmix(uint64_t& state) {
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}
double uniform(uint64_t& state) { return static_cast<double>(splitmix(state) >> 11) * 0x1.0p-53; }

const char* const kFiles[3] = {"discharge10minSnapshot.bin", "discharge10minMean.bin", "dischargeHourlyMean.bin"};

// The random project of `seed` with binary rainfall, `members` random members
// and a threshold grid "levels.asc"; returns the member count.
int writeEnsembleProject(uint64_t seed) {
    writeRandomProject(seed);
    std::vector<std::string> words = wordsOf("param-hsx-event-ver400.dat");
    words[ParamText::kRainFormat] = "2";
    std::string text;
    for (const std::string& w : words) text += w + "\n";
    writeText("param-hsx-event-ver400.dat", text);
    const int cols = std::stoi(words[ParamText::kNcols]), rows = std::stoi(words[ParamText::kNrows]);
    const std::size_t values = static_cast<std::size_t>(std::stoi(words[ParamText::kRainCols]) *
                                                        std::stoi(words[ParamText::kRainRows])) *
                               static_cast<std::size_t>(std::stoi(words[ParamText::kDays])) * 24 *
                               static_cast<std::size_t>(60 / std::stoi(words[ParamText::kRainInterval]));
    uint64_t state = seed * 7919;
    const int members = 2 + static_cast<int>(splitmix(state) % 6);
    fs::create_directories("input/ensemble");
    for (int m = 0; m < members; ++m) {
        const double peak = 80.0 * uniform(state);
        std::vector<float> rain(values);
        for (float& v : rain) v = uniform(state) < 0.3 ? 0.0f : static_cast<float>(peak * uniform(state));
        char name[64];
        std::snprintf(name, sizeof name, "input/ensemble/rain.%03d.bin", m);
        writeBinary(name, rain);
    }
    std::string grid = "ncols " + std::to_string(cols) + "\nnrows " + std::to_string(rows) + "\nxllcorner " +
                       words[ParamText::kXll] + "\nyllcorner " + words[ParamText::kYll] +
                       "\ncellsize 0.0083333333333\nNODATA_value -9999\n";
    for (int k = 0; k < cols * rows; ++k)
        grid += uniform(state) < 0.2 ? "-9999 " : std::to_string(0.5 * uniform(state)) + " ";
    writeText("levels.asc", grid);
    return members;
}

// What the test reads of the products, per grid index (row 0 north).
struct Products {
    std::vector<float> probability, peakQuantiles, peakMean, series, seriesQuantiles;
    std::vector<int32_t> count;
    std::vector<double> halfTime;
};

float quantile7(std::vector<double> x, double p) {
    std::sort(x.begin(), x.end());
    const double h = static_cast<double>(x.size() - 1) * p;
    const std::size_t lo = static_cast<std::size_t>(h);
    if (lo + 1 >= x.size()) return static_cast<float>(x.back());
    return static_cast<float>(x[lo] + (h - std::floor(h)) * (x[lo + 1] - x[lo]));
}

// The products from the members' hourly files (`hourly[m]`, file order, empty
// for a member that stopped), for the threshold grid `levels` (row 0 north,
// NaN: none) and the kept cells `sites` (grid indices).
Products expectedProducts(const std::vector<std::vector<float>>& hourly, int rows, int cols,
                          const std::vector<float>& levels, const std::vector<int32_t>& sites) {
    const std::size_t cells = static_cast<std::size_t>(rows * cols);
    std::vector<const std::vector<float>*> counted;
    for (const auto& h : hourly)
        if (!h.empty()) counted.push_back(&h);
    const std::size_t n = counted.size(), hours = counted.front()->size() / cells;
    const double levelsOf[5] = {0.05, 0.25, 0.5, 0.75, 0.95};
    Products p;
    p.probability.assign(cells, -9999.0f);
    p.count.assign(cells, -9999);
    p.halfTime.assign(cells, -9999.0);
    p.peakMean.assign(cells, -9999.0f);
    p.peakQuantiles.assign(5 * cells, -9999.0f);
    const auto at = [&](const std::vector<float>& v, std::size_t h, std::size_t i) {
        const std::size_t r = i / static_cast<std::size_t>(cols), c = i % static_cast<std::size_t>(cols);
        return v[h * cells + (static_cast<std::size_t>(rows) - 1 - r) * static_cast<std::size_t>(cols) + c];
    };
    for (std::size_t i = 0; i < cells; ++i) {
        if (at(*counted[0], 0, i) == -9999.0f) continue;  // no data in the files
        std::vector<double> peaks;
        std::vector<std::size_t> firsts;
        double sum = 0.0;
        for (const auto* v : counted) {
            float peak = at(*v, 0, i);
            std::size_t first = hours;
            for (std::size_t h = 0; h < hours; ++h) {
                peak = std::max(peak, at(*v, h, i));
                if (first == hours && !std::isnan(levels[i]) && at(*v, h, i) > levels[i]) first = h;
            }
            peaks.push_back(peak);
            sum += peak;
            if (first < hours) firsts.push_back(first);
        }
        p.peakMean[i] = static_cast<float>(sum / static_cast<double>(n));
        for (int q = 0; q < 5; ++q) p.peakQuantiles[static_cast<std::size_t>(q) * cells + i] = quantile7(peaks, levelsOf[q]);
        if (std::isnan(levels[i])) continue;
        p.count[i] = static_cast<int32_t>(firsts.size());
        p.probability[i] = static_cast<float>(static_cast<double>(firsts.size()) / static_cast<double>(n));
        std::sort(firsts.begin(), firsts.end());
        if (firsts.size() * 2 >= n && !firsts.empty()) p.halfTime[i] = static_cast<double>(firsts[(n + 1) / 2 - 1] + 1) * 60.0;
    }
    for (std::size_t m = 0; m < hourly.size(); ++m)
        for (const int32_t s : sites)
            for (std::size_t h = 0; h < hours; ++h)
                p.series.push_back(hourly[m].empty() ? -9999.0f : at(hourly[m], h, static_cast<std::size_t>(s)));
    p.seriesQuantiles.resize(5 * sites.size() * hours);
    for (int q = 0; q < 5; ++q)
        for (std::size_t s = 0; s < sites.size(); ++s)
            for (std::size_t h = 0; h < hours; ++h) {
                std::vector<double> x;
                for (const auto* v : counted) x.push_back(at(*v, h, static_cast<std::size_t>(sites[s])));
                p.seriesQuantiles[(static_cast<std::size_t>(q) * sites.size() + s) * hours + h] = quantile7(x, levelsOf[q]);
            }
    return p;
}

template <typename T>
std::vector<T> ncRead(int nc, const char* name) {
    int var = -1, dims = 0, dimIds[NC_MAX_VAR_DIMS];
    if (nc_inq_varid(nc, name, &var) != NC_NOERR) return {};
    nc_inq_varndims(nc, var, &dims);
    nc_inq_vardimid(nc, var, dimIds);
    std::size_t size = 1;
    for (int d = 0; d < dims; ++d) {
        std::size_t length = 0;
        nc_inq_dimlen(nc, dimIds[d], &length);
        size *= length;
    }
    std::vector<T> values(size);
    if constexpr (std::is_same_v<T, float>) nc_get_var_float(nc, var, values.data());
    if constexpr (std::is_same_v<T, double>) nc_get_var_double(nc, var, values.data());
    if constexpr (std::is_same_v<T, int32_t>) nc_get_var_int(nc, var, values.data());
    return values;
}

Products fileProducts(const std::string& path) {
    int nc = -1;
    EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &nc), NC_NOERR);
    Products p{ncRead<float>(nc, "exceedance_probability_grid"), ncRead<float>(nc, "peak_discharge_quantile"),
               ncRead<float>(nc, "peak_discharge_mean"),          ncRead<float>(nc, "discharge_series"),
               ncRead<float>(nc, "discharge_series_quantile"),    ncRead<int32_t>(nc, "exceedance_count_grid"),
               ncRead<double>(nc, "half_exceedance_time_grid")};
    nc_close(nc);
    return p;
}

// Floats compared by their bits, so that a difference in the last place shows.
std::vector<uint32_t> bitsOf(const std::vector<float>& v) {
    std::vector<uint32_t> bits(v.size());
    if (!v.empty()) std::memcpy(bits.data(), v.data(), v.size() * 4);
    return bits;
}

RunResult runEnsemble(const std::vector<std::string>& args, std::string* errors = nullptr) {
    std::ostringstream err;
    const RunResult run = runCaptured([&](std::ostream& out) {
        return runEnsembleProgram(parseEnsembleOptions(args), out, err);
    });
    if (errors) *errors = err.str();
    return run;
}

TEST(EnsembleRun, EachMemberIsRunoffSimsRunAndTheProductsFollowFromTheFiles) {
    // Small events with every feature: reservoirs, dams of each kind (60: one
    // of an unknown kind, where every member stops), parameter maps, cached
    // orders that repeat cells (7, 43).
    const uint64_t seeds[] = {43, 28, 29, 60, 37, 48, 26, 7, 16};
    for (const uint64_t seed : seeds) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        ScratchDir dir(kRandomProjectDirs);
        const int members = writeEnsembleProject(seed);
        const Event event = loadEvent(".", LoadOptions{false});
        // runoffSim with each member's rain.
        std::vector<std::array<std::string, 3>> reference(static_cast<std::size_t>(members));
        std::vector<std::vector<float>> hourly(static_cast<std::size_t>(members));
        bool anyFinished = false;
        for (int m = 0; m < members; ++m) {
            char name[64];
            std::snprintf(name, sizeof name, "input/ensemble/rain.%03d.bin", m);
            fs::copy_file(name, "input/rain.bin", fs::copy_options::overwrite_existing);
            RunOptions options;
            if (runCaptured([&](std::ostream& out) { return runSimulation(out, options); }).status != 0) continue;
            anyFinished = true;
            for (int k = 0; k < 3; ++k) reference[static_cast<std::size_t>(m)][static_cast<std::size_t>(k)] = readFile(std::string("output/") + kFiles[k]);
            hourly[static_cast<std::size_t>(m)] = readBinary<float>("output/dischargeHourlyMean.bin");
        }
        // A kept point: the first cell of the files that has data.
        std::vector<std::string> args = {"--member-files", "--threshold", "none=0", "--threshold", "grid=levels.asc"};
        std::vector<int32_t> sites;
        for (int32_t i = 0; i < static_cast<int32_t>(event.grid.cellCount()); ++i) {
            if (event.grid.isEdgeAt(i) || !isListedRiver(event.riverNumList, event.grid.riverNumAt(i))) continue;
            args.insert(args.end(), {"--point", std::to_string(event.grid.colOf(i) + 1),
                                     std::to_string(event.grid.nrows - event.grid.rowOf(i))});
            sites.push_back(i);
            break;
        }
        for (const Dam& d : event.dams) sites.push_back(d.cell);
        for (const Reservoir& r : event.reservoirs) sites.push_back(r.cell);

        for (const int threads : {1, 2, 3}) {
            SCOPED_TRACE(std::to_string(threads) + " threads");
            fs::remove_all("output/ensemble");
            fs::remove("output/ensemble.nc");
            std::vector<std::string> withThreads = args;
            withThreads.insert(withThreads.end(), {"--threads", std::to_string(threads)});
            std::string errors;
            const RunResult run = runEnsemble(withThreads, &errors);
            ASSERT_EQ(run.status, anyFinished ? 0 : 1) << run.output << errors;
            EXPECT_EQ(fs::exists("output/ensemble.nc"), anyFinished);
            for (int m = 0; m < members; ++m) {
                char member[64];
                std::snprintf(member, sizeof member, "output/ensemble/%03d/", m);
                for (int k = 0; k < 3; ++k) {
                    const std::string& expected = reference[static_cast<std::size_t>(m)][static_cast<std::size_t>(k)];
                    const std::string path = member + std::string(kFiles[k]);
                    EXPECT_EQ(fs::exists(path), !expected.empty()) << path;
                    if (!expected.empty()) {
                        EXPECT_TRUE(readFile(path) == expected) << path;
                    }
                }
                // A member that stops is named on standard error.
                EXPECT_EQ(errors.find("Member " + std::to_string(m) + " ") != std::string::npos,
                          hourly[static_cast<std::size_t>(m)].empty());
            }
            if (!anyFinished) continue;
            std::vector<float> levels(event.grid.cellCount(), std::numeric_limits<float>::quiet_NaN());
            {
                const std::vector<std::string> grid = wordsOf("levels.asc");
                for (std::size_t i = 0; i < levels.size(); ++i)
                    if (grid[12 + i] != "-9999") levels[i] = std::stof(grid[12 + i]);
            }
            const Products expected = expectedProducts(hourly, event.grid.nrows, event.grid.ncols, levels, sites);
            const Products file = fileProducts("output/ensemble.nc");
            EXPECT_EQ(bitsOf(file.probability), bitsOf(expected.probability));
            EXPECT_EQ(file.count, expected.count);
            EXPECT_EQ(file.halfTime, expected.halfTime);
            EXPECT_EQ(bitsOf(file.peakQuantiles), bitsOf(expected.peakQuantiles));
            EXPECT_EQ(bitsOf(file.peakMean), bitsOf(expected.peakMean));
            EXPECT_EQ(bitsOf(file.series), bitsOf(expected.series));
            EXPECT_EQ(bitsOf(file.seriesQuantiles), bitsOf(expected.seriesQuantiles));
        }
        // From a saved state: each member as runoffSim --initial-state runs it.
        if (anyFinished && seed % 4 == 0) {
            RunOptions save;
            save.saveState = "state.bin";
            save.saveAt = 5;
            fs::copy_file("input/ensemble/rain.000.bin", "input/rain.bin", fs::copy_options::overwrite_existing);
            if (runCaptured([&](std::ostream& out) { return runSimulation(out, save); }).status == 0) {
                fs::remove_all("output/ensemble");
                ASSERT_EQ(runEnsemble({"--member-files", "--threads", "2", "--initial-state", "state.bin"}).status, 0);
                for (int m = 0; m < members; ++m) {
                    char name[64];
                    std::snprintf(name, sizeof name, "input/ensemble/rain.%03d.bin", m);
                    fs::copy_file(name, "input/rain.bin", fs::copy_options::overwrite_existing);
                    RunOptions warm;
                    warm.initialState = "state.bin";
                    if (runCaptured([&](std::ostream& out) { return runSimulation(out, warm); }).status != 0) continue;
                    std::snprintf(name, sizeof name, "output/ensemble/%03d/", m);
                    for (const char* file : kFiles)
                        EXPECT_TRUE(readFile(name + std::string(file)) == readFile(std::string("output/") + file))
                            << "from the state: " << name << file;
                }
            }
        }
        // A member whose rain makes the flow infinite stops alone: it is left
        // out, and the others keep their results.
        if (!anyFinished || seed % 2 != 0) continue;
        std::vector<RainGrid> rain = readMembers(event, findMemberFiles());
        for (RainPoint& point : rain[0].points) std::fill(point.rainSeries.begin(), point.rainSeries.end(), INFINITY);
        EnsembleSetup setup;
        setup.threads = 2;
        const MemberResults results = runMembers(event, rain, setup);
        for (int m = 1; m < members; ++m) {
            ASSERT_EQ(results.stops[static_cast<std::size_t>(m)].stopped, hourly[static_cast<std::size_t>(m)].empty());
        }
        if (results.stops[0].stopped) {
            EXPECT_NE(results.stops[0].message.find(" is no longer a finite number at day "), std::string::npos)
                << results.stops[0].message;
            const EnsembleProducts products = makeProducts(event, results, {}, 0);
            EXPECT_EQ(std::count(products.counted.begin(), products.counted.end(), 0), 0);
        }
    }
}

TEST(EnsembleRun, RefusesBadInputsWithOneLineAndWritesNothing) {
    ScratchDir dir(kRandomProjectDirs);
    writeEnsembleProject(3);
    const std::string member1 = "input/ensemble/rain.001.bin";
    const std::string good = readFile(member1);
    std::vector<float> notFinite = readBinary<float>(member1);
    notFinite.back() = NAN;
    writeText("tiny.asc", "ncols 1\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n5\n");
    std::string negative = readFile("levels.asc");
    negative.replace(negative.rfind(' ', negative.size() - 2) + 1, std::string::npos, "-1 ");
    writeText("negativeLevels.asc", negative);
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"gap", {}}, {"short", {}}, {"long", {}}, {"nan", {}}, {"none", {}},
        {"", {"--threshold", "q5=-1"}},
        {"", {"--threshold", "5q=3"}},
        {"", {"--threshold", "q=1", "--threshold", "q=2"}},
        {"", {"--threshold", "q=missing.asc"}},
        {"", {"--threshold", "q=tiny.asc"}},
        {"", {"--threshold", "q=negativeLevels.asc"}},
        {"", {"--point", "99", "1"}},
        {"", {"--point", "1", "1"}},
        {"", {"--point", "0", "1"}},
        {"", {"--frobnicate"}},
    };
    for (const auto& [change, extra] : cases) {
        std::vector<std::string> args = {"--member-files", "--threshold", "ok=1"};
        args.insert(args.end(), extra.begin(), extra.end());
        SCOPED_TRACE(change + (extra.empty() ? "" : extra.back()));
        writeText(member1, good);
        if (change == "gap") fs::rename(member1, "input/ensemble/rain.002x.bin");
        if (change == "short") writeText(member1, good.substr(4));
        if (change == "long") writeText(member1, good + "abcd");
        if (change == "nan") writeBinary(member1, notFinite);
        if (change == "none") fs::rename("input/ensemble", "input/elsewhere");
        if (change == "gap") writeText("input/ensemble/rain.002.bin", good);
        const RunResult run = runEnsemble(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output.rfind("Error: ", 0), 0u) << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
        EXPECT_FALSE(fs::exists("output/ensemble.nc"));
        EXPECT_FALSE(fs::exists("output/ensemble"));
        if (change == "gap") {
            fs::remove("input/ensemble/rain.002.bin");
            fs::rename("input/ensemble/rain.002x.bin", member1);
        }
        if (change == "none") fs::rename("input/elsewhere", "input/ensemble");
    }
}

// xarray, as users open the file: the members on a dimension "realization"
// whose coordinate says so, probabilities in [0, 1], quantiles in order.
TEST(EnsembleRun, OpensInXarray) {
    // The first Python that has xarray: the one on the PATH, else the system's.
    std::string python;
    for (const char* candidate : {"python3", "/usr/bin/python3"}) {
        if (std::system((std::string(candidate) + " -c 'import xarray' >/dev/null 2>&1").c_str()) == 0) {
            python = candidate;
            break;
        }
    }
    if (python.empty()) GTEST_SKIP() << "python3 with xarray is not installed (Debian: python3-xarray python3-netcdf4)";
    ScratchDir dir(kRandomProjectDirs);
    writeEnsembleProject(16);  // two dams and two reservoirs
    std::string errors;
    const RunResult run = runEnsemble({"--threshold", "grid=levels.asc"}, &errors);
    ASSERT_EQ(run.status, 0) << run.output << errors;
    writeText("check.py",
              "import sys, numpy as np, xarray as xr\n"
              "ds = xr.open_dataset('output/ensemble.nc')\n"
              "assert ds['realization'].attrs['standard_name'] == 'realization'\n"
              "assert ds['discharge_series'].dims == ('realization', 'station', 'time'), ds['discharge_series'].dims\n"
              "assert list(ds['realization'].values) == list(range(ds.sizes['realization']))\n"
              "p = ds['exceedance_probability_grid'].values\n"
              "assert np.all((p[~np.isnan(p)] >= 0) & (p[~np.isnan(p)] <= 1))\n"
              "assert np.isfinite(p).any()\n"
              "for name in ['peak_discharge_quantile', 'discharge_series_quantile']:\n"
              "    q = ds[name].values\n"
              "    d = np.diff(q, axis=0)\n"
              "    assert np.all(d[~np.isnan(d)] >= 0), name\n"
              "print('ok')\n");
    const int status = std::system((python + " check.py > check.log 2>&1").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFile("check.log");
}

}  // namespace
