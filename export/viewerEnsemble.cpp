#include "viewerEnsemble.h"

#include "inputError.h"

#include <netcdf.h>

#include <filesystem>

namespace {

// The open file, closed when it goes out of scope; every failure an InputError naming it.
struct NcInput {
    int id = -1;
    ~NcInput() {
        if (id >= 0) nc_close(id);
    }
    [[noreturn]] static void fail(const std::string& what) {
        throw InputError(std::string("Error: ") + kEnsembleFile + " " + what + ".\n");
    }
    static void check(int status, const std::string& what) {
        if (status != NC_NOERR) fail(what + ": " + nc_strerror(status));
    }
    int dim(const char* name, std::size_t& length) const {
        int d = -1;
        check(nc_inq_dimid(id, name, &d), std::string("has no dimension ") + name);
        check(nc_inq_dimlen(id, d, &length), std::string("cannot give the length of ") + name);
        return d;
    }
    // The variable, which must lie on exactly the dimensions `dims`.
    int var(const std::string& name, const std::vector<int>& dims) const {
        int v = -1, count = 0;
        check(nc_inq_varid(id, name.c_str(), &v), "has no variable " + name);
        check(nc_inq_varndims(id, v, &count), "cannot read the shape of " + name);
        std::vector<int> actual(static_cast<std::size_t>(count));
        if (count > 0) check(nc_inq_vardimid(id, v, actual.data()), "cannot read the shape of " + name);
        if (actual != dims) fail("holds " + name + " in a shape that runEnsemble does not write");
        return v;
    }
    template <typename T>
    std::vector<T> values(const std::string& name, const std::vector<int>& dims, std::size_t size) const {
        const int v = var(name, dims);
        std::vector<T> out(size);
        if (size == 0) return out;
        int status = NC_NOERR;
        if constexpr (std::is_same_v<T, float>) status = nc_get_var_float(id, v, out.data());
        if constexpr (std::is_same_v<T, double>) status = nc_get_var_double(id, v, out.data());
        if constexpr (std::is_same_v<T, int32_t>) status = nc_get_var_int(id, v, out.data());
        if constexpr (std::is_same_v<T, signed char>) status = nc_get_var_schar(id, v, out.data());
        check(status, "cannot read " + name);
        return out;
    }
    std::vector<std::string> strings(const std::string& name, int dim, std::size_t size) const {
        const int v = var(name, {dim});
        std::vector<char*> raw(size, nullptr);
        if (size) check(nc_get_var_string(id, v, raw.data()), "cannot read " + name);
        std::vector<std::string> out;
        for (char* s : raw) out.emplace_back(s ? s : "");
        if (size) nc_free_string(size, raw.data());
        return out;
    }
    std::string text(int v, const char* att) const {
        std::size_t length = 0;
        if (nc_inq_attlen(id, v, att, &length) != NC_NOERR) return "";
        std::string s(length, '\0');
        if (length && nc_get_att_text(id, v, att, s.data()) != NC_NOERR) return "";
        return s;
    }
};

}  // namespace

ViewerEnsemble readViewerEnsemble(const Project& project, const GridGeometry& grid, int64_t hours) {
    ViewerEnsemble e;
    const std::string path = project.path(kEnsembleFile);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return e;
    e.present = true;
    NcInput f;
    NcInput::check(nc_open(path.c_str(), NC_NOWRITE, &f.id), "cannot be read");
    std::size_t rows = 0, cols = 0, times = 0, members = 0, levels = 0;
    const int lat = f.dim("lat", rows), lon = f.dim("lon", cols), time = f.dim("time", times);
    const int realization = f.dim("realization", members), quantile = f.dim("quantile", levels);
    if (rows != static_cast<std::size_t>(grid.nrows) || cols != static_cast<std::size_t>(grid.ncols) ||
        times != static_cast<std::size_t>(hours)) {
        NcInput::fail("is not of this run: it holds " + std::to_string(cols) + " x " + std::to_string(rows) +
                      " cells and " + std::to_string(times) + " hours, the run " + std::to_string(grid.ncols) + " x " +
                      std::to_string(grid.nrows) + " cells and " + std::to_string(hours) + " hours");
    }
    e.members = static_cast<int32_t>(members);
    for (signed char v : f.values<signed char>("member_finished", {realization}, members)) {
        e.finished.push_back(v ? 1 : 0);
        e.counted += v ? 1 : 0;
    }
    e.quantileLevels = f.values<double>("quantile", {quantile}, levels);

    // Thresholds in the file's order: exceedance_count_NAME, described by exceedance_probability_NAME.
    const std::string prefix = "exceedance_count_";
    int nvars = 0;
    NcInput::check(nc_inq_nvars(f.id, &nvars), "cannot list its variables");
    for (int v = 0; v < nvars; ++v) {
        char name[NC_MAX_NAME + 1] = {};
        NcInput::check(nc_inq_varname(f.id, v, name), "cannot list its variables");
        const std::string varName = name;
        if (varName.compare(0, prefix.size(), prefix) != 0) continue;
        ViewerEnsemble::Threshold t;
        t.name = varName.substr(prefix.size());
        t.about = f.text(f.var("exceedance_probability_" + t.name, {lat, lon}), "threshold");
        t.count = f.values<int32_t>(varName, {lat, lon}, rows * cols);
        for (int32_t& c : t.count) {
            if (c == static_cast<int32_t>(kFillValue)) {
                c = -1;
            } else if (c < 0 || c > e.counted) {
                NcInput::fail("holds a count of " + std::to_string(c) + " in " + varName + ", not one from 0 to " +
                              std::to_string(e.counted) + " members");
            }
        }
        e.thresholds.push_back(std::move(t));
    }

    // Kept cells, when runEnsemble kept any.
    int station = -1;
    if (nc_inq_dimid(f.id, "station", &station) != NC_NOERR) return e;
    std::size_t sites = 0;
    f.dim("station", sites);
    const std::vector<std::string> names = f.strings("station_name", station, sites);
    const std::vector<std::string> kinds = f.strings("station_kind", station, sites);
    const std::vector<int32_t> columns = f.values<int32_t>("column_number", {station}, sites);
    const std::vector<int32_t> rowNumbers = f.values<int32_t>("row_number", {station}, sites);
    const std::vector<float> series = f.values<float>("discharge_series", {realization, station, time}, members * sites * times);
    const std::vector<float> quantiles = f.values<float>("discharge_series_quantile", {quantile, station, time}, levels * sites * times);
    for (std::size_t s = 0; s < sites; ++s) {
        ViewerEnsemble::Point p;
        p.name = names[s];
        p.kind = kinds[s];
        p.columnNumber = columns[s];
        p.rowNumber = rowNumbers[s];
        if (p.columnNumber < 1 || p.columnNumber > grid.ncols || p.rowNumber < 1 || p.rowNumber > grid.nrows) {
            NcInput::fail("places " + p.name + " at column " + std::to_string(p.columnNumber) + ", row " +
                          std::to_string(p.rowNumber) + ", outside the grid");
        }
        for (std::size_t m = 0; m < members; ++m) {
            const float* from = series.data() + (m * sites + s) * times;
            p.members.insert(p.members.end(), from, from + times);
        }
        for (std::size_t q = 0; q < levels; ++q) {
            const float* from = quantiles.data() + (q * sites + s) * times;
            p.quantiles.insert(p.quantiles.end(), from, from + times);
        }
        e.points.push_back(std::move(p));
    }
    return e;
}
