// prepareTopography: turns a DEM (ESRI ASCII grid) into the topography inputs
// of runoffSim. See --help.

#include "inputError.h"
#include "prepareCommand.h"
#include "programInfo.h"

#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    try {
        const PrepareOptions options = parsePrepareOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::cout << prepareUsage();
            return 0;
        }
        if (options.version) {
            std::cout << versionLine("prepareTopography");
            return 0;
        }
        return runPrepare(options, std::cout);
    } catch (const InputError& error) {
        std::cout << error.message;
    } catch (const std::bad_alloc&) {
        std::cout << "Error: not enough memory for this grid.\n";
    } catch (const std::exception& error) {
        std::cout << "Error: " << error.what() << "\n";
    }
    return 1;
}
