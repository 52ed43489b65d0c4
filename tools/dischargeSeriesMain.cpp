// dischargeSeries10min / dischargeSeriesHourly: the discharge series of one
// cell from the 10-minute files or the hourly mean file. Runs in the output
// directory of a simulation; takes no arguments. The build chooses the
// program by FLOOD_HOURLY_TOOL.

#include "consoleProgram.h"
#include "dischargeSeries.h"

int main() {
#if FLOOD_HOURLY_TOOL
    const SeriesToolConfig config = seriesHourlyConfig();
#else
    const SeriesToolConfig config = series10minConfig();
#endif
    return runConsoleProgram([&](std::ostream& out) { return runDischargeSeries(config, std::cin, out); },
                             "Error: not enough memory for this grid.\n");
}
