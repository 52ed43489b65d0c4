// calibrateModel: fits the model's parameters to gauges. See --help.

#include "calibrationRun.h"
#include "consoleProgram.h"
#include "programInfo.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return runConsoleProgram(
        [&](std::ostream& out) {
            const CalibrateOptions options = parseCalibrateOptions(args);
            if (options.help) {
                out << calibrateUsage();
                return 0;
            }
            if (options.version) {
                out << versionLine("calibrateModel");
                return 0;
            }
            return runCalibration(options, out);
        },
        "Error: not enough memory for this calibration.\n");
}
