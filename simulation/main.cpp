// runoffSim: the distributed rainfall-runoff simulation of one flood event.
// Runs in the project directory; see --help for its options.

#include "consoleProgram.h"
#include "driver.h"
#include "programInfo.h"
#include "progressLine.h"

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) then fails the write that passes it, which
    // is reported and cleaned up like a full disk, instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runModelConsoleProgram(
        [&](std::ostream& out) {
            RunOptions options = parseRunOptions(args);
            if (options.help) {
                out << runUsage();
                return 0;
            }
            if (options.version) {
                out << versionLine("runoffSim");
                return 0;
            }
            options.progress = progressWanted();
            return runSimulation(out, options);
        },
        "Error: not enough memory for this run.\n");
}
