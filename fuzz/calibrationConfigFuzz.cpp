// The configuration reader of calibrateModel on a fuzzed TOML file. Every
// mistake must be one line, "Error: " and its line end; a configuration it
// accepts must name at least one event with a gauge and one parameter with
// its bounds in order.

#include "calibrationConfig.h"
#include "fuzzProject.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    resetProject();  // its folders ("input", "topoData" ...) serve as project folders
    writeFile("cal.toml", std::string(reinterpret_cast<const char*>(data), size));
    try {
        const CalibrationConfig config = readCalibrationConfig("cal.toml");
        if (config.events.empty() || config.events[0].gauges.empty() || config.parameters.empty()) {
            finding("a configuration without an event, a gauge or a parameter was accepted");
        }
        for (const ParameterConfig& p : config.parameters)
            if (!(p.min < p.max) || p.min < 0.0) finding("bounds out of order were accepted");
    } catch (const InputError& error) {
        const std::string& m = error.message;
        if (m.rfind("Error: ", 0) != 0 || m.empty() || m.back() != '\n' || m.find('\n') != m.size() - 1) {
            finding("a configuration mistake that is not one \"Error: \" line: " + m);
        }
    }
    return 0;
}
