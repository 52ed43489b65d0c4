// The dam and reservoir lists and the recorded releases, followed by a whole
// run on the small basin. Pieces: dam.dat, reservoir.dat, and the recorded
// releases of the dams named A and B.

#include "fuzzProject.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    resetProject();
    const std::vector<std::string> parts = splitParts(data, size, 4);
    writeFile(kModelParamPath, paramFileText(smallParams()));
    writeFile("input/rain10min.dat", uniformRainText());
    writeSmallBasin();
    writePart(parts, 0, "input/dam.dat");
    writePart(parts, 1, "input/reservoir.dat");
    writePart(parts, 2, "input/realDamOutflow/realA.dat");
    writePart(parts, 3, "input/realDamOutflow/realB.dat");
    runProject();
    return 0;
}
