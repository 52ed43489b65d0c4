#pragma once
// Every member of an ensemble through the event in one pass over the cells.
//
// The cells run on runoffSim's task graph (eventPlan.h): a task is one entry
// of the calculation order for one block of members, and waits for the same
// block's tasks of the cells it reads. For each member of its block a task
// copies the loaded cell (node arrays and structures as set up), gives it the
// member's own upstream series and rainfall, and runs the cell's event with
// runoffSim's functions, so member k's series are those of runoffSim with
// member k's rainfall, to the bit. A finished series is reduced at once to
// what the products need (the peak hourly mean, the first hour over each
// threshold, the hourly means of the kept cells, the values of the discharge
// files) and freed when the cells below have read it: memory follows members
// x the frontier of unfinished cells, not members x grid x steps.

#include "dischargeFiles.h"
#include "event.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What each member's run gives the products, per member m and grid index i.
struct MemberResults {
    int32_t members = 0;
    std::size_t cells = 0;
    int64_t hours = 0;
    // Highest hourly mean discharge of the event, [m * cells + i]; 0 for a
    // cell that is not computed (its hourly means are 0).
    std::vector<float> peaks;
    // Per threshold: the first hour (from 0) whose hourly mean is larger than
    // the threshold, [(t * members + m) * cells + i]; -1 for none.
    std::vector<int32_t> firstExceedance;
    // Per kept cell (site) s: the hourly means of member m at [s * members + m].
    std::vector<std::vector<float>> series;
    // Per member: where its run stopped (the first entry of the calculation
    // order whose event failed, as runoffSim would report it).
    struct Stop {
        bool stopped = false;
        int32_t entry = 0;
        std::string message;
    };
    std::vector<Stop> stops;
};

struct EnsembleSetup {
    int threads = 1;
    // Per threshold, per grid index: the threshold (NaN: none).
    std::vector<const std::vector<float>*> thresholds;
    std::vector<int32_t> seriesCells;  // the kept cells, in site order
    // One set of discharge files per member, open (openDischargeFiles), or
    // empty: none are written.
    std::vector<std::unique_ptr<DischargeFiles>>* memberFiles = nullptr;
};

// Runs every member (members[m] is member m's rainfall, on the event's
// rainfall grid) through the event. Never throws for a member that stops:
// that member's stop is recorded and its later cells are skipped. Throws
// std::bad_alloc when memory runs out.
MemberResults runMembers(const Event& event, const std::vector<RainGrid>& members, const EnsembleSetup& setup);
