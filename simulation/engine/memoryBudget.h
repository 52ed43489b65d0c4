#pragma once
// Estimates of the memory a run needs, checked before the large allocations,
// so that an impossible run stops with a message instead of failing midway.

#include "grid.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ModelParams;

// Memory the system can still give, in bytes (available memory plus free
// swap); 0 when it cannot be told.
double availableMemoryBytes();

// Bytes of the grid, the rainfall grid and the set-up temporaries.
double gridMemoryBytes(const ModelParams& params);

// The same for a share of the grid, before its cells are chosen: the rasters
// kept for every cell, the rainfall grid and the temporaries of the choice.
double shareMemoryBytes(const ModelParams& params);

// Bytes of the node arrays and tasks of the set-up cells, the series alive at
// once in the time loop, and the discharge files' buffers.
double modelMemoryBytes(const CellGrid& grid, const ModelParams& params);

// Throws InputError when `needed` bytes exceed what is available (`available`
// of 0 means unknown: no check).
void requireMemory(double needed, double available);

// Bytes of the series of one dam (its storage, its cell's inflow and outflow,
// kept to the end for the tables, its recorded releases and its console
// lines) or one reservoir (its cell's inflow and outflow, its console lines).
double damMemoryBytes(const ModelParams& params);
double reservoirMemoryBytes(const ModelParams& params);

// Bytes that the output stage writes into "./output/": the three discharge
// files, the rainfall totals, and an hourly table per dam or reservoir.
double outputBytes(const ModelParams& params, std::size_t structures);

// Bytes that can still be written into `dir`, its free space: the results
// it holds stay until the new ones are complete. Negative when it cannot be
// told (for example when the directory is missing).
double writableBytes(const char* dir);

// Throws InputError when `needed` bytes exceed `available` (negative:
// unknown, no check).
void requireDiskSpace(double needed, double available, const char* dir);

// The grid must be addressable by 32-bit cell indices.
void requireGridSize(const ModelParams& params);
