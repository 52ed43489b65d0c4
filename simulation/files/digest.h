#pragma once
// The 64-bit FNV-1a hash: the checksum of the state file and the digests of
// the parameter values a run sets its cells up with. Not a defence against
// deliberate tampering; it catches damaged bytes and files of other projects.

#include <cstddef>
#include <cstdint>
#include <cstring>

struct Fnv1a {
    uint64_t hash = 14695981039346656037ull;

    void add(const unsigned char* bytes, std::size_t count) {
        uint64_t h = hash;
        for (std::size_t k = 0; k < count; ++k) {
            h ^= bytes[k];
            h *= 1099511628211ull;
        }
        hash = h;
    }
    // The eight bytes of a double, least significant first whatever the machine.
    void addDouble(double value) {
        uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        unsigned char bytes[8];
        for (int k = 0; k < 8; ++k) bytes[k] = static_cast<unsigned char>(bits >> (8 * k));
        add(bytes, 8);
    }
};
