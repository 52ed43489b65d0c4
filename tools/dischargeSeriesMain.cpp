// dischargeSeries10min / dischargeSeriesHourly: the discharge series of one
// cell from the 10-minute files or the hourly mean file. Runs in the output
// directory of a simulation; takes no arguments. The build chooses the
// program by FLOOD_HOURLY_TOOL.

#include "dischargeSeries.h"
#include "inputError.h"

#include <iostream>
#include <new>
#include <stdexcept>

int main() {
    std::ios::sync_with_stdio(false);
#if FLOOD_HOURLY_TOOL
    const SeriesToolConfig config = seriesHourlyConfig();
#else
    const SeriesToolConfig config = series10minConfig();
#endif
    int status = 1;
    try {
        status = runDischargeSeries(config, std::cin, std::cout);
    } catch (const InputError& error) {
        std::cout << error.message;
    } catch (const std::bad_alloc&) {
        std::cout << "Error: not enough memory for this grid.\n";
    } catch (const std::length_error&) {  // a frame larger than any vector can hold
        std::cout << "Error: not enough memory for this grid.\n";
    }
    std::cout.flush();
    return status;
}
