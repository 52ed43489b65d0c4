// The state file of --initial-state read from the fuzz input, as it is and
// with its last eight bytes made the checksum of the rest (so that changed
// records reach the checks behind the checksum). A state the reader accepts
// must be written back to the same bytes, so nothing it accepts is read
// differently from what a run would save.

#include "digest.h"
#include "fuzzProject.h"
#include "stateFile.h"

namespace {

void readState(const std::string& bytes) {
    try {
        const StateFile file = decodeState(bytes, "state.bin");
        if (encodeState(file) != bytes) finding("an accepted state file is not written back to its bytes");
    } catch (const InputError& error) {
        checkStopMessage(error);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    readState(bytes);
    if (size < 8) return 0;
    Fnv1a sum;
    sum.add(data, size - 8);
    for (int k = 0; k < 8; ++k) bytes[size - 8 + static_cast<std::size_t>(k)] = static_cast<char>(sum.hash >> (8 * k));
    readState(bytes);
    return 0;
}
