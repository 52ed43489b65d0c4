#include "powLanesCases.h"

const PowInput kPowHardCases[] = {
    {0x1.8p+0, 0x1.aaaaaaaaaaaabp+0},
};
const std::size_t kPowHardCaseCount = sizeof kPowHardCases / sizeof kPowHardCases[0];
