// makeRandomProject SEED: writes the random project of SEED into the current
// directory (creating its subdirectories), for comparing whole program runs.

#include "randomProject.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "Usage: makeRandomProject SEED\n";
        return 1;
    }
    for (const std::string& d : kRandomProjectDirs) std::filesystem::create_directories(d);
    writeRandomProject(std::strtoull(argv[1], nullptr, 10));
    return 0;
}
