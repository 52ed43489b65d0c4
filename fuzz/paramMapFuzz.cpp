// The per-cell parameter maps of "./paramData/", followed by a whole run on
// the small basin. Piece 0: one byte whose bits 0..6 turn Ns, Ka, Da, Dm,
// Beta, Nr, ROFinitial into maps; pieces 1 to 7: the seven map files.

#include "fuzzProject.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    resetProject();
    const std::vector<std::string> parts = splitParts(data, size, 8);
    const uint8_t mask = parts[0].empty() ? 0x7f : static_cast<uint8_t>(parts[0][0]);
    ModelParams params = smallParams();
    double* values[7] = {&params.Ns, &params.Ka, &params.Da, &params.Dm, &params.Beta, &params.Nr, &params.ROFinitial};
    const char* keys[7] = {"Ns", "Ka", "Da", "Dm", "Beta", "Nr", "ROFinitial"};
    for (int k = 0; k < 7; ++k) {
        if (mask & (1u << k)) *values[k] = -1.0;
        writePart(parts, static_cast<std::size_t>(k) + 1, std::string("paramData/param_dist_") + keys[k] + ".dat");
    }
    writeFile(kModelParamPath, paramFileText(params));
    writeFile("input/rain10min.dat", uniformRainText());
    writeSmallBasin();
    runProject();
    return 0;
}
