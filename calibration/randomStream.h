#pragma once
// Random numbers that belong to a piece of work, not to a thread: the stream
// of evaluation n of a calibration with seed s is the same wherever and
// whenever it is drawn, and the same with any standard library, as the
// uniform and normal numbers are made here from the raw 64-bit draws.

#include <cstdint>

struct RandomStream {
    uint64_t state = 0;

    // The stream keyed by (seed, number): both mixed by splitmix64, so that
    // neighbouring seeds and numbers give unrelated streams.
    RandomStream(uint64_t seed, uint64_t number);

    // The next 64 raw bits (splitmix64).
    uint64_t next();
    // A uniform number in [0, 1): 53 random bits.
    double uniform();
    // A standard normal number (the polar method; one of each pair is used,
    // so that a draw never depends on an earlier one's leftover).
    double normal();
    // A whole number in [0, count), count >= 1.
    uint64_t below(uint64_t count);
};
