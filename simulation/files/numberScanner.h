#pragma once
// Reads numbers from a text stream exactly as formatted extraction (operator>>
// in the "C" locale) reads them, without its cost per value: large rainfall
// files and the rainfall-mapping cache hold millions of numbers.
//
// Like operator>>, a read skips leading white space, takes the longest prefix
// that fits the number syntax and leaves the next character unread, so
// "1.5-2.0" reads as 1.5 and -2.0. Unlike it, a read tells apart the end of the
// text (only white space left) from a token that is not a number.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

enum class ScanResult {
    kOk,         // a value was read
    kEnd,        // nothing but white space is left
    kMalformed,  // the text here is not a number of the requested kind or range
};

class NumberScanner {
public:
    // Reads `in` from its current position in blocks of `blockSize` bytes.
    explicit NumberScanner(std::istream& in, std::size_t blockSize = std::size_t{1} << 20);

    // An optional sign and decimal digits, in int32 range.
    ScanResult readInt(int32_t& value);
    // An optional sign and decimal digits of any length; the value is dropped.
    ScanResult skipInt();
    // A decimal real (sign, digits, point, exponent) rounded once to float32,
    // as operator>> into a float stores it; a value beyond the float32 range is
    // malformed (operator>> fails on it too), one below it becomes 0 or subnormal.
    ScanResult readFloat(float& value);

    // The text of the last read and what directly follows it up to white
    // space, shortened for a message. Consumes that text.
    std::string offendingText();

private:
    static constexpr int kEof = -1;

    std::istream& in_;
    std::vector<char> block_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    std::string token_;  // characters taken by the last read

    int peek() { return pos_ < len_ ? static_cast<unsigned char>(block_[pos_]) : refill(); }
    void take() {
        token_.push_back(block_[pos_]);
        ++pos_;
    }
    int refill();
    bool skipSpace();  // false at the end of the text
    bool takeDigits();  // takes a run of digits; true if there was one
};
