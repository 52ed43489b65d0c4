// exportResults: the results of a runoffSim run as CF NetCDF (and GeoTIFF
// maps). See --help.

#include "consoleProgram.h"
#include "programInfo.h"
#include "exportCommand.h"

#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) then fails the write that passes it, which
    // is reported and cleaned up like a full disk, instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runConsoleProgram(
        [&](std::ostream& out) {
            const ExportOptions options = parseExportOptions(args);
            if (options.help) {
                out << exportUsage();
                return 0;
            }
            if (options.version) {
                out << versionLine("exportResults");
                return 0;
            }
            return runExport(options, out);
        },
        "Error: not enough memory for this grid.\n");
}
