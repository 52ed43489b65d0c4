#pragma once
// ensemble.nc: the products of an ensemble run as one CF-1.8 NetCDF-4 file,
// on the grid, coordinates and conventions of exportResults' discharge.nc
// (lat decreasing from the north, lon increasing, cell bounds, the WGS 84
// crs variable, times at the ends of their hours with bounds).
//
// Per threshold NAME: exceedance_probability_NAME, exceedance_count_NAME and
// half_exceedance_time_NAME (and threshold_NAME for a grid); the quantiles
// and the mean of the members' peak hourly discharge; and, for the kept cells
// (stations), discharge_series on (realization, station, time) with its
// hourly quantiles. Every product says how many members it counts.

#include "ensembleInputs.h"
#include "ensembleProducts.h"
#include "ensembleRun.h"
#include "eventTime.h"

#include <string>
#include <vector>

struct EnsembleFile {
    const Event& event;
    const EventStart& start;
    const std::vector<std::string>& memberPaths;
    const std::vector<Threshold>& thresholds;
    const std::vector<SeriesSite>& sites;
    const MemberResults& results;
    const EnsembleProducts& products;
};

// Writes the file at `path` (the caller's temporary name). Every netCDF
// status is checked; a failure is an InputError naming `displayPath` and the variable.
void writeEnsembleNetcdf(const EnsembleFile& f, const std::string& path, const std::string& displayPath);
