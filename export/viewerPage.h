#pragma once
// output/viewer.html: the results of a run as one self-contained page that
// opens offline in a browser. The page's script and styles (viewer/) are built
// into the program; this writer fills in the data of the run: cell kinds and
// flow codes, the shaded relief, discharge maps quantised on a logarithmic
// scale, the exact float32 series of channel, dam, reservoir and gauge cells,
// the rainfall, the peak maps, the dam and reservoir tables and the gauges
// with their skill scores.
//
// Data travel as base64 of little-endian typed arrays in script elements of
// their own, described by one JSON object ("viewer-meta"). An ensemble section
// (exceedance probability maps per threshold, members x hours at points) fits
// the same scheme: more blobs and an "ensemble" entry in that object, which the
// script already looks for.

#include "exportRun.h"
#include "observedSeries.h"
#include "skillScores.h"

#include <cstdint>
#include <string>
#include <vector>

// exportResults --observed COL ROW FILE
struct ViewerGauge {
    int32_t columnNumber = 0;  // from 1 at the west
    int32_t rowNumber = 0;     // from 1 at the south
    std::string path;
};

// The size the page's data aim at; a larger grid is shown at reduced resolution.
inline constexpr uint64_t kViewerBudgetBytes = 50'000'000;

// What the page needs beyond the export's own inputs, read and checked before
// anything is written.
struct ViewerInputs {
    std::vector<float> elevation;    // topoData/modDem.bin, north-up
    std::vector<int32_t> riverNum;   // topoData/riverNum.bin, north-up
    std::vector<uint32_t> rainPoint;  // per cell, the index of its point among `rainSeries`
    std::vector<float> rainSeries;    // per used rainfall point, every observation (mm/h)
    std::size_t rainPoints = 0;
    std::vector<double> rowArea;  // m2 of a cell in each row (row 0 north)
    struct Gauge {
        ViewerGauge option;
        ObservedSeries observed;
        SkillScores scores;
    };
    std::vector<Gauge> gauges;
};

// Throws InputError for a missing or short raster, rainfall file or gauge
// file, a gauge outside the grid or on a cell that is not computed, or a
// gauge with fewer than two observations inside the run.
ViewerInputs readViewerInputs(const ExportRun& run, const std::vector<ViewerGauge>& gauges);

// Reads the discharge files again and writes the page to `path`. Returns a
// line for the console that tells what was reduced to keep the page small.
std::string writeViewerPage(const ExportRun& run, const ViewerInputs& inputs, const std::string& path,
                            uint64_t budget = kViewerBudgetBytes);
