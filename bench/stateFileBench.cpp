// Times the saving and the reading of a model state on a project: loads the
// event in memory (as runoffSim reads it), takes the state of every computed
// cell, dam and reservoir, then writes it with writeStateFile and reads it
// back with startFromState (reading, checksum, the checks against the project
// and the application to the cells), several times each, and reports the
// best times, the file size and the bytes per cell record.
//
// Usage: stateFileBench PROJECT_DIR [REPEATS]
//   The state file is written as PROJECT_DIR/benchState.bin and removed.

#include "event.h"
#include "inputError.h"
#include "paramMaps.h"
#include "warmStart.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: stateFileBench PROJECT_DIR [REPEATS]\n");
        return 1;
    }
    const std::string dir = argv[1];
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    try {
        Event event = loadEvent(dir);
        const std::vector<int32_t> cells = stateCells(event.grid, event.order, event.riverNumList, event.dams, event.reservoirs);
        ModelState state = stateRoom(event.grid, cells, event.params, event.dams, event.reservoirs, 24);
        for (std::size_t k = 0; k < state.cells.size(); ++k)
            captureCell(event.grid.cell(state.cells[k]), state.values.data() + state.offsets[k]);
        const StateFile file{projectHeader(event.params, valueDigests(event.grid, event.cellValues)), state};
        const std::string path = dir + "/benchState.bin";
        const auto seconds = [](auto since) {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
        };
        double save = 1e30, read = 1e30, decode = 1e30;
        for (int k = 0; k < repeats; ++k) {
            auto start = std::chrono::steady_clock::now();
            writeStateFile(path, file);
            save = std::min(save, seconds(start));
            start = std::chrono::steady_clock::now();
            startFromState(event, path);
            read = std::min(read, seconds(start));
            start = std::chrono::steady_clock::now();
            readStateFile(path);
            decode = std::min(decode, seconds(start));
        }
        const double bytes = static_cast<double>(std::filesystem::file_size(path));
        std::filesystem::remove(path);
        std::printf("%zu cell records, %zu dams, %zu reservoirs, spaceSteps %d\n", state.cells.size(),
                    state.dams.size(), state.reservoirs.size(), event.params.spaceSteps);
        std::printf("file %.1f MB, %.1f bytes per cell record\n", bytes / 1e6, bytes / static_cast<double>(state.cells.size()));
        std::printf("save %.3f s, read and apply %.3f s, of which reading the file %.3f s (best of %d)\n", save, read,
                    decode, repeats);
    } catch (const InputError& error) {
        std::fputs(error.message.c_str(), stderr);
        return 1;
    }
    return 0;
}
