// The discharge image maker: colour scale, level arithmetic, image layout,
// dialogue and every stop.

#include "dischargeImage.h"
#include "toolProject.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace {

RunResult runImage(const ImageToolConfig& config, const std::string& console) {
    std::istringstream in(console);
    return runCaptured([&](std::ostream& out) { return runDischargeImage(config, in, out); });
}

// Colour of the pixel at image column px, image row py (row 0 at the top) of
// an image file of a grid with `ncols` columns; the pixels end the file.
Rgb pixelAt(const std::string& image, int ncols, int nrows, int px, int py) {
    const std::size_t at = image.size() - static_cast<std::size_t>(ncols * nrows) * 75 +
                           (static_cast<std::size_t>(py) * ncols * 5 + px) * 3;
    return Rgb{static_cast<uint8_t>(image[at]), static_cast<uint8_t>(image[at + 1]),
               static_cast<uint8_t>(image[at + 2])};
}

bool operator==(const Rgb& a, const Rgb& b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }

const Rgb kBlack{0, 0, 0}, kBlue{0, 0, 252}, kCyan{0, 252, 252}, kGreen{0, 252, 0}, kYellow{252, 252, 0},
    kRed{252, 0, 0};

TEST(LevelToRgb, ColoursAtTheScaleBoundaries) {
    const std::pair<int32_t, Rgb> cases[] = {
        {-999, kBlack}, {-1, kBlack}, {0, kBlue}, {1, {0, 4, 252}}, {63, kCyan}, {64, kCyan}, {65, {0, 252, 248}},
        {127, kGreen}, {128, kGreen}, {191, kYellow}, {192, kYellow}, {254, {252, 4, 0}}, {255, kRed},
        {256, kYellow}, {std::numeric_limits<int32_t>::max(), kYellow},
    };
    for (const auto& [level, colour] : cases) EXPECT_TRUE(levelToRgb(level) == colour) << level;
}

TEST(DischargeLevel, Float32ArithmeticAndTruncation) {
    // The float32 quotient rounds up to level 3 here; in double it would be 2.
    EXPECT_EQ(dischargeLevel(0x1.b36516p-12f, {3.0f, 0.0f}), 3);
    EXPECT_EQ(dischargeLevel(0.25f, {1.0f, 0.0f}), 127);  // a quarter of the range
    EXPECT_EQ(dischargeLevel(1.0f, {1.0f, 0.0f}), 255);
    EXPECT_EQ(dischargeLevel(1.0078f, {1.0f, 0.0f}), 255);  // still below (256/255)^2
    EXPECT_EQ(dischargeLevel(1.008f, {1.0f, 0.0f}), 256);
    EXPECT_EQ(dischargeLevel(12.0f, {12.0f, 2.0f}), 255);
    EXPECT_EQ(dischargeLevel(2.0f, {12.0f, 2.0f}), 0);
}

TEST(DischargeLevel, NoDataBelowMinimumAndDamagedValues) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(dischargeLevel(-9999.0f, {1.0f, 0.0f}), kNoDataLevel);
    EXPECT_EQ(dischargeLevel(1.5f, {12.0f, 2.0f}), kNoDataLevel);  // below the minimum: no real root
    EXPECT_EQ(dischargeLevel(std::nanf(""), {1.0f, 0.0f}), kNoDataLevel);
    EXPECT_EQ(dischargeLevel(inf, {1.0f, 0.0f}), 256);
    EXPECT_EQ(dischargeLevel(3e38f, {1e-30f, 0.0f}), 256);
    // A range whose width overflows float32: finite values at the bottom, inf undefined.
    EXPECT_EQ(dischargeLevel(1.0f, {3e38f, -3e38f}), 0);
    EXPECT_EQ(dischargeLevel(inf, {inf, 0.0f}), kNoDataLevel);
}

TEST(DischargeImage, NamesHeaderAndSize) {
    EXPECT_EQ(imageFileName(1), "./image/   1_discharge.ppm");
    EXPECT_EQ(imageFileName(123), "./image/ 123_discharge.ppm");
    EXPECT_EQ(imageFileName(10000), "./image/10000_discharge.ppm");
    EXPECT_EQ(ppmHeader(80, 100), "P6\n500 400\n255\n");
    std::vector<int32_t> levels(8000, 0);
    std::vector<char> image;
    drawImage(levels, 80, 100, image);
    EXPECT_EQ(image.size(), 15u + 600000u);
}

// A 13 x 5 frame: row 2 (the middle) carries the scale boundaries in columns
// 2..10; the corners show that north is at the top; rows 1 and 3 and columns
// 1 and 11 hold large values but are blanked.
TEST(DischargeImage, HandMadeFrameShowsExactColours) {
    const int ncols = 13, nrows = 5;
    ToolProject project(ncols, nrows, 1);
    std::vector<float> frame(ncols * nrows, -9999.0f);
    std::vector<Rgb> expected(frame.size(), kBlack);
    auto set = [&](int p, int n, float v, Rgb colour) {
        frame[p * ncols + n] = v;
        expected[p * ncols + n] = colour;
    };
    const int boundaries[] = {0, 63, 64, 127, 128, 191, 192, 255};
    for (int i = 0; i < 8; ++i) {
        const float level = static_cast<float>(boundaries[i]);
        set(2, 2 + i, (level + 0.5f) * (level + 0.5f), levelToRgb(boundaries[i]));
    }
    set(2, 10, 70000.0f, kYellow);  // above 255
    set(4, 0, 65025.0f, kRed);      // north-west corner: top left of the image
    set(0, 0, 0.0f, kBlue);         // south-west corner: bottom left
    set(0, 12, std::nanf(""), kBlack);
    for (int n = 0; n < ncols; ++n) set(1, n, 50000.0f, kBlack), set(3, n, 50000.0f, kBlack);
    for (int p = 0; p < nrows; ++p) set(p, 1, 50000.0f, kBlack), set(p, 11, 50000.0f, kBlack);
    writeFrames("dischargeHourlyMean.bin", frame, 24);

    const RunResult r = runImage(kImageHourly, "y 65025 0\n");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string image = readFile(imageFileName(1));
    ASSERT_EQ(image.size(), 13u + 65 * 25 * 3);
    EXPECT_EQ(image.substr(0, 13), "P6\n65 25\n255\n");
    for (int py = 0; py < 25; ++py)
        for (int px = 0; px < 65; ++px) {
            const int p = nrows - 1 - py / 5, n = px / 5;
            ASSERT_TRUE(pixelAt(image, ncols, nrows, px, py) == expected[p * ncols + n]) << "cell " << p << "," << n;
        }
    EXPECT_EQ(readFile(imageFileName(24)), image);
}

// 6 x 5 grid: rows 0, 2, 4 and columns 0, 2, 3, 5 are drawn. The largest value
// lies in frame 6 and the smallest in frame 11; NaN and no data take no part.
TEST(DischargeImage, AutomaticRangeDialogue) {
    ToolProject project(6, 5, 1);
    std::vector<float> all;
    for (int f = 0; f < 24; ++f) {
        std::vector<float> frame(30, 1.0f);
        frame[0] = -9999.0f;
        frame[1] = std::nanf("");
        if (f == 5) frame[2 * 6 + 2] = 7.5f;
        if (f == 10) frame[4 * 6 + 5] = 0.125f;
        all.insert(all.end(), frame.begin(), frame.end());
    }
    writeBinary("dischargeHourlyMean.bin", all);
    std::string expected = toolEcho(6, 5, 1) +
                           "\nRead ./dischargeHourlyMean.bin\n"
                           "\nDo you want to set the maximum and minimun values of rainfall intensity? (y/n)\n"
                           "Maximun discharge = 7.5 Minimum discharge = 0.125\n"
                           "Read ./dischargeHourlyMean.bin\n";
    for (int m = 1; m <= 24; ++m) expected += "Write " + imageFileName(m) + "\r";
    expected += "\nProgram ends!\n";
    for (const char* answer : {"n\n", "Y\n", "yes 1 0\n", ""}) {
        const RunResult r = runImage(kImageHourly, answer);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, expected) << answer;
    }
    // Cell (2, 2) of image 6 at image row 10, column 10; cell (4, 5) of image 11 at the top right.
    EXPECT_TRUE(pixelAt(readFile(imageFileName(6)), 6, 5, 10, 10) == kRed);
    EXPECT_TRUE(pixelAt(readFile(imageFileName(11)), 6, 5, 29, 0) == kBlue);
    EXPECT_TRUE(pixelAt(readFile(imageFileName(11)), 6, 5, 0, 0) == Rgb({0, 252, 160}));  // level 87
}

TEST(DischargeImage, ManualRangeAnswers) {
    ToolProject project(6, 5, 1);
    writeFrames("dischargeHourlyMean.bin", std::vector<float>(30, 1.0f), 24);
    const std::string head = toolEcho(6, 5, 1) +
                             "\nRead ./dischargeHourlyMean.bin\n"
                             "\nDo you want to set the maximum and minimun values of rainfall intensity? (y/n)\n"
                             "Input maximum value : ";
    RunResult r = runImage(kImageHourly, "y 10 2\n");
    EXPECT_EQ(r.status, 0);
    const std::string range = "Input minimum value : Maximun discharge = 10 Minimum discharge = 2\n"
                              "Read ./dischargeHourlyMean.bin\nWrite ";
    EXPECT_EQ(r.output.substr(0, head.size() + range.size()), head + range);
    std::filesystem::remove_all("image/");
    std::filesystem::create_directory("image");
    const std::pair<const char*, const char*> wrong[] = {
        {"y 2 2", "Input minimum value : "}, {"y 1 5", "Input minimum value : "},
        {"y 5 abc", "Input minimum value : "}, {"y abc", ""}, {"y", ""}};
    for (const auto& [answer, tail] : wrong) {
        r = runImage(kImageHourly, answer);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, head + tail + "Wrong values inputted!\n") << answer;
    }
    EXPECT_TRUE(std::filesystem::is_empty("image"));
}

TEST(DischargeImage, StopsWithoutKey) {
    ToolProject project(6, 5, 1);
    const std::string read = toolEcho(6, 5, 1) + "\nRead ./dischargeHourlyMean.bin\n";
    const std::string ask = "\nDo you want to set the maximum and minimun values of rainfall intensity? (y/n)\n";
    RunResult r = runImage(kImageHourly, "n\n");
    EXPECT_EQ(r.output, read + "Discharge data cannot open.\n");
    EXPECT_EQ(r.status, 1);

    writeFrames("dischargeHourlyMean.bin", std::vector<float>(30, -9999.0f), 24);
    r = runImage(kImageHourly, "n\n");
    EXPECT_EQ(r.output, read + ask + "Maximun discharge <= Minimum discharge!\n");
    writeFrames("dischargeHourlyMean.bin", std::vector<float>(30, 0.0f), 24);
    r = runImage(kImageHourly, "n\n");
    EXPECT_EQ(r.output, read + ask + "Maximun discharge <= Minimum discharge!\n");
    EXPECT_EQ(r.status, 1);

    writeFrames("dischargeHourlyMean.bin", std::vector<float>(30, 0.5f), 24);
    std::filesystem::remove("image");
    r = runImage(kImageHourly, "y 1 0\n");
    EXPECT_TRUE(endsWith(r.output, "Write ./image/   1_discharge.ppm\rImage output file cannot open.\n"));
    EXPECT_EQ(r.status, 1);
}

TEST(DischargeImage, FrameCountLimit) {
    const std::tuple<const ImageToolConfig*, int, const char*> cases[] = {
        {&kImage10min, 69, "ends in frame 1 of 9936.\n"}, {&kImage10min, 70, "Max_time_counter exceeds 10000!\n"},
        {&kImageHourly, 416, "ends in frame 1 of 9984.\n"}, {&kImageHourly, 417, "Max_time_counter exceeds 10000!\n"},
        {&kImage10min, 2147483647, "Max_time_counter exceeds 10000!\n"}};
    for (const auto& [config, days, tail] : cases) {
        ToolProject project(6, 5, days);
        writeText(config->inputPath, "");
        const RunResult r = runImage(*config, "n\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(endsWith(r.output, tail)) << days;
    }
}

TEST(DischargeImage, ParameterFileStops) {
    ToolProject project(6, 5, 1);
    std::filesystem::remove("../param-hsx-event-ver400.dat");
    std::istringstream in("ab");
    RunResult r = runCaptured([&](std::ostream& out) { return runDischargeImage(kImage10min, in, out); });
    EXPECT_EQ(r.output, "Reading parameters for runoff simulation.\nparam-hsx-event-ver400.dat cannot open.\n\n"
                        "Program ends. Hit any key!\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(in.get(), 'b');  // exactly one key was taken

    ParamText bad;
    bad[ParamText::kRainInterval] = "7";
    writeText("../param-hsx-event-ver400.dat", bad.text());
    r = runImage(kImage10min, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.output, "(min): 7\n\n    Error : Rainfall time interval is wrong!\n\n"));
}

// A file shorter than the parameter file implies: images before stay, the
// frame where it ends is named, and no image is started for it.
TEST(DischargeImage, ShortFileStopsAtItsEnd) {
    ToolProject project(6, 5, 1);
    std::vector<float> frames(30 * 5 / 2, 0.5f);
    writeBinary("dischargeHourlyMean.bin", frames);
    const std::string message = "Discharge data ./dischargeHourlyMean.bin is too short: it ends in frame 3 of 24.\n";
    RunResult r = runImage(kImageHourly, "n\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.output, "(y/n)\n" + message));
    EXPECT_TRUE(std::filesystem::is_empty("image"));

    r = runImage(kImageHourly, "y 1 0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.output, "Write ./image/   2_discharge.ppm\r" + message));
    EXPECT_TRUE(std::filesystem::exists(imageFileName(2)));
    EXPECT_FALSE(std::filesystem::exists(imageFileName(3)));
}

TEST(DischargeImage, FailedWriteIsReported) {
    ToolProject project(6, 5, 1);
    writeFrames("dischargeHourlyMean.bin", std::vector<float>(30, 0.5f), 24);
    std::filesystem::create_symlink("/dev/full", imageFileName(2));
    const RunResult r = runImage(kImageHourly, "y 1 0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.output, "\rImage output file ./image/   2_discharge.ppm cannot be written.\n"));
    EXPECT_EQ(readFile(imageFileName(1)).size(), 13u + 30 * 25 * 3);
}

}  // namespace
