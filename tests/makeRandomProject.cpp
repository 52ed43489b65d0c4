// makeRandomProject SEED [--from-hour H]: writes the random project of SEED
// into the current directory (creating its subdirectories), for comparing
// whole program runs; with --from-hour, the rest of its event after hour H
// (the project a run from the state saved at hour H continues with).

#include "randomProject.h"
#include "warmProject.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    const bool fromHour = argc == 4 && std::string(argv[2]) == "--from-hour";
    if (argc != 2 && !fromHour) {
        std::cerr << "Usage: makeRandomProject SEED [--from-hour H]\n";
        return 1;
    }
    for (const std::string& d : kRandomProjectDirs) std::filesystem::create_directories(d);
    writeRandomProject(std::strtoull(argv[1], nullptr, 10));
    if (fromHour) startProjectAtHour(std::atoi(argv[3]));
    return 0;
}
