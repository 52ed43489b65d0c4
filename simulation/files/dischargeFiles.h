#pragma once
// The three discharge files, filled while the time loop runs.
//
// A cell's series is reduced to the values the files hold (per hour: the
// hourly mean, six 10-minute snapshots and six 10-minute means) as soon as its
// event ends, and those values go into the files at the cell's place in every
// frame. The files are first written under temporary names, sized and filled
// with what a cell that is never computed shows (-9999.0 for no-data cells,
// 0.0 for the others), so the cells may finish in any order. Finished cells
// are collected into a batch whose size follows the grid, not the event, and
// a full batch is written in one pass over the frames. The cells of a batch
// mostly lie close together (the time loop finishes one subtree of the
// drainage network after the other), so in every frame they fall into a few
// segments, each read, patched and written back.
// The temporary files take the final names together with the other results,
// only when every one of them is complete (replaceTogether); a run that stops
// removes them and leaves "./output/" as it was.

#include "grid.h"
#include "resultFiles.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct ModelParams;
struct TenMinuteLayout;

// Values a cell gives the files per hour, in this order: the hourly mean, the
// six 10-minute snapshots, the six 10-minute means.
inline constexpr int kValuesPerHour = 13;

// Fills `values` (days x 24 x kValuesPerHour floats) from a cell's whole-event
// series with the writer's float32 formulas.
void cellStatistics(const std::vector<float>& series, const TenMinuteLayout& layout, int days, int stepsPerHour,
                    float* values);

struct DischargeFiles {
    struct File {
        std::string path;       // final name
        std::string temporary;  // name while the run goes on
        int framesPerHour = 1;
        int descriptor = -1;
        int error = 0;  // the system's error number of the first failure; 0 while all is well
    };
    std::array<File, 3> files;  // in the order they are announced: snapshot, 10-minute mean, hourly
    int64_t cellsPerFrame = 0;
    int64_t hours = 0;
    std::vector<int32_t> framePosition;  // per grid cell: its position in a frame (south row first)

    std::mutex mutex;  // guards the batch and the files
    std::size_t batchCapacity = 1;  // cells
    std::vector<int32_t> batchPositions;
    std::vector<float> batchValues;  // kValuesPerHour x hours per batched cell

    DischargeFiles() = default;
    DischargeFiles(const DischargeFiles&) = delete;
    DischargeFiles& operator=(const DischargeFiles&) = delete;
    // Closes and removes the temporary files (a run that took them into place
    // has renamed them already).
    ~DischargeFiles();
};

// Creates the temporary files next to the final ones and fills every frame
// with the no-data and never-computed values, so a disk without room for them
// shows before the time loop. A file that cannot be created or filled is
// remembered as failed (dischargeFailure); nothing is printed. Batches hold up to
// `batchBytes` of cell values (0: dischargeBatchBytes of the grid). The files
// go into `directory` (ending in '/'), runoffSim's "./output/" by default.
void openDischargeFiles(DischargeFiles& files, const CellGrid& grid, const std::vector<int32_t>& riverNumList,
                        const ModelParams& params, std::size_t batchBytes,
                        const std::string& directory = "./output/");

// Enters the values of grid cell `cell` (cellStatistics) into the files. Safe
// to call from several threads; a later call for the same cell overwrites an
// earlier one.
void addCellValues(DischargeFiles& files, int32_t cell, const float* values);

// Writes the last batch and closes the temporary files.
void closeDischargeFiles(DischargeFiles& files);

// The first file that failed at any point so far, with the system's reason
// (error 0: none).
FileFailure dischargeFailure(const DischargeFiles& files);

// The bytes of cell values one batch holds on a grid of `cells` cells: 16 a
// cell, from 4 MiB to 64 MiB, whatever the length of the event.
inline std::size_t dischargeBatchBytes(std::size_t cells) {
    const std::size_t bytes = cells * 16;
    return bytes < (std::size_t{4} << 20) ? std::size_t{4} << 20 : bytes > (std::size_t{64} << 20) ? std::size_t{64} << 20 : bytes;
}
