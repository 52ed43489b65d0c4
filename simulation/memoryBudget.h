#pragma once
// Estimates of the memory a run needs, checked before the large allocations,
// so that an impossible run stops with a message instead of failing midway.

#include "grid.h"

#include <cstdint>

struct ModelParams;

// Memory the system can still give, in bytes (available memory plus free
// swap); 0 when it cannot be told.
double availableMemoryBytes();

// Bytes of the grid, the rainfall grid and the set-up temporaries.
double gridMemoryBytes(const ModelParams& params);

// Bytes of the per-cell series and node arrays of the set-up cells, and of the
// output frames.
double modelMemoryBytes(const CellGrid& grid, const ModelParams& params);

// Throws InputError when `needed` bytes exceed what is available (`available`
// of 0 means unknown: no check).
void requireMemory(double needed, double available);

// The grid must be addressable by 32-bit cell indices.
void requireGridSize(const ModelParams& params);
