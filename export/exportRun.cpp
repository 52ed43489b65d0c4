#include "exportRun.h"

void loadExportRun(ExportRun& run, const Project& project, const std::string& startOption) {
    run.project = project;
    run.params = readProjectParams(project);
    run.grid = gridGeometry(run.params);
    const int32_t nrows = run.grid.nrows, ncols = run.grid.ncols;
    run.hours = int64_t{run.params.days} * 24;
    run.start = findEventStart(startOption, run.params.rainFormat, project.dir);

    const std::size_t cells = run.grid.cells();
    openDischargeFile(run.hourly, project.path(kHourlyFile), cells, run.hours);
    openDischargeFile(run.mean10min, project.path(k10minMeanFile), cells, run.hours * 6);
    openDischargeFile(run.snapshot10min, project.path(k10minSnapshotFile), cells, run.hours * 6);
    run.rainTotals = readRainTotals(project.path(kRainTotalFile), nrows, ncols);
    run.flowDir = readIntRasterNorthUp(project.path(kFlowDirFile), nrows, ncols);
    run.flowAcc = readIntRasterNorthUp(project.path(kFlowAccFile), nrows, ncols);

    run.dams = readDamSites(project, nrows, ncols);
    for (const StructureSite& dam : run.dams)
        run.damTables.push_back(readHourlyTable(project.path(tablePath(dam)), run.hours, 3));
    run.reservoirs = readReservoirSites(project, nrows, ncols);
    for (const StructureSite& reservoir : run.reservoirs)
        run.reservoirTables.push_back(readHourlyTable(project.path(tablePath(reservoir)), run.hours, 2));
}

void addToPeaks(PeakFields& peaks, const std::vector<float>& frames, int64_t firstHour, int64_t count) {
    const std::size_t cells = peaks.discharge.size();
    for (int64_t f = 0; f < count; ++f) {
        const float* frame = frames.data() + static_cast<std::size_t>(f) * cells;
        // The hour of index h ends at minute 60 (h + 1); exact in float32 up to 2^24 minutes (31 years).
        const float endMinute = static_cast<float>(60 * (firstHour + f + 1));
        for (std::size_t i = 0; i < cells; ++i) {
            const float q = frame[i];
            if (q == kFillValue) continue;
            if (peaks.minutes[i] == kFillValue || q > peaks.discharge[i]) {
                peaks.discharge[i] = q;
                peaks.minutes[i] = endMinute;
            }
        }
    }
}
