// runEnsemble: every rainfall member of input/ensemble/ through the flood event
// of the project in the current directory, in one pass; see --help.

#include "consoleProgram.h"
#include "ensembleCommand.h"
#include "ensembleOptions.h"
#include "programInfo.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runConsoleProgram(
        [&](std::ostream& out) {
            const EnsembleOptions options = parseEnsembleOptions(args);
            if (options.help) {
                out << ensembleUsage();
                return 0;
            }
            if (options.version) {
                out << versionLine("runEnsemble");
                return 0;
            }
            return runEnsembleProgram(options, out, std::cerr);
        },
        "Error: not enough memory for this run.\n");
}
