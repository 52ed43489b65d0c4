// The three cache files of "./temp/", followed by a whole run on the small
// basin. Pieces: numOfBasin.dat, orderedCell.dat, setROFCell.dat. The rain is
// the same at every point, so whatever cache a run accepts, its discharge
// files must equal those of a run that built its caches afresh.

#include "fuzzProject.h"

namespace {

void writeProject() {
    writeFile(kModelParamPath, paramFileText(smallParams()));
    writeFile("input/rain10min.dat", uniformRainText());
    writeSmallBasin();
}

const char* const kDischargeFiles[3] = {"output/discharge10minSnapshot.bin", "output/discharge10minMean.bin",
                                        "output/dischargeHourlyMean.bin"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const std::vector<std::string> reference = [] {
        resetProject();
        writeProject();
        if (runProject() != 0) finding("the reference run failed");
        std::vector<std::string> files;
        for (const char* path : kDischargeFiles) files.push_back(readWholeFile(path));
        return files;
    }();
    resetProject();
    const std::vector<std::string> parts = splitParts(data, size, 3);
    writeProject();
    writePart(parts, 0, "temp/numOfBasin.dat");
    writePart(parts, 1, "temp/orderedCell.dat");
    writePart(parts, 2, "temp/setROFCell.dat");
    if (runProject() == 0) {
        for (int k = 0; k < 3; ++k) {
            if (readWholeFile(kDischargeFiles[k]) != reference[static_cast<std::size_t>(k)]) {
                finding(std::string("a cache changed ") + kDischargeFiles[k]);
            }
        }
    }
    return 0;
}
