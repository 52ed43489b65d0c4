#pragma once
// The eight-direction flow codes shared by the simulation and the topography
// preparation: 0 none (a river mouth), 1 north, then clockwise to 8 north-west.

// Row and column offsets of the flow codes 0..8; row 0 is the north.
inline constexpr int kFlowRowStep[9] = {0, -1, -1, 0, 1, 1, 1, 0, -1};
inline constexpr int kFlowColStep[9] = {0, 0, 1, 1, 1, 0, -1, -1, -1};
