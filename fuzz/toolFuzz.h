#pragma once
// Shared set-up of the two tool targets: the tools run in "./output/" of the
// project and read "../param-hsx-event-ver400.dat".
//
// Piece 0: three bytes choosing the program variant (bit 0 of the first byte),
// the grid columns (1..8) and rows (1..8); the run is one day. Piece 1: the
// console input. Piece 2: the first discharge file; piece 3: the second (the
// 10-minute series program reads two).

#include "fuzzProject.h"

struct ToolInput {
    bool hourly = false;
    std::string console;
};

inline ToolInput prepareToolProject(const uint8_t* data, std::size_t size, const char* const files[2][2]) {
    resetProject();
    const std::vector<std::string> parts = splitParts(data, size, 4);
    const std::string& config = parts[0];
    auto byteAt = [&](std::size_t k) { return k < config.size() ? static_cast<uint8_t>(config[k]) : uint8_t{4}; };
    ToolInput input;
    input.hourly = (byteAt(0) & 1) != 0;
    ModelParams params = smallParams();
    params.ncols = 1 + byteAt(1) % 8;
    params.nrows = 1 + byteAt(2) % 8;
    writeFile("param-hsx-event-ver400.dat", paramFileText(params));
    if (parts.size() > 1) input.console = parts[1];
    const char* const* names = files[input.hourly ? 1 : 0];
    for (std::size_t k = 0; k < 2; ++k) {
        if (names[k] != nullptr) writePart(parts, k + 2, std::string("output/") + names[k]);
    }
    std::filesystem::current_path(projectDir() / "output");
    return input;
}
