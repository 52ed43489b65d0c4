#pragma once
// The parameter file "param-hsx-event-ver400.dat": a label-free sequence of
// whitespace-separated numbers, read in a fixed order and echoed with labels.
//
// Two variants share one reader: the full one of the simulation (values 1..26)
// and the short one of the post-processing tools (values 1..14).
//
// Both throw InputError (exact console text) on the first bad value; every
// check runs right after its value is read and echoed, so nothing after a
// failed check is read or printed.

#include <cstdint>
#include <iosfwd>
#include <limits>
#include <string>

inline const char* const kModelParamPath = "./param-hsx-event-ver400.dat";
inline const char* const kToolParamPath = "../param-hsx-event-ver400.dat";

struct ModelParams {
    // 1: study area
    float scale = 0.0f;        // cell size, arc-seconds
    int32_t ncols = 0;
    int32_t nrows = 0;
    double xllcorner = 0.0;    // south-west corner, degrees
    double yllcorner = 0.0;
    // 2: rainfall input
    int32_t rainFormat = 0;    // 1 text, 2 binary
    int32_t rainInterval = 0;  // minutes
    int32_t rainCols = 0;
    int32_t rainRows = 0;
    double rainDx = 0.0;
    double rainDy = 0.0;
    double rainLon0 = 0.0;     // centre of the south-west rainfall cell
    double rainLat0 = 0.0;
    int32_t obsPerHour = 0;    // derived: 60 / rainInterval
    // 3: duration
    int32_t days = 0;
    // 4: finite differences
    int32_t stepSeconds = 0;
    int32_t spaceSteps = 0;
    double fdWeight = 0.0;
    int32_t stepsPerHour = 0;  // derived: 3600 / stepSeconds
    // 5: kinematic wave; a negative value selects a per-cell map
    double Ns = 0.0;
    double Ka = 0.0;
    double Da = 0.0;
    double Dm = 0.0;
    double Beta = 0.0;
    double Nr = 0.0;
    // 6: topography
    int32_t channelThreshold = 0;
    double slopeLength = 0.0;
    // 7: initial state
    double ROFinitial = 0.0;   // mm/h
};

// Values 1..14 as the tools read them; they use only ncols, nrows and days.
struct ToolParams {
    float scale = 0.0f;
    int32_t ncols = 0;
    int32_t nrows = 0;
    double xllcorner = 0.0;
    double yllcorner = 0.0;
    int32_t rainFormat = 0;
    int32_t rainInterval = 0;
    int32_t rainCols = 0;
    int32_t rainRows = 0;
    double rainDx = 0.0;
    double rainDy = 0.0;
    double rainLon0 = 0.0;
    double rainLat0 = 0.0;
    int32_t days = 0;
};

// Full variant over an open stream; `path` only names the file in messages.
void readParamFile(std::istream& in, const std::string& path, std::ostream& out, ModelParams& params);
// Tool variant over an open stream.
void readParamFile(std::istream& in, const std::string& path, std::ostream& out, ToolParams& params);

// Full variant on "./param-hsx-event-ver400.dat"; a missing file is an InputError
// with the text "./param-hsx-event-ver400.dat cannot open.\n".
ModelParams readParamFile(std::ostream& out);

// Tool variant on "../param-hsx-event-ver400.dat". Returns false, printing
// nothing, when the file cannot be opened: each tool has its own ending then.
bool readParamFile(std::ostream& out, ToolParams& params);

// The smallest normal double: the tolerance of the cached corners and the
// threshold below which a soil depth counts as no layer.
inline constexpr double kSmallestNormal = std::numeric_limits<double>::min();

// Messages of the values that would divide by zero, for the parameter file
// and (followed by the cell) for the parameter maps.
inline constexpr const char* kSlopeRoughnessZero =
    "Error: Manning roughmess coefficient for slope must be larger than zero";
inline constexpr const char* kChannelRoughnessZero =
    "Error: Manning roughmess coefficient for channel must be larger than zero";
inline constexpr const char* kBetaZero =
    "Error: Exponent constant of unsaturated hydraulic conductivity must be larger than zero";

// The smallest slope roughness a run accepts. Far below any real surface
// (smooth concrete is about 0.01), a roughness makes the surface flow so fast
// that the depth iteration of the slope can no longer meet its tolerance in
// double precision, and every node of every step runs to the iteration limit.
inline constexpr double kMinSlopeRoughness = 1e-6;
inline constexpr const char* kSlopeRoughnessTooSmall =
    "Error: Manning roughmess coefficient for slope must be at least 1e-06";

// The largest rainfall or initial runoff intensity a run accepts, mm/h. The
// heaviest rain ever measured is about 2000 mm/h; far above that, the slope
// flow grows so large that its iterations can no longer meet their absolute
// tolerance and every node of every step runs to the iteration limits.
inline constexpr double kMaxIntensity = 1e6;

// The "Set parameter data." checks on the parameter-file values: the four of
// the file format, the bounds of the slope roughness and the initial runoff,
// then a zero Beta where a capillary layer would use it. A negative value
// passes: it selects a map.
void checkModelParams(const ModelParams& params);
