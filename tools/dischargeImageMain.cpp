// dischargeImage10min / dischargeImageHourly: one PPM image per frame of the
// 10-minute mean or the hourly mean discharge file. Runs in the output
// directory of a simulation; takes no arguments but --help and --version. The
// build chooses the program by FLOOD_HOURLY_TOOL.

#include "consoleProgram.h"
#include "dischargeImage.h"
#include "programInfo.h"

#include <optional>

#if FLOOD_HOURLY_TOOL
#define FLOOD_IMAGE_NAME "dischargeImageHourly"
#define FLOOD_IMAGE_FRAMES "the hourly mean discharge file,\ndischargeHourlyMean.bin (24 frames a day)"
#else
#define FLOOD_IMAGE_NAME "dischargeImage10min"
#define FLOOD_IMAGE_FRAMES "the 10-minute mean discharge file,\ndischarge10minMean.bin (144 frames a day)"
#endif

namespace {

const char* const kUsage =
    "Usage: " FLOOD_IMAGE_NAME "\n"
    "       " FLOOD_IMAGE_NAME " --help | --version\n"
    "\n"
    "Draws one PPM image per frame of " FLOOD_IMAGE_FRAMES ", into image/:\n"
    "5 x 5 pixels per cell, north up, blue (low) to red (high discharge) on a\n"
    "square-root scale, black where there is no data.\n"
    "\n"
    "Run it in the output/ directory of a finished runoffSim run; it reads the grid\n"
    "size and the duration from ../param-hsx-event-ver400.dat, and image/ must exist.\n"
    "It asks whether to set the colour range by hand: answer y, then the maximum\n"
    "and the minimum discharge in m3/s; any other answer takes the range from the\n"
    "file. The answers may come from a pipe: echo n | " FLOOD_IMAGE_NAME "\n";

}  // namespace

int main(int argc, char** argv) {
#if FLOOD_HOURLY_TOOL
    const ImageToolConfig& config = kImageHourly;
#else
    const ImageToolConfig& config = kImage10min;
#endif
    return runModelConsoleProgram(
        [&](std::ostream& out) {
            if (const std::optional<int> status = answerProgramInfo({FLOOD_IMAGE_NAME, kUsage}, argc, argv, out)) {
                return *status;
            }
            return runDischargeImage(config, std::cin, out);
        },
        "Error: not enough memory for this grid.\n");
}
