// prepareRainfall: writes a project's rainfall from a gridded product or a
// gauge table. See --help.

#include "consoleProgram.h"
#include "programInfo.h"
#include "rainfallCommand.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    return runConsoleProgram(
        [&](std::ostream& out) {
            const RainfallOptions options = parseRainfallOptions(std::vector<std::string>(argv + 1, argv + argc));
            if (options.help) {
                out << rainfallUsage();
                return 0;
            }
            if (options.version) {
                out << versionLine("prepareRainfall");
                return 0;
            }
            return runPrepareRainfall(options, out);
        },
        "Error: not enough memory for this rainfall.\n");
}
