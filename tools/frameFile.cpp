#include "frameFile.h"

#include "inputError.h"

#include <limits>

static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559,
              "discharge files hold IEEE-754 float32 values");

namespace {

// Number of complete frames in the file, or the largest count when the size
// cannot be told (then a short read still finds the end).
uint64_t countWholeFrames(std::ifstream& stream, uint64_t cellsPerFrame) {
    stream.seekg(0, std::ios::end);
    const std::streamoff size = stream.tellg();
    stream.clear();
    stream.seekg(0, std::ios::beg);
    if (size < 0) return std::numeric_limits<uint64_t>::max();
    // Divide rather than multiply: cellsPerFrame x 4 may not fit in 64 bits.
    return static_cast<uint64_t>(size) / sizeof(float) / cellsPerFrame;
}

InputError endsEarly(const FrameFile& file, int64_t frameCount) {
    return InputError("Discharge data " + file.path + " is too short: it ends in frame " +
                      std::to_string(file.framesRead + 1) + " of " + std::to_string(frameCount) + ".\n");
}

}  // namespace

bool openFrameFile(FrameFile& file, const std::string& path, uint64_t cellsPerFrame) {
    file.path = path;
    file.cellsPerFrame = cellsPerFrame;
    file.framesRead = 0;
    file.stream.open(path, std::ios::binary);
    if (!file.stream) return false;
    file.wholeFrames = countWholeFrames(file.stream, cellsPerFrame);
    return true;
}

void readFrame(FrameFile& file, std::vector<float>& frame, int64_t frameCount) {
    // The size check comes first, so a grid larger than the file is never allocated.
    if (static_cast<uint64_t>(file.framesRead) >= file.wholeFrames) throw endsEarly(file, frameCount);
    frame.resize(file.cellsPerFrame);
    const auto bytes = static_cast<std::streamsize>(file.cellsPerFrame * sizeof(float));
    file.stream.read(reinterpret_cast<char*>(frame.data()), bytes);
    if (file.stream.gcount() != bytes) throw endsEarly(file, frameCount);
    ++file.framesRead;
}
