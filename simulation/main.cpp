// runoffSim: the distributed rainfall-runoff simulation of one flood event.
// Runs in the project directory; see --help for its options.

#include "consoleProgram.h"
#include "driver.h"
#include "programInfo.h"
#include "progressLine.h"

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) then fails the write that passes it, which
    // is reported and cleaned up like a full disk, instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
    RunOptions options;
    try {
        options = parseRunOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const InputError& error) {
        std::cout << error.message;
        return 1;
    }
    if (options.help) {
        std::cout << runUsage();
        return 0;
    }
    if (options.version) {
        std::cout << versionLine("runoffSim");
        return 0;
    }
    options.progress = progressWanted();
    return runConsoleProgram([&](std::ostream& out) { return runSimulation(out, options); },
                             "Error: not enough memory for this run.\n");
}
