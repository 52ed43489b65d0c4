// The parameter file, full and tool variant, read from the fuzz input.

#include "fuzzProject.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::ostringstream console;
    try {
        std::istringstream in(text);
        ModelParams params;
        readParamFile(in, kModelParamPath, console, params);
        checkModelParams(params);
    } catch (const InputError& error) {
        checkStopMessage(error);
    }
    try {
        std::istringstream in(text);
        ToolParams params;
        readParamFile(in, kToolParamPath, console, params);
    } catch (const InputError& error) {
        checkStopMessage(error);
    }
    return 0;
}
