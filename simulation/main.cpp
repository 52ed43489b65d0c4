// runoffSim: the distributed rainfall-runoff simulation of one flood event.
// Runs in the project directory; takes no arguments.

#include "driver.h"
#include "inputError.h"

#include <iostream>
#include <new>
#include <stdexcept>

int main() {
    // Console output is large (a line per dam step): buffer it, flush at stage ends.
    std::ios::sync_with_stdio(false);
    int status = 1;
    try {
        status = runSimulation(std::cout);
    } catch (const InputError& error) {
        std::cout << error.message;
    } catch (const std::bad_alloc&) {
        std::cout << "Error: not enough memory for this run.\n";
    } catch (const std::length_error&) {
        std::cout << "Error: not enough memory for this run.\n";
    }
    std::cout.flush();
    return status;
}
