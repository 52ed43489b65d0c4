// plotHydrograph: the hydrograph of a cell, dam or reservoir as SVG, with the
// upstream rainfall and, against a gauge, the skill scores. See --help.

#include "consoleProgram.h"
#include "programInfo.h"
#include "plotCommand.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runConsoleProgram(
        [&](std::ostream& out) {
            const PlotOptions options = parsePlotOptions(args);
            if (options.help) {
                out << plotUsage();
                return 0;
            }
            if (options.version) {
                out << versionLine("plotHydrograph");
                return 0;
            }
            return runPlot(options, out);
        },
        "Error: not enough memory for this grid.\n");
}
