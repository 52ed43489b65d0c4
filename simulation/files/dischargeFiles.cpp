#include "dischargeFiles.h"

#include "dischargeOutput.h"
#include "paramFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

void cellStatistics(const std::vector<float>& series, const TenMinuteLayout& layout, int days, int stepsPerHour,
                    float* values) {
    for (int day = 0; day < days; ++day) {
        for (int hour = 0; hour < 24; ++hour) {
            const float* hourValues = series.data() + seriesIndex(day, hour, 0, stepsPerHour);
            values[0] = meanInOrder(hourValues, stepsPerHour);
            for (int s = 0; s < 6; ++s) {
                values[1 + s] = layout.snapshot(hourValues, s);
                values[7 + s] = layout.mean(hourValues, s);
            }
            values += kValuesPerHour;
        }
    }
}

namespace {

// pread and pwrite until all bytes have moved; the error number, or 0. A
// file shorter than it was made (cut by someone else) reads as EIO.
int readAt(int fd, char* bytes, std::size_t size, int64_t offset) {
    while (size > 0) {
        const ssize_t got = ::pread(fd, bytes, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return errno;
        if (got == 0) return EIO;
        bytes += got;
        size -= static_cast<std::size_t>(got);
        offset += got;
    }
    return 0;
}

int writeAt(int fd, const char* bytes, std::size_t size, int64_t offset) {
    while (size > 0) {
        const ssize_t put = ::pwrite(fd, bytes, size, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return errno;
        if (put == 0) return EIO;
        bytes += put;
        size -= static_cast<std::size_t>(put);
        offset += put;
    }
    return 0;
}

void closeFile(DischargeFiles::File& file) {
    if (file.descriptor >= 0 && ::close(file.descriptor) != 0 && file.error == 0) file.error = errno;
    file.descriptor = -1;
}

// Index of value `frameInHour` of file k among a cell's kValuesPerHour values of an hour.
int valueIndex(int k, int frameInHour) {
    switch (k) {
        case 0: return 1 + frameInHour;  // snapshots
        case 1: return 7 + frameInHour;  // 10-minute means
        default: return 0;               // hourly mean
    }
}

// A run of frame positions that one batch writes: [first, first + length),
// read before it is patched unless the batch covers every position in it.
struct Segment {
    int64_t first = 0;
    int64_t length = 0;
    bool covered = true;
};

// Positions more than this far apart start a new segment: a gap costs less
// to read and write back than another pair of calls.
constexpr int64_t kSegmentGapCells = 1024;

// The segments of the batch's positions (sorted): runs with small gaps, or a
// single span when there would be so many that patching everything costs less.
std::vector<Segment> segmentsOf(const std::vector<int32_t>& sorted) {
    std::vector<Segment> segments;
    for (std::size_t k = 0; k < sorted.size(); ++k) {
        const int64_t at = sorted[k];
        if (!segments.empty() && at - (segments.back().first + segments.back().length) < kSegmentGapCells) {
            Segment& last = segments.back();
            if (at > last.first + last.length) last.covered = false;  // a gap inside
            last.length = std::max(last.length, at - last.first + 1);
        } else {
            segments.push_back({at, 1, true});
        }
    }
    const int64_t span = segments.empty() ? 0 : segments.back().first + segments.back().length - segments.front().first;
    if (static_cast<int64_t>(segments.size()) * kSegmentGapCells > span && segments.size() > 1) {
        segments = {{segments.front().first, span, false}};
    }
    return segments;
}

// Writes the batch into every frame, segment by segment: a segment is read
// (unless the batch covers it), its batched cells' values are set, then it is
// written back. Cells are taken in position order, and a cell entered twice
// keeps the value entered last. Empties the batch.
void writeBatch(DischargeFiles& files) {
    const std::size_t count = files.batchPositions.size();
    if (count == 0) return;
    std::vector<std::size_t> order(count);
    for (std::size_t c = 0; c < count; ++c) order[c] = c;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return files.batchPositions[a] < files.batchPositions[b];
    });
    std::vector<int32_t> sorted(count);
    for (std::size_t c = 0; c < count; ++c) sorted[c] = files.batchPositions[order[c]];
    const std::vector<Segment> segments = segmentsOf(sorted);
    int64_t longest = 0;
    for (const Segment& segment : segments) longest = std::max(longest, segment.length);
    std::vector<float> buffer(static_cast<std::size_t>(longest));

    const std::size_t stride = static_cast<std::size_t>(files.hours) * kValuesPerHour;
    for (int k = 0; k < 3; ++k) {
        DischargeFiles::File& file = files.files[static_cast<std::size_t>(k)];
        for (int64_t frame = 0; file.error == 0 && frame < files.hours * file.framesPerHour; ++frame) {
            const int64_t hour = frame / file.framesPerHour;
            const std::size_t at = static_cast<std::size_t>(hour) * kValuesPerHour +
                                   static_cast<std::size_t>(valueIndex(k, static_cast<int>(frame % file.framesPerHour)));
            std::size_t next = 0;  // first sorted cell not yet written
            for (const Segment& segment : segments) {
                const int64_t offset = (frame * files.cellsPerFrame + segment.first) * static_cast<int64_t>(sizeof(float));
                const std::size_t bytes = static_cast<std::size_t>(segment.length) * sizeof(float);
                char* raw = reinterpret_cast<char*>(buffer.data());
                if (!segment.covered) file.error = readAt(file.descriptor, raw, bytes, offset);
                if (file.error != 0) break;
                for (; next < count && sorted[next] < segment.first + segment.length; ++next)
                    buffer[static_cast<std::size_t>(sorted[next] - segment.first)] = files.batchValues[order[next] * stride + at];
                file.error = writeAt(file.descriptor, raw, bytes, offset);
                if (file.error != 0) break;
            }
        }
    }
    files.batchPositions.clear();
    files.batchValues.clear();
}

}  // namespace

DischargeFiles::~DischargeFiles() {
    for (File& file : files) {
        closeFile(file);
        if (!file.temporary.empty()) std::remove(file.temporary.c_str());
    }
}

void openDischargeFiles(DischargeFiles& files, const CellGrid& grid, const std::vector<int32_t>& riverNumList,
                        const ModelParams& params, std::size_t batchBytes, const std::string& directory) {
    const char* const names[3] = {"discharge10minSnapshot.bin", "discharge10minMean.bin", "dischargeHourlyMean.bin"};
    files.cellsPerFrame = static_cast<int64_t>(grid.nrows) * grid.ncols;
    files.hours = static_cast<int64_t>(params.days) * 24;
    const std::size_t cellBytes = static_cast<std::size_t>(files.hours) * kValuesPerHour * sizeof(float);
    if (batchBytes == 0) batchBytes = dischargeBatchBytes(grid.cellCount());
    files.batchCapacity = std::max<std::size_t>(1, batchBytes / std::max<std::size_t>(1, cellBytes));
    files.batchCapacity = std::min(files.batchCapacity, std::max<std::size_t>(1, grid.cellCount()));

    // A frame as the files start: no data on the border and in rivers not
    // simulated, zero discharge elsewhere (a cell that is never computed).
    std::vector<float> blank(static_cast<std::size_t>(files.cellsPerFrame));
    files.framePosition.assign(grid.cellCount(), 0);
    std::size_t k = 0;
    for (int r = grid.nrows - 1; r >= 0; --r) {
        for (int c = 0; c < grid.ncols; ++c, ++k) {
            const int32_t i = grid.index(r, c);
            blank[k] = !grid.isEdgeAt(i) && isListedRiver(riverNumList, grid.riverNumAt(i)) ? 0.0f : kNoData;
            files.framePosition[static_cast<std::size_t>(grid.index(r, c))] = static_cast<int32_t>(k);
        }
    }
    // Reserved once: a batch never grows past its capacity, so it is never moved.
    files.batchPositions.reserve(files.batchCapacity);
    files.batchValues.reserve(files.batchCapacity * static_cast<std::size_t>(files.hours) * kValuesPerHour);
    for (int f = 0; f < 3; ++f) {
        DischargeFiles::File& file = files.files[static_cast<std::size_t>(f)];
        file.path = directory + names[f];
        file.temporary = file.path + ".partial";
        file.framesPerHour = f == 2 ? 1 : 6;
        file.descriptor = ::open(file.temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        file.error = file.descriptor >= 0 ? 0 : errno;
        const std::size_t frameBytes = blank.size() * sizeof(float);
        for (int64_t frame = 0; file.error == 0 && frame < files.hours * file.framesPerHour; ++frame) {
            file.error = writeAt(file.descriptor, reinterpret_cast<const char*>(blank.data()), frameBytes,
                              frame * static_cast<int64_t>(frameBytes));
        }
    }
}

void addCellValues(DischargeFiles& files, int32_t cell, const float* values) {
    const std::size_t stride = static_cast<std::size_t>(files.hours) * kValuesPerHour;
    std::lock_guard<std::mutex> lock(files.mutex);
    files.batchPositions.push_back(files.framePosition[static_cast<std::size_t>(cell)]);
    files.batchValues.insert(files.batchValues.end(), values, values + stride);
    if (files.batchPositions.size() >= files.batchCapacity) writeBatch(files);
}

void closeDischargeFiles(DischargeFiles& files) {
    std::lock_guard<std::mutex> lock(files.mutex);
    writeBatch(files);
    for (DischargeFiles::File& file : files.files) closeFile(file);
}

FileFailure dischargeFailure(const DischargeFiles& files) {
    for (const DischargeFiles::File& file : files.files)
        if (file.error != 0) return {file.path, file.error};
    return {};
}
