#pragma once
// std::pow on four independent (x, y) pairs at once, with the same bits as
// four calls of std::pow.
//
// On processors with AVX2 and FMA the four lanes run through one vector
// evaluation of the C library's own algorithm (the exp(y log x) of glibc's
// pow, with its tables and the exact sequence of fused and unfused operations
// of the variant glibc selects on such processors). Lanes off that path
// (x not positive and normal, y very small or very large, results near
// overflow or underflow or within 2^-54 of 1) are computed with std::pow
// itself. The vector path is used only when the processor has AVX2 and FMA,
// a self-test against std::pow on this machine passes, and the environment
// variable FLOOD_SCALAR_POW is unset, empty or "0"; otherwise every lane is a
// plain std::pow call. A C library whose pow computes other bits (another
// version, another algorithm) fails the self-test and gets the scalar path.

// Whether pow4 uses the vector path. Decided once per process, on first use.
bool vectorPowAvailable();

// out[l] = std::pow(x[l], y[l]) for l = 0..3, bit for bit.
void pow4(const double x[4], const double y[4], double out[4]);

// out[l] = std::pow(x[l], y) for l = 0..3: the common case of one exponent for
// all lanes (an exponent of the cell such as 1/m or beta - 1).
void pow4(const double x[4], double y, double out[4]);

// Whether the processor has AVX2 and FMA (the vector path's instructions).
bool cpuHasAvx2Fma();
// The processor has AVX-512F as well (and the system keeps its registers).
bool cpuHasAvx512();

// The vector path without dispatch or self-test. Requires cpuHasAvx2Fma();
// for the self-test and the validation programs, which check it against
// std::pow.
void pow4Avx2(const double x[4], const double y[4], double out[4]);
