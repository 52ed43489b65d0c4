// The discharge image maker on a fuzzed discharge file and console input.

#include "dischargeImage.h"
#include "toolFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const char* const kFiles[2][2] = {{"discharge10minMean.bin", nullptr}, {"dischargeHourlyMean.bin", nullptr}};
    const ToolInput input = prepareToolProject(data, size, kFiles);
    std::istringstream console(input.console);
    std::ostringstream out;
    try {
        runDischargeImage(input.hourly ? kImageHourly : kImage10min, console, out);
    } catch (const InputError& error) {
        checkStopMessage(error);
    }
    // The range line, if printed, must show two finite numbers.
    const std::string text = out.str();
    const std::size_t at = text.find("Maximun discharge = ");
    if (at != std::string::npos) {
        const std::string line = text.substr(at, text.find('\n', at) - at);
        if (line.find("nan") != std::string::npos || line.find("inf") != std::string::npos) {
            finding("non-finite discharge range printed");
        }
    }
    return 0;
}
