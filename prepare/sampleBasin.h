#pragma once
// The synthetic sample basin: a DEM, and after its preparation the inputs of a
// two-day flood event on it.
//
// The land is a valley network carved into hills: a main river flowing south
// to a coast, five tributaries, and small-scale relief that leaves pits and
// side valleys for the preparation to deal with. The sea south of the coast
// has no data. The storm is a rain cell moving from south-west to north-east
// over a band of lighter rain, given every 10 minutes on a 0.05-degree grid.
// A flood-control dam sits on the upper main river and a lake (reservoir) on
// the lower main river.

#include "demGrid.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct ModelParams;

// The sample DEM with `ncols` x `nrows` square cells of 1 / `ncols` degree,
// south-west corner at 135 E, 34.9 N. The default 120 x 100 gives 30
// arc-second cells; larger sizes draw the same landscape finer (for timing).
DemGrid makeSampleDem(int32_t ncols = 120, int32_t nrows = 100);

// Rain intensity of the sample storm, mm/h, at a point given as fractions of
// the study area (x from the west edge, y from the south edge) and a time in
// hours from the start of the event.
double sampleRain(double x, double y, double hours);

// A dam or reservoir site: a cell on the main river of basin 0.
struct RiverSite {
    int32_t row = 0;  // in-memory row, 0 = north
    int32_t col = 0;
    int32_t flowAcc = 0;
};

// The main river of basin 0 from its mouth upstream: at each cell the upstream
// neighbour with the largest accumulation (ties: the lower flow code of the
// neighbour's position). Rasters are in memory order (row 0 north).
std::vector<RiverSite> mainRiver(const std::vector<int32_t>& flowDir, const std::vector<int32_t>& flowAcc,
                                 const std::vector<int32_t>& riverNum, int32_t nrows, int32_t ncols, int32_t mouthRow,
                                 int32_t mouthCol);

// The main-river cell whose accumulation is closest to `share` of the mouth's
// (the mouth itself excluded; ties: the cell nearer the mouth).
RiverSite siteAtShare(const std::vector<RiverSite>& river, double share);

// Writes the event inputs into `projectDir`, whose "topoData/" must have been
// prepared from makeSampleDem(ncols, nrows): the parameter file (two days,
// 60 s steps, 10-minute rainfall), "input/rain10min.dat", "input/dam.dat" and
// "input/reservoir.dat". Announces each file on `out`. Throws InputError when
// the topography is missing or does not fit the grid.
void writeSampleInputs(const std::string& projectDir, int32_t ncols, int32_t nrows, std::ostream& out);

// Writes a small rainfall ensemble of the sample storm into `projectDir`:
// `members` files "input/ensemble/rain.MMM.bin" (float32 frames, south row
// first, on the rainfall grid and interval of the sample's parameter file, as
// prepareRainfall --ensemble writes them). Member 0 is the storm of
// "input/rain10min.dat" itself; the others move it by up to a tenth of the
// study area, start it up to three hours earlier or later and scale it by 0.6
// to 1.4, all fixed by the member number. An earlier "input/ensemble/" is
// replaced. Also writes "input/floodLevel.asc", a threshold grid for
// runEnsemble: 0.6 m3/s per km2 of upstream area on the river cells
// (accumulation of 20 or more), NODATA elsewhere. Requires the topography of
// makeSampleDem(ncols, nrows). Announces each file on `out`.
void writeSampleEnsemble(const std::string& projectDir, int32_t ncols, int32_t nrows, int members, std::ostream& out);

// The sample's parameter values for `grid`: the starting values with two
// days and the sample's rainfall grid.
ModelParams sampleParams(const DemGrid& grid);
