#include "numberScanner.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <istream>

namespace {

// White space as the "C" locale classifies it.
bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

NumberScanner::NumberScanner(std::istream& in, std::size_t blockSize)
    : in_(in), block_(blockSize > 0 ? blockSize : 1) {}

int NumberScanner::refill() {
    in_.read(block_.data(), static_cast<std::streamsize>(block_.size()));
    len_ = static_cast<std::size_t>(in_.gcount());
    pos_ = 0;
    return len_ > 0 ? static_cast<unsigned char>(block_[0]) : kEof;
}

bool NumberScanner::skipSpace() {
    token_.clear();
    for (int c = peek(); c != kEof; c = peek()) {
        if (!isSpace(c)) return true;
        ++pos_;
    }
    return false;
}

bool NumberScanner::takeDigits() {
    bool any = false;
    while (isDigit(peek())) {
        take();
        any = true;
    }
    return any;
}

ScanResult NumberScanner::skipInt() {
    if (!skipSpace()) return ScanResult::kEnd;
    if (peek() == '+' || peek() == '-') take();
    return takeDigits() ? ScanResult::kOk : ScanResult::kMalformed;
}

ScanResult NumberScanner::readInt(int32_t& value) {
    const ScanResult r = skipInt();
    if (r != ScanResult::kOk) return r;
    const char* first = token_.data();
    if (*first == '+') ++first;
    int32_t v = 0;
    const auto [end, ec] = std::from_chars(first, token_.data() + token_.size(), v);
    if (ec != std::errc() || end != token_.data() + token_.size()) return ScanResult::kMalformed;
    value = v;
    return ScanResult::kOk;
}

ScanResult NumberScanner::readFloat(float& value) {
    if (!skipSpace()) return ScanResult::kEnd;
    // The syntax operator>> accepts: [sign] digits [. digits] [e|E [sign] digits],
    // with at least one mantissa digit; an 'e' is taken only after a digit.
    if (peek() == '+' || peek() == '-') take();
    bool mantissa = takeDigits();
    if (peek() == '.') {
        take();
        mantissa = takeDigits() || mantissa;
    }
    if (!mantissa) return ScanResult::kMalformed;
    if (peek() == 'e' || peek() == 'E') {
        take();
        if (peek() == '+' || peek() == '-') take();
        if (!takeDigits()) return ScanResult::kMalformed;  // "1e" and "1e+" fail in operator>> too
    }
    const char* first = token_.data();
    const char* last = first + token_.size();
    if (*first == '+') ++first;
    float v = 0.0f;
    const auto [end, ec] = std::from_chars(first, last, v);
    if (ec == std::errc() && end == last) {
        value = v;
        return ScanResult::kOk;
    }
    // Out of range for from_chars: strtof gives what operator>> stores, 0 or a
    // subnormal below the range and infinity (a failed read) above it.
    v = std::strtof(token_.c_str(), nullptr);
    if (std::isinf(v)) return ScanResult::kMalformed;
    value = v;
    return ScanResult::kOk;
}

std::string NumberScanner::offendingText() {
    for (int c = peek(); c != kEof && !isSpace(c) && token_.size() < 40; c = peek()) take();
    std::string text = token_;
    if (peek() != kEof && !isSpace(peek())) text += "...";
    return text;
}
