// dischargeSeries10min / dischargeSeriesHourly: the discharge series of one
// cell from the 10-minute files or the hourly mean file. Runs in the output
// directory of a simulation; takes no arguments but --help and --version. The
// build chooses the program by FLOOD_HOURLY_TOOL.

#include "consoleProgram.h"
#include "dischargeSeries.h"
#include "programInfo.h"

#include <optional>

#if FLOOD_HOURLY_TOOL
#define FLOOD_SERIES_NAME "dischargeSeriesHourly"
#define FLOOD_SERIES_FILES                                                         \
    "From dischargeHourlyMean.bin it writes COLUMN-ROW_hourlyMeanDischarge.dat:\n" \
    "one line per hour, the minutes since the start and the discharge in m3/s.\n"
#else
#define FLOOD_SERIES_NAME "dischargeSeries10min"
#define FLOOD_SERIES_FILES                                                                   \
    "From discharge10minSnapshot.bin and discharge10minMean.bin it writes\n"                 \
    "COLUMN-ROW_10minSnapshotDischarge.dat and COLUMN-ROW_10minMeanDischarge.dat: one\n"     \
    "line per 10 minutes, the minutes since the start and the discharge in m3/s.\n"
#endif

namespace {

const char* const kUsage =
    "Usage: " FLOOD_SERIES_NAME "\n"
    "       " FLOOD_SERIES_NAME " --help | --version\n"
    "\n"
    "Extracts the discharge series of one grid cell. Run it in the output/\n"
    "directory of a finished runoffSim run; it reads the grid size and the duration\n"
    "from ../param-hsx-event-ver400.dat. It asks for the cell's column number\n"
    "(from 1 at the west) and row number (from 1 at the south); the answers may\n"
    "come from a pipe: printf '55\\n7\\n' | " FLOOD_SERIES_NAME "\n"
    FLOOD_SERIES_FILES;

}  // namespace

int main(int argc, char** argv) {
#if FLOOD_HOURLY_TOOL
    const SeriesToolConfig config = seriesHourlyConfig();
#else
    const SeriesToolConfig config = series10minConfig();
#endif
    return runModelConsoleProgram(
        [&](std::ostream& out) {
            if (const std::optional<int> status = answerProgramInfo({FLOOD_SERIES_NAME, kUsage}, argc, argv, out)) {
                return *status;
            }
            return runDischargeSeries(config, std::cin, out);
        },
        "Error: not enough memory for this grid.\n");
}
