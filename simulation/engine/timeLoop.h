#pragma once
// The time loop: every computed cell runs through the whole event (day, hour,
// step) once all the cells it reads from have finished theirs.
//
// The calculation order (ascending accumulation) fixes what each cell reads:
// an upstream cell's series as it stands when the cell's turn comes in that
// order, which is the series of the upstream cell's last event before that
// turn, or zeros when there is none. It also fixes the console: the group
// lines and each cell's messages appear in calculation order, and the first
// cell in that order whose event fails decides how the run stops. Within those
// rules the cells run on any number of threads in any order, depth-first along
// the drainage tree so that few finished series wait for their readers at a
// time, and every result is the same to the bit.

#include "calcOrder.h"
#include "cellEvent.h"
#include "modelState.h"
#include "peers.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

struct ModelParams;
struct ProgressLine;

// Called on a worker thread when a cell has finished its event, with the
// cell's index and its whole-event series; must be safe to call from several
// threads at once. The series is freed soon after, once the cells below have
// read it (dam and reservoir cells keep theirs).
using CellFinished = std::function<void(int32_t cell, const std::vector<float>& series)>;

// What a process of a distributed run brings to the loop: its peers, what it
// does with messages that are not the loop's own (they arrive while the loop
// runs), and what it sends before it tells the others it has finished.
struct LoopPeers {
    Peers& peers;
    std::function<void(std::vector<char>& bytes)> otherMessage;
    std::function<void()> finishing;
};

// Runs every computed cell of the calculation order (border cells and cells of
// rivers not in `riverNumList` are skipped) on `threads` threads, printing the
// group lines and the cells' messages in calculation order, and hands each
// finished cell's series to `finished`. A cell's series lives from the start
// of its event until the cells that read it have finished; dam and reservoir
// cells keep theirs for the tables. Throws InputError with the serial run's
// message when a cell's event fails, after printing everything before it.
// `progress`, when given, is updated as cells finish.
//
// With `peers`, `grid` is a share and this process computes the cells it owns:
// each finished series goes to the processes whose cells read it, and each
// cell's end and console text to process 0, which alone prints. Every process
// returns, or throws, together: process 0 with the message, the others with
// an empty one.
//
// With `capture` (hour > 0), each cell's event leaves its state at the end of
// that hour in `capture`: the node values of the slope and channel cells that
// have a record there, and the state of every dam and reservoir this process
// runs. A cell that the order lists twice leaves the state of its last event.
void runTimeLoop(CellGrid& grid, const CalcOrder& order, const std::vector<int32_t>& riverNumList,
                 const RainGrid& rain, const ModelParams& params, std::vector<Dam>& dams,
                 std::vector<Reservoir>& reservoirs, const CellFinished& finished, int threads, std::ostream& out,
                 ProgressLine* progress = nullptr, LoopPeers* peers = nullptr, ModelState* capture = nullptr);
