// The fast number reader against formatted extraction on the same text.

#include "numberScanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <vector>

namespace {

// What reading floats until the first failure gives: the values read, and
// whether the reads stopped at the end of the text (nothing but white space left).
struct FloatReads {
    std::vector<float> values;
    bool stoppedAtEnd = false;
};

FloatReads readWithStream(const std::string& text) {
    std::istringstream in(text);
    FloatReads r;
    for (;;) {
        in >> std::ws;
        if (in.peek() == std::char_traits<char>::eof()) {
            r.stoppedAtEnd = true;
            return r;
        }
        float v = 0.0f;
        if (!(in >> v)) return r;
        r.values.push_back(v);
    }
}

FloatReads readWithScanner(const std::string& text, std::size_t blockSize) {
    std::istringstream in(text);
    NumberScanner scan(in, blockSize);
    FloatReads r;
    for (;;) {
        float v = 0.0f;
        const ScanResult s = scan.readFloat(v);
        if (s != ScanResult::kOk) {
            r.stoppedAtEnd = s == ScanResult::kEnd;
            return r;
        }
        r.values.push_back(v);
    }
}

void expectSameReads(const std::string& text, std::size_t blockSize) {
    const FloatReads a = readWithStream(text);
    const FloatReads b = readWithScanner(text, blockSize);
    ASSERT_EQ(a.values.size(), b.values.size()) << '"' << text << '"';
    EXPECT_EQ(a.stoppedAtEnd, b.stoppedAtEnd) << '"' << text << '"';
    for (std::size_t k = 0; k < a.values.size(); ++k) {
        EXPECT_EQ(std::memcmp(&a.values[k], &b.values[k], sizeof(float)), 0) << '"' << text << "\" value " << k;
    }
}

TEST(NumberScanner, FloatsReadAsFormattedExtractionReadsThem) {
    const char* texts[] = {
        "0.5 1.25\n-3\t7.", ".5 -.5 +.5e-3 5.e2", "1.5-2.0+3", "1.5.3", "1e5.5", "0e5 00012.500",
        "1e-40 1e-45 7e-46 1e-50", "3.4028235e38", "1e400", "3.4028236e38 1", "1e", "1e+ 2", "-", ". 1",
        "nan", "inf", "12abc", "0x10", "  \n ", "", "0.1 0.2 0.30000001192092896 123456789012345678901234567890",
    };
    for (const char* text : texts) {
        for (std::size_t block : {1, 2, 3, 1024}) expectSameReads(text, block);
    }
}

TEST(NumberScanner, RandomDecimalTextsRoundLikeFormattedExtraction) {
    const uint64_t seed = std::random_device{}();
    std::mt19937_64 gen(seed);
    const std::string alphabet = "0123456789012345678901234567890123456789..eE+- \n";
    for (int trial = 0; trial < 3000; ++trial) {
        std::string text;
        const int length = 1 + static_cast<int>(gen() % 30);
        for (int k = 0; k < length; ++k) text += alphabet[gen() % alphabet.size()];
        SCOPED_TRACE("seed " + std::to_string(seed));
        expectSameReads(text, 1 + gen() % 8);
        if (HasFailure()) return;
    }
}

TEST(NumberScanner, IntegersInRangeAndDroppedIntegersOfAnyLength) {
    std::istringstream in("12 -7 +3 2147483648 202607011200 x");
    NumberScanner scan(in, 4);
    int32_t v = 0;
    EXPECT_EQ(scan.readInt(v), ScanResult::kOk);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(scan.readInt(v), ScanResult::kOk);
    EXPECT_EQ(v, -7);
    EXPECT_EQ(scan.readInt(v), ScanResult::kOk);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(scan.readInt(v), ScanResult::kMalformed);  // beyond int32
    EXPECT_EQ(scan.skipInt(), ScanResult::kOk);           // a date stamp too long for int32
    EXPECT_EQ(scan.skipInt(), ScanResult::kMalformed);
    EXPECT_EQ(scan.offendingText(), "x");
    EXPECT_EQ(scan.skipInt(), ScanResult::kEnd);
}

}  // namespace
