// dischargeImage10min / dischargeImageHourly: one PPM image per frame of the
// 10-minute mean or the hourly mean discharge file. Runs in the output
// directory of a simulation; takes no arguments. The build chooses the
// program by FLOOD_HOURLY_TOOL.

#include "consoleProgram.h"
#include "dischargeImage.h"

int main() {
#if FLOOD_HOURLY_TOOL
    const ImageToolConfig& config = kImageHourly;
#else
    const ImageToolConfig& config = kImage10min;
#endif
    return runConsoleProgram([&](std::ostream& out) { return runDischargeImage(config, std::cin, out); },
                             "Error: not enough memory for this grid.\n");
}
