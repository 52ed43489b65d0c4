// The four topography rasters and the river list, followed by a whole run.
// Piece 0: two bytes choosing the grid size (3..6 columns, 3..6 rows); pieces 1
// to 5: modDem.bin, flowDir.bin, flowAcc.bin, riverNum.bin, riverNumList.dat.

#include "fuzzProject.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    resetProject();
    const std::vector<std::string> parts = splitParts(data, size, 6);
    ModelParams params = smallParams();
    const std::string& config = parts[0];
    params.ncols = 3 + (config.size() > 0 ? static_cast<uint8_t>(config[0]) % 4 : 2);
    params.nrows = 3 + (config.size() > 1 ? static_cast<uint8_t>(config[1]) % 4 : 1);
    writeFile(kModelParamPath, paramFileText(params));
    writeFile("input/rain10min.dat", uniformRainText());
    writePart(parts, 1, "topoData/modDem.bin");
    writePart(parts, 2, "topoData/flowDir.bin");
    writePart(parts, 3, "topoData/flowAcc.bin");
    writePart(parts, 4, "topoData/riverNum.bin");
    writePart(parts, 5, "topoData/riverNumList.dat");
    runProject();
    return 0;
}
