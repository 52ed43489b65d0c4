// runoffSim: the distributed rainfall-runoff simulation of one flood event.
// Runs in the project directory; takes no arguments.

#include "consoleProgram.h"
#include "driver.h"

int main() { return runConsoleProgram(runSimulation, "Error: not enough memory for this run.\n"); }
