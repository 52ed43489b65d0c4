#pragma once
// Units of a rainfall variable, in any UDUNITS spelling ("kg m-2 s-1",
// "kg m^-2 s^-1", "kg/m2/s", "mm h-1", "mm/h", "m", "[kg/(m^2)]", "0.1 mm"),
// reduced to what the simulation needs: a rate, converted to mm/h, or an
// amount per interval, converted to mm. Water of 1 kg spread over 1 m2 is
// 1 mm deep.

#include <string>

struct RainUnits {
    bool isRate = false;  // true: depth per time; false: depth per interval
    double factor = 0.0;  // to mm/h for a rate, to mm for an amount
};

// Returns false for a text that is no depth, mass per area, or either per time.
bool parseRainUnits(const std::string& text, RainUnits& units);
