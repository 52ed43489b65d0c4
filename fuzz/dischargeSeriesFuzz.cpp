// The discharge time-series extractor on fuzzed discharge files and console input.

#include "dischargeSeries.h"
#include "toolFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const char* const kFiles[2][2] = {{"discharge10minSnapshot.bin", "discharge10minMean.bin"},
                                             {"dischargeHourlyMean.bin", nullptr}};
    const ToolInput input = prepareToolProject(data, size, kFiles);
    std::istringstream console(input.console);
    std::ostringstream out;
    try {
        runDischargeSeries(input.hourly ? seriesHourlyConfig() : series10minConfig(), console, out);
    } catch (const InputError& error) {
        checkStopMessage(error);
    }
    // The series written, complete or not, hold finite numbers only.
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        if (entry.path().extension() == ".dat") checkTextFinite(entry.path());
    }
    return 0;
}
