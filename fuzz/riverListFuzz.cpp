// The river list "./topoData/riverNumList.dat" read from the fuzz input.

#include "fuzzProject.h"
#include "grid.h"
#include "topography.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream countPass(text), readPass(text);
    std::ostringstream console;
    try {
        const std::vector<int32_t> rivers = readRiverList(countPass, readPass, console);
        for (int32_t river : rivers) {
            if (river < 0) finding("negative river number accepted");
        }
    } catch (const InputError& error) {
        checkStopMessage(error);
    }
    return 0;
}
