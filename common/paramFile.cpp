#include "paramFile.h"

#include "inputError.h"

#include <fstream>
#include <istream>
#include <ostream>

namespace {

// Reads the values one by one by formatted extraction. A value that is missing
// or not a number stops the reading with a message naming the file and the
// value, so the run never goes on with silently zeroed settings.
struct ValueReader {
    std::istream& in;
    const std::string& path;

    template <typename T>
    T read(const char* label) {
        T value{};
        if (!(in >> value)) {
            throw InputError("Error: " + path + " cannot read \"" + label +
                             "\": the file ends early or holds a token that is not a number.\n");
        }
        return value;
    }
};

// Section 1, the same in both variants apart from the heading.
template <typename Params>
void readStudyArea(ValueReader& r, std::ostream& out, Params& p, const char* heading) {
    out << heading << '\n';
    p.scale = r.read<float>("Topography scale");
    out << "  Topography scale : " << p.scale << '\n';
    if (!(p.scale > 0.0f)) throw boxedError("Topography scale must be larger than zero");
    p.ncols = r.read<int32_t>("Number of col");
    p.nrows = r.read<int32_t>("Number of row");
    out << "  Number of col : " << p.ncols << "  Number of row : " << p.nrows << '\n';
    if (p.ncols < 1) throw boxedError("Number of col must be larger than zero");
    if (p.nrows < 1) throw boxedError("Number of row must be larger than zero");
    p.xllcorner = r.read<double>("Sorth West corner Longitude (degree)");
    p.yllcorner = r.read<double>("Latitude (deg)");
    out << " Sorth West corner Longitude (degree) : " << p.xllcorner << " Latitude (deg) : " << p.yllcorner
        << '\n';
}

// rainInterval must divide 60; zero or below would divide by zero.
void checkRainInterval(int32_t rainInterval) {
    if (rainInterval <= 0 || 60 % rainInterval != 0) throw boxedError("Rainfall time interval is wrong!");
}

// Rainfall grid size and spacing of section 2, the same in both variants.
template <typename Params>
void readRainGrid(ValueReader& r, std::ostream& out, Params& p) {
    p.rainCols = r.read<int32_t>("Number of col");
    p.rainRows = r.read<int32_t>("Number of row");
    out << "  Number of col : " << p.rainCols << "  Number of row : " << p.rainRows << '\n';
    if (p.rainCols < 1) throw boxedError("Number of col of input data must be larger than zero");
    if (p.rainRows < 1) throw boxedError("Number of row of input data must be larger than zero");
    p.rainDx = r.read<double>("Input data grid size of x-direction");
    p.rainDy = r.read<double>("Input data grid size of y-direction");
    out << "  Input data grid size of x-direction : " << p.rainDx << '\n';
    out << "  Input data grid size of y-direction : " << p.rainDy << '\n';
}

template <typename Params>
void readDuration(ValueReader& r, std::ostream& out, Params& p, const char* heading) {
    out << heading << '\n';
    p.days = r.read<int32_t>("Simulation duration (days)");
    out << "  Simulation duration (days) : " << p.days << '\n';
    if (p.days < 1) throw boxedError("Simulation duration must be larger than zero");
}

}  // namespace

void readParamFile(std::istream& in, const std::string& path, std::ostream& out, ModelParams& p) {
    ValueReader r{in, path};
    readStudyArea(r, out, p, "1: Reading parameters for study area.");

    out << "2: Reading parameters for input data.\n";
    p.rainFormat = r.read<int32_t>("Set rainfall data format (1: text, 2: 4 byte binary)");
    out << "Read ";
    if (p.rainFormat == 1) {
        out << "./input/rain.dat\n";
    } else if (p.rainFormat == 2) {
        out << "./input/rain.bin\n";
    } else {
        throw InputError("Set rainfall data format (1: text, 2: 4 byte binary)\n");
    }
    p.rainInterval = r.read<int32_t>("Rainfall time interval (min)");
    out << "  Rainfall time interval (min): " << p.rainInterval << '\n';
    checkRainInterval(p.rainInterval);
    readRainGrid(r, out, p);
    p.rainLon0 = r.read<double>("Longitude of the center of the Southwest corner of input data (degree)");
    out << "  Longitude of the center of the Southwest corner of input data (degree) : " << p.rainLon0 << '\n';
    p.rainLat0 = r.read<double>("Latitude of the center of the Southwest corner of input data (degree)");
    out << "  Latitude of the center of the Southwest corner of input data (degree) : " << p.rainLat0 << '\n';
    p.obsPerHour = 60 / p.rainInterval;
    out << "  Raninfall observation times in 1 hour : " << p.obsPerHour << '\n';

    readDuration(r, out, p, "3: Reading parameters for simuration duration.");

    out << "4: Reading parameters for finite difference condition.\n";
    p.stepSeconds = r.read<int32_t>("Finite Difference time interval (sec)");
    out << "  Finite Difference time interval (sec) : " << p.stepSeconds << '\n';
    // rainInterval is at most 60 here, so the product cannot overflow.
    if (p.stepSeconds <= 0 || (p.rainInterval * 60) % p.stepSeconds != 0) {
        throw boxedError("Finite Difference time interval is wrong!");
    }
    p.spaceSteps = r.read<int32_t>("Finite difference space step");
    out << "  Finite difference space step : " << p.spaceSteps << '\n';
    if (p.spaceSteps < 1) throw boxedError("Finite difference space step must be larger than zero");
    p.fdWeight = r.read<double>("Finite difference weight");
    out << "  Finite difference weight : " << p.fdWeight << '\n';
    // A negative weight has no meaning (the scheme runs from explicit at 0 to
    // implicit at 1) and makes the celerity iterations diverge or never end.
    if (p.fdWeight < 0.0) throw boxedError("Finite difference weight must not be negative");
    p.stepsPerHour = 3600 / p.stepSeconds;
    out << "  Iteration times in 1 hour : " << p.stepsPerHour << '\n';

    out << "5: Reading parameters for kinematic wave model.\n";
    p.Ns = r.read<double>("Manning roughmess coefficient for slope [m-s unit]");
    out << "Manning roughmess coefficient for slope [m-s unit] : " << p.Ns << '\n';
    p.Ka = r.read<double>("Hydraulic conductivity [m-s]");
    out << "Hydraulic conductivity [m-s] : " << p.Ka << '\n';
    p.Da = r.read<double>("Depth of capillary and non-capillary soil layers [m]");
    out << "Depth of capillary and non-capillary soil layers [m] : " << p.Da << '\n';
    p.Dm = r.read<double>("Depth of capillary soil layers [m]");
    out << "Depth of capillary soil layers [m] : " << p.Dm << '\n';
    p.Beta = r.read<double>("Exponent constant of unsaturated hydraulic conductivity");
    out << "Exponent constant of unsaturated hydraulic conductivity : " << p.Beta << '\n';
    p.Nr = r.read<double>("Manning roughmess coefficient for channel [m-s unit]");
    out << "Manning roughmess coefficient for channel [m-s unit] : " << p.Nr << '\n';

    out << "6: Reading the parameters of topographic conditions.\n";
    p.channelThreshold = r.read<int32_t>("Area to classify slope and channel");
    out << "  Area to classify slope and channel : " << p.channelThreshold << '\n';
    p.slopeLength = r.read<double>("Slope length [m]");
    out << "  Slope length [m] : " << p.slopeLength << '\n';
    if (!(p.slopeLength > 0.0)) throw boxedError("Slope length must be larger than zero");

    out << "7: Reading itinial discharge for kinematic wave model.\n";
    p.ROFinitial = r.read<double>("Initial runoff height [mm/hr]");
    out << "  Initial runoff height [mm/hr] : " << p.ROFinitial << '\n';
}

void readParamFile(std::istream& in, const std::string& path, std::ostream& out, ToolParams& p) {
    ValueReader r{in, path};
    readStudyArea(r, out, p, "1) Reading parameters for study area.");

    out << "2) Reading parameters for input data.\n";
    p.rainFormat = r.read<int32_t>("Set rainfall data format (1: text, 2: 4 byte binary)");
    p.rainInterval = r.read<int32_t>("Rainfall time interval (min)");
    out << "  Rainfall time interval (min): " << p.rainInterval << '\n';
    checkRainInterval(p.rainInterval);
    readRainGrid(r, out, p);
    p.rainLon0 = r.read<double>("West corner longitude of input data");
    out << "  West corner longitude of input data : " << p.rainLon0 << '\n';
    p.rainLat0 = r.read<double>("South corner latitude of input data");
    out << "  South corner latitude of input data : " << p.rainLat0 << '\n';

    readDuration(r, out, p, "3) Reading parameters for simuration duration.");
}

ModelParams readParamFile(std::ostream& out) {
    std::ifstream in(kModelParamPath);
    if (!in) throw InputError(std::string(kModelParamPath) + " cannot open.\n");
    ModelParams params;
    readParamFile(in, kModelParamPath, out, params);
    return params;
}

bool readParamFile(std::ostream& out, ToolParams& params) {
    std::ifstream in(kToolParamPath);
    if (!in) return false;
    readParamFile(in, kToolParamPath, out, params);
    return true;
}

void checkModelParams(const ModelParams& p) {
    auto fail = [](const char* text) { return InputError(std::string("\n") + text + "\n\n"); };
    if (p.Ns == 0.0) throw fail(kSlopeRoughnessZero);
    if (p.Nr == 0.0) throw fail(kChannelRoughnessZero);
    if (p.Da > 0.0 && p.Dm > 0.0 && p.Dm > p.Da) {
        throw fail("Error: Depth of capillary soil layer must be larger than that of non-capillary soil layer");
    }
    if (p.ROFinitial == 0.0) throw fail("Error: Initial runoff height must be larger than zero");
    // Beyond the four checks above: values that would hang or break the model.
    if (p.Ns > 0.0 && p.Ns < kMinSlopeRoughness) throw fail(kSlopeRoughnessTooSmall);
    if (p.ROFinitial > kMaxIntensity) throw fail("Error: Initial runoff height must not exceed 1e+06 mm/hr");
    // The capillary layer's discharge divides by Beta: zero is no exponent where
    // that layer exists (without one, Beta is never used).
    if (p.Beta == 0.0 && p.Dm >= kSmallestNormal) throw fail(kBetaZero);
}
