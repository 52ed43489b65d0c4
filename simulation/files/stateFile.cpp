#include "stateFile.h"

#include "digest.h"
#include "inputError.h"
#include "paramFile.h"
#include "programInfo.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kMagic[8] = {'F', 'L', 'D', 'S', 'T', 'A', 'T', 'E'};
constexpr std::size_t kVersionBytes = 16;
// Everything up to the record counts, and the counts themselves.
constexpr std::size_t kHeaderBytes = 8 + 4 + kVersionBytes + 4 + 4 + 8 + 8 + 4 + 4 + 4 + kShapingParams * 8 +
                                     kShapingParams * 8 + 8 + 4 + 8 + 4 + 8 + 4 + 4;
constexpr std::size_t kChecksumBytes = 8;
constexpr std::size_t kDamRecordBytes = 4 + 4 + 8;
constexpr std::size_t kReservoirRecordBytes = 4 + 8 + 8;

// Appends little-endian numbers to a preallocated byte string.
struct ByteWriter {
    std::string bytes;
    std::size_t at = 0;

    explicit ByteWriter(std::size_t size) : bytes(size, '\0') {}
    void unsignedBytes(uint64_t value, int count) {
        for (int k = 0; k < count; ++k) bytes[at++] = static_cast<char>(value >> (8 * k));
    }
    void u32(uint32_t v) { unsignedBytes(v, 4); }
    void i32(int32_t v) { unsignedBytes(static_cast<uint32_t>(v), 4); }
    void u64(uint64_t v) { unsignedBytes(v, 8); }
    void i64(int64_t v) { unsignedBytes(static_cast<uint64_t>(v), 8); }
    void f64(double v) {
        uint64_t bits = 0;
        std::memcpy(&bits, &v, 8);
        u64(bits);
    }
    void f32(float v) {
        uint32_t bits = 0;
        std::memcpy(&bits, &v, 4);
        u32(bits);
    }
    void raw(const char* p, std::size_t n) {
        std::memcpy(&bytes[at], p, n);
        at += n;
    }
};

// Reads little-endian numbers; the caller makes sure the bytes are there.
struct ByteReader {
    const std::string& bytes;
    std::size_t at = 0;

    uint64_t unsignedBytes(int count) {
        uint64_t value = 0;
        for (int k = 0; k < count; ++k) value |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[at++])) << (8 * k);
        return value;
    }
    uint32_t u32() { return static_cast<uint32_t>(unsignedBytes(4)); }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    uint64_t u64() { return unsignedBytes(8); }
    int64_t i64() { return static_cast<int64_t>(u64()); }
    double f64() {
        const uint64_t bits = u64();
        double v = 0.0;
        std::memcpy(&v, &bits, 8);
        return v;
    }
    float f32() {
        const uint32_t bits = u32();
        float v = 0.0f;
        std::memcpy(&v, &bits, 4);
        return v;
    }
};

uint64_t checksumOf(const std::string& bytes, std::size_t count) {
    Fnv1a sum;
    sum.add(reinterpret_cast<const unsigned char*>(bytes.data()), count);
    return sum.hash;
}

InputError damaged(const std::string& path, const std::string& what) {
    return InputError("Error: the state file " + path + " is damaged: " + what + ".\n");
}

InputError truncated(const std::string& path) {
    return InputError("Error: the state file " + path + " is truncated.\n");
}

// How the records of a file lie: whether they fit before the checksum, where
// they end, and the first thing in them that cannot be a record.
struct RecordWalk {
    bool fits = true;
    std::size_t end = 0;
    std::string malformed;
};

RecordWalk walkRecords(const std::string& bytes, int64_t cellCount, int32_t damCount, int32_t reservoirCount,
                       int32_t spaceSteps) {
    RecordWalk walk;
    const std::size_t limit = bytes.size() - kChecksumBytes;
    ByteReader in{bytes, kHeaderBytes};
    const uint64_t nodes = static_cast<uint64_t>(spaceSteps) + 1;
    for (int64_t k = 0; k < cellCount; ++k) {
        if (limit - in.at < 8) return walk.fits = false, walk;
        in.i32();
        const int32_t kind = in.i32();
        if (kind != kSlopeCell && kind != kChannelCell) {
            walk.malformed = "a cell record of unknown kind " + std::to_string(kind);
            return walk;
        }
        const uint64_t valueBytes = 8 * nodes * (kind == kChannelCell ? 3 : 1);
        if (limit - in.at < valueBytes) return walk.fits = false, walk;
        in.at += static_cast<std::size_t>(valueBytes);
    }
    const uint64_t structureBytes = static_cast<uint64_t>(damCount) * kDamRecordBytes +
                                    static_cast<uint64_t>(reservoirCount) * kReservoirRecordBytes;
    if (limit - in.at < structureBytes) return walk.fits = false, walk;
    walk.end = in.at + static_cast<std::size_t>(structureBytes);
    return walk;
}

// Whether a version field is what the writer makes of a version: printable
// characters, then zeros, at least one.
bool versionFieldValid(const char* field) {
    std::size_t n = 0;
    while (n < kVersionBytes && field[n] >= 0x20 && field[n] < 0x7f) ++n;
    if (n == kVersionBytes) return false;
    for (std::size_t k = n; k < kVersionBytes; ++k)
        if (field[k] != '\0') return false;
    return true;
}

StateHeader readHeader(ByteReader& in) {
    StateHeader h;
    in.at = 8 + 4;
    h.modelVersion.assign(in.bytes.data() + in.at, kVersionBytes);
    h.modelVersion.resize(std::strlen(h.modelVersion.c_str()));
    in.at += kVersionBytes;
    h.nrows = in.i32();
    h.ncols = in.i32();
    h.xllcorner = in.f64();
    h.yllcorner = in.f64();
    h.scale = in.f32();
    h.spaceSteps = in.i32();
    h.stepSeconds = in.i32();
    for (double& v : h.values) v = in.f64();
    for (uint64_t& d : h.digests) d = in.u64();
    h.fdWeight = in.f64();
    h.channelThreshold = in.i32();
    h.slopeLength = in.f64();
    return h;
}

// The records, once the file is known to hold them whole.
void readRecords(ByteReader& in, StateFile& file, int64_t cellCount, int32_t damCount, int32_t reservoirCount,
                 const std::string& path) {
    ModelState& state = file.state;
    const int64_t cells = static_cast<int64_t>(file.header.nrows) * file.header.ncols;
    state.cells.reserve(static_cast<std::size_t>(cellCount));
    state.kinds.reserve(static_cast<std::size_t>(cellCount));
    state.offsets.reserve(static_cast<std::size_t>(cellCount) + 1);
    state.values.reserve(in.bytes.size() / sizeof(double));
    for (int64_t k = 0; k < cellCount; ++k) {
        const int32_t i = in.i32();
        const int32_t kind = in.i32();
        if (i < 0 || i >= cells) throw damaged(path, "a cell record lies outside the grid");
        if (!state.cells.empty() && i <= state.cells.back()) throw damaged(path, "the cell records are not in ascending order");
        addCellRecord(state, i, kind);
        double* values = state.values.data() + state.offsets[state.offsets.size() - 2];
        for (int64_t v = 0, n = nodeValueCount(kind, state.spaceSteps); v < n; ++v) {
            values[v] = in.f64();
            if (!std::isfinite(values[v])) throw damaged(path, "a value is not a finite number");
        }
    }
    const auto cellOf = [&]() {
        const int32_t i = in.i32();
        if (i < 0 || i >= cells) throw damaged(path, "a dam or reservoir record lies outside the grid");
        return i;
    };
    state.dams.resize(static_cast<std::size_t>(damCount));
    for (StructureState& dam : state.dams) {
        dam.cell = cellOf();
        dam.kind = in.i32();
        dam.storage = in.f64();
        if (!std::isfinite(dam.storage)) throw damaged(path, "a value is not a finite number");
    }
    state.reservoirs.resize(static_cast<std::size_t>(reservoirCount));
    for (StructureState& reservoir : state.reservoirs) {
        reservoir.cell = cellOf();
        reservoir.prevInflow = in.f64();
        reservoir.outflow = in.f64();
        if (!std::isfinite(reservoir.prevInflow) || !std::isfinite(reservoir.outflow))
            throw damaged(path, "a value is not a finite number");
    }
}

std::string reasonText() { return std::strerror(errno); }

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

StateHeader projectHeader(const ModelParams& params, const ValueDigests& digests) {
    StateHeader h;
    h.modelVersion = toolkitVersion();
    h.nrows = params.nrows;
    h.ncols = params.ncols;
    h.xllcorner = params.xllcorner;
    h.yllcorner = params.yllcorner;
    h.scale = params.scale;
    h.spaceSteps = params.spaceSteps;
    h.stepSeconds = params.stepSeconds;
    h.values = {params.Ns, params.Ka, params.Da, params.Dm, params.Beta, params.Nr};
    for (int k = 0; k < kShapingParams; ++k) h.digests[static_cast<std::size_t>(k)] = digests[static_cast<std::size_t>(k)];
    h.fdWeight = params.fdWeight;
    h.channelThreshold = params.channelThreshold;
    h.slopeLength = params.slopeLength;
    return h;
}

std::string encodeState(const StateFile& file) {
    const StateHeader& h = file.header;
    const ModelState& state = file.state;
    const std::size_t size = kHeaderBytes + 8 * state.cells.size() + 8 * state.values.size() +
                             kDamRecordBytes * state.dams.size() + kReservoirRecordBytes * state.reservoirs.size() +
                             kChecksumBytes;
    ByteWriter out(size);
    out.raw(kMagic, 8);
    out.u32(kStateFormatVersion);
    char version[kVersionBytes] = {};
    std::memcpy(version, h.modelVersion.data(), std::min(h.modelVersion.size(), kVersionBytes - 1));
    out.raw(version, kVersionBytes);
    out.i32(h.nrows);
    out.i32(h.ncols);
    out.f64(h.xllcorner);
    out.f64(h.yllcorner);
    out.f32(h.scale);
    out.i32(h.spaceSteps);
    out.i32(h.stepSeconds);
    for (const double v : h.values) out.f64(v);
    for (const uint64_t d : h.digests) out.u64(d);
    out.f64(h.fdWeight);
    out.i32(h.channelThreshold);
    out.f64(h.slopeLength);
    out.i32(state.hour);
    out.i64(static_cast<int64_t>(state.cells.size()));
    out.i32(static_cast<int32_t>(state.dams.size()));
    out.i32(static_cast<int32_t>(state.reservoirs.size()));
    for (std::size_t k = 0; k < state.cells.size(); ++k) {
        out.i32(state.cells[k]);
        out.i32(state.kinds[k]);
        for (int64_t v = state.offsets[k]; v < state.offsets[k + 1]; ++v) out.f64(state.values[static_cast<std::size_t>(v)]);
    }
    for (const StructureState& dam : state.dams) {
        out.i32(dam.cell);
        out.i32(dam.kind);
        out.f64(dam.storage);
    }
    for (const StructureState& reservoir : state.reservoirs) {
        out.i32(reservoir.cell);
        out.f64(reservoir.prevInflow);
        out.f64(reservoir.outflow);
    }
    out.u64(checksumOf(out.bytes, out.at));
    return std::move(out.bytes);
}

StateFile decodeState(const std::string& bytes, const std::string& path) {
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kMagic, 8) != 0) {
        throw InputError("Error: " + path + " is not a state file of runoffSim.\n");
    }
    if (bytes.size() < 12) throw truncated(path);
    ByteReader in{bytes, 8};
    const uint32_t version = in.u32();
    if (version != kStateFormatVersion) {
        throw InputError("Error: " + path + " is a state file of format version " + std::to_string(version) +
                         "; this runoffSim reads version " + std::to_string(kStateFormatVersion) + ".\n");
    }
    if (bytes.size() < kHeaderBytes + kChecksumBytes) throw truncated(path);
    StateFile file;
    file.header = readHeader(in);
    file.state.spaceSteps = file.header.spaceSteps;
    file.state.hour = in.i32();
    const int64_t cellCount = in.i64();
    const int32_t damCount = in.i32();
    const int32_t reservoirCount = in.i32();

    ByteReader tail{bytes, bytes.size() - kChecksumBytes};
    const bool summed = tail.u64() == checksumOf(bytes, bytes.size() - kChecksumBytes);
    const StateHeader& h = file.header;
    const bool sane = versionFieldValid(bytes.data() + 12) && h.nrows > 0 && h.ncols > 0 && h.spaceSteps > 0 && h.stepSeconds > 0 && file.state.hour > 0 &&
                      cellCount >= 0 && cellCount <= static_cast<int64_t>(h.nrows) * h.ncols && damCount >= 0 &&
                      reservoirCount >= 0;
    if (!sane) throw summed ? damaged(path, "its header holds impossible values") : damaged(path, "its checksum does not match");
    const RecordWalk walk = walkRecords(bytes, cellCount, damCount, reservoirCount, h.spaceSteps);
    // A file that ends early has lost its checksum too: say which it is.
    if (!walk.fits && !summed) throw truncated(path);
    if (!summed) throw damaged(path, "its checksum does not match");
    if (!walk.malformed.empty()) throw damaged(path, walk.malformed);
    if (!walk.fits) throw damaged(path, "its records do not fit its size");
    if (walk.end != bytes.size() - kChecksumBytes) throw damaged(path, "it holds bytes after its records");
    readRecords(in, file, cellCount, damCount, reservoirCount, path);
    return file;
}

StateFile readStateFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    struct stat info {};
    if (!in || stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
        throw InputError("Error: the state file " + path + " cannot be opened: " +
                         (S_ISDIR(info.st_mode) ? std::string("it is a directory") : reasonText()) + ".\n");
    }
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    if (!in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()))) {
        throw InputError("Error: the state file " + path + " cannot be read.\n");
    }
    return decodeState(bytes, path);
}

void requireStateWritable(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        throw InputError("Error: the state cannot be saved as " + path + ": it is a directory.\n");
    }
    const std::string directory = directoryOf(path);
    if (access(directory.c_str(), W_OK | X_OK) != 0) {
        throw InputError("Error: the state cannot be saved as " + path + ": " + directory + ": " + reasonText() + ".\n");
    }
}

void writeStateFile(const std::string& path, const StateFile& file) {
    const std::string bytes = encodeState(file);
    // A name of this process next to the target, so the rename cannot cross file systems.
    const std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
    const auto fail = [&](const std::string& reason) {
        std::remove(temporary.c_str());
        return InputError("Error: the state cannot be saved as " + path + ": " + reason + ".\n");
    };
    const int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (descriptor < 0) throw fail(reasonText());
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(descriptor, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string reason = n < 0 ? reasonText() : std::string("nothing more could be written");
            close(descriptor);
            throw fail(reason);
        }
        written += static_cast<std::size_t>(n);
    }
    if (close(descriptor) != 0) throw fail(reasonText());
    if (std::rename(temporary.c_str(), path.c_str()) != 0) throw fail(reasonText());
}
