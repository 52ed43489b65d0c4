#pragma once
// The state file of runoffSim --save-state and --initial-state: a ModelState
// (modelState.h) with what it belongs to, in a binary format of our own.
//
// Every number is little-endian; reals are IEEE-754 doubles (float32 where
// said), written with all their bits, so a state read back is the state saved.
//
//   bytes  content
//   8      magic "FLDSTATE"
//   4      format version, uint32 (kStateFormatVersion)
//   16     version of the toolkit that wrote it, ASCII, zero-padded
//   4, 4   nrows, ncols (int32)
//   8, 8   xllcorner, yllcorner (degrees)
//   4      scale (float32, arc-seconds)
//   4, 4   spaceSteps, stepSeconds (int32)
//   6 x 8  Ns, Ka, Da, Dm, Beta, Nr as the parameter file gives them (negative: a map)
//   6 x 8  the digest of the values each of them gives the set-up cells
//          (uint64, valueDigests in paramMaps.h)
//   8      fdWeight
//   4      channelThreshold (int32)
//   8      slopeLength
//   4      hour of the saving run at whose end the state was taken (int32, from 1)
//   8      number of cell records (int64)
//   4, 4   number of dam records, of reservoir records (int32)
//   cell records in ascending grid index: grid index (int32, row * ncols +
//          column, row 0 north), kind (int32, 1 slope, 2 channel), then
//          slopeQ[0..N] and, for a channel, chanQ[0..N] and chanA[0..N]
//          (N = spaceSteps; doubles)
//   dam records in the order of input/dam.dat: grid index (int32), kind
//          (int32), storage relative to the initial storage (m3)
//   reservoir records in the order of input/reservoir.dat: grid index
//          (int32), inflow and outflow of the last step (m3/s)
//   8      FNV-1a 64 checksum of every byte before it (uint64)

#include "modelState.h"
#include "paramMaps.h"

#include <array>
#include <cstdint>
#include <string>

struct ModelParams;

inline constexpr uint32_t kStateFormatVersion = 1;

// The six parameters of the parameter file that shape a cell (ROFinitial
// does not: a state replaces the initial state it gives).
inline constexpr int kShapingParams = 6;

// What a state belongs to: the grid, the steps and the parameters that
// shape the cells.
struct StateHeader {
    std::string modelVersion;
    int32_t nrows = 0;
    int32_t ncols = 0;
    double xllcorner = 0.0;
    double yllcorner = 0.0;
    float scale = 0.0f;
    int32_t spaceSteps = 0;
    int32_t stepSeconds = 0;
    std::array<double, kShapingParams> values{};     // Ns, Ka, Da, Dm, Beta, Nr
    std::array<uint64_t, kShapingParams> digests{};  // of their cell values
    double fdWeight = 0.0;
    int32_t channelThreshold = 0;
    double slopeLength = 0.0;
};

// The header of a state of the project with these parameters and cell-value digests.
StateHeader projectHeader(const ModelParams& params, const ValueDigests& digests);

struct StateFile {
    StateHeader header;
    ModelState state;
};

// The bytes of a state file.
std::string encodeState(const StateFile& file);

// The state in `bytes`, read from `path` (which names it in messages).
// Throws InputError, one line, for bytes that are not a state file of this
// format, a file that ends early or holds more, a checksum that does not
// match, and records out of order, outside the grid or not finite.
StateFile decodeState(const std::string& bytes, const std::string& path);

// Reads and decodes the state file `path`; one that cannot be read is an InputError.
StateFile readStateFile(const std::string& path);

// Writes the state file under a temporary name in the directory of `path`
// and renames it to `path` when complete, so a failed write leaves what was
// there. Throws InputError naming `path` and the reason when it fails.
void writeStateFile(const std::string& path, const StateFile& file);

// Throws, before a run writes anything, an InputError naming `path` when no
// state file can be created there (its directory is missing or not writable,
// or `path` is a directory).
void requireStateWritable(const std::string& path);
