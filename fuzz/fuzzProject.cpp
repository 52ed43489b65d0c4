#include "fuzzProject.h"

#include "driver.h"

int runProject() {
    std::ostringstream console;
    int status = 1;
    try {
        status = runSimulation(console, RunOptions{});
    } catch (const InputError& error) {
        checkStopMessage(error);
        return 1;
    }
    if (status == 0) checkSimulationOutputs();
    return status;
}
