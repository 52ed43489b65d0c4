#pragma once
// discharge.nc: the results of a run as one CF-1.8 NetCDF-4 file.
//
// The root group holds the grids, north-up (lat decreasing, lon increasing),
// every discharge value copied bit for bit from the grid files: the hourly
// means on `time`, the 10-minute means and snapshots on `time_10min`, the
// event rainfall total, the peak hourly discharge and its time, and the flow
// direction and accumulation. Each time is the end of its interval, with
// bounds. Dams and reservoirs go into the groups "dams" and "reservoirs" as
// CF discrete-sampling time series of their hourly tables.

#include "exportRun.h"

#include <string>

// Writes the file at `path` (the caller's temporary name) and returns the peak
// fields computed on the way. Every netCDF status is checked; a failure is an
// InputError naming `displayPath` and the variable.
PeakFields writeDischargeNetcdf(ExportRun& run, const std::string& path, const std::string& displayPath);
