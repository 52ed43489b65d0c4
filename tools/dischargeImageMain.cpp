// dischargeImage10min / dischargeImageHourly: one PPM image per frame of the
// 10-minute mean or the hourly mean discharge file. Runs in the output
// directory of a simulation; takes no arguments. The build chooses the
// program by FLOOD_HOURLY_TOOL.

#include "dischargeImage.h"
#include "inputError.h"

#include <iostream>
#include <new>
#include <stdexcept>

int main() {
    // One progress line per image: keep the console buffered, flush at the end.
    std::ios::sync_with_stdio(false);
#if FLOOD_HOURLY_TOOL
    const ImageToolConfig& config = kImageHourly;
#else
    const ImageToolConfig& config = kImage10min;
#endif
    int status = 1;
    try {
        status = runDischargeImage(config, std::cin, std::cout);
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
