// prepareTopography: turns a DEM (ESRI ASCII grid) into the topography inputs
// of runoffSim. See --help.

#include "consoleProgram.h"
#include "prepareCommand.h"
#include "programInfo.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runConsoleProgram(
        [&](std::ostream& out) {
            const PrepareOptions options = parsePrepareOptions(args);
            if (options.help) {
                out << prepareUsage();
                return 0;
            }
            if (options.version) {
                out << versionLine("prepareTopography");
                return 0;
            }
            return runPrepare(options, out);
        },
        "Error: not enough memory for this grid.\n");
}
