#pragma once
// Discharge grid files read back frame by frame. A file is a headerless run of
// frames, each nrows x ncols little-endian float32 values, south row first and
// every row west to east. A whole frame is read with one call, so the tools run
// at the speed of the disk rather than one system call per value.

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

struct FrameFile {
    std::string path;
    std::ifstream stream;
    uint64_t cellsPerFrame = 0;
    uint64_t wholeFrames = 0;  // frames the file holds complete, from its size
    int64_t framesRead = 0;
};

// Opens `path` for binary reading with frames of `cellsPerFrame` (>= 1) values.
// Returns false, printing nothing, when the file cannot be opened.
bool openFrameFile(FrameFile& file, const std::string& path, uint64_t cellsPerFrame);

// Reads the next frame into `frame`, which is sized once and then reused.
// `frameCount` is the number of frames the parameter file implies; it only
// appears in the message. When the file ends before this frame is complete,
// throws InputError naming the file and the frame (counted from 1); frames
// read before stay valid. Never allocates more than the file holds.
void readFrame(FrameFile& file, std::vector<float>& frame, int64_t frameCount);
