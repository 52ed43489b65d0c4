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

// Pixel (px, py) of an image file of an ncols x nrows grid, row 0 at the top.
std::vector<int> pixelAt(const std::string& image, int ncols, int nrows, int px, int py) {
    const std::size_t at = image.size() - static_cast<std::size_t>(ncols * nrows * 75) + (py * ncols * 5 + px) * 3;
    return {static_cast<uint8_t>(image[at]), static_cast<uint8_t>(image[at + 1]), static_cast<uint8_t>(image[at + 2])};
}

std::vector<int> rgb(int32_t level) {
    const Rgb c = levelToRgb(level);
    return {c.red, c.green, c.blue};
}

TEST(ImageScale, ColoursAndLevels) {
    const std::pair<int32_t, std::vector<int>> colours[] = {
        {-999, {0, 0, 0}},      {-1, {0, 0, 0}},       {0, {0, 0, 252}},    {63, {0, 252, 252}}, {64, {0, 252, 252}},
        {65, {0, 252, 248}},    {127, {0, 252, 0}},    {128, {0, 252, 0}},  {191, {252, 252, 0}},
        {192, {252, 252, 0}},   {254, {252, 4, 0}},    {255, {252, 0, 0}},  {256, {252, 252, 0}}};
    for (const auto& [level, colour] : colours) EXPECT_EQ(rgb(level), colour) << level;

    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(dischargeLevel(0x1.b36516p-12f, {3.0f, 0.0f}), 3);  // float32 quotient; in double it is 2
    EXPECT_EQ(dischargeLevel(0.25f, {1.0f, 0.0f}), 127);           // a quarter of the range
    EXPECT_EQ(dischargeLevel(1.0078f, {1.0f, 0.0f}), 255);         // still below (256/255)^2
    EXPECT_EQ(dischargeLevel(1.008f, {1.0f, 0.0f}), 256);
    EXPECT_EQ(dischargeLevel(1.5f, {12.0f, 2.0f}), kNoDataLevel);  // below the minimum: no real root
    EXPECT_EQ(dischargeLevel(std::nanf(""), {1.0f, 0.0f}), kNoDataLevel);
    EXPECT_EQ(dischargeLevel(inf, {1.0f, 0.0f}), 256);
    EXPECT_EQ(dischargeLevel(3e38f, {1e-30f, 0.0f}), 256);
    EXPECT_EQ(dischargeLevel(1.0f, {3e38f, -3e38f}), 0);  // the range's width overflows float32
    EXPECT_EQ(dischargeLevel(inf, {inf, 0.0f}), kNoDataLevel);
}

TEST(DischargeImage, NamesAndHeader) {
    EXPECT_EQ(imageFileName(1), "./image/   1_discharge.ppm");
    EXPECT_EQ(imageFileName(10000), "./image/10000_discharge.ppm");
    std::vector<char> image;
    drawImage(std::vector<int32_t>(8000, 0), 80, 100, image);
    EXPECT_EQ(std::string(image.data(), 15), "P6\n500 400\n255\n");
    EXPECT_EQ(image.size(), 15u + 600000u);
}

// A 13 x 5 frame: the middle row holds the scale boundaries in columns 2..10,
// the west corners show north at the top, rows 1 and 3 and columns 1 and 11
// hold large values but are blanked.
TEST(DischargeImage, HandMadeFrameShowsExactColours) {
    const int ncols = 13, nrows = 5;
    ToolProject project(ncols, nrows, 1);
    std::vector<float> frame(ncols * nrows, -9999.0f);
    std::vector<int32_t> level(frame.size(), -1);
    auto set = [&](int p, int n, float v, int32_t l) { frame[p * ncols + n] = v, level[p * ncols + n] = l; };
    const int boundaries[] = {0, 63, 64, 127, 128, 191, 192, 255};
    for (int i = 0; i < 8; ++i) set(2, 2 + i, (boundaries[i] + 0.5f) * (boundaries[i] + 0.5f), boundaries[i]);
    set(2, 10, 70000.0f, 256);
    set(4, 0, 65025.0f, 255);  // north-west: top left, red
    set(0, 0, 0.0f, 0);        // south-west: bottom left, blue
    set(0, 12, std::nanf(""), -1);
    for (int n = 0; n < ncols; ++n) set(1, n, 5e4f, -1), set(3, n, 5e4f, -1);
    for (int p = 0; p < nrows; ++p) set(p, 1, 5e4f, -1), set(p, 11, 5e4f, -1);
    writeFrames("dischargeHourlyMean.bin", frame, 24);

    ASSERT_EQ(runImage(kImageHourly, "y 65025 0\n").status, 0);
    const std::string image = readFile(imageFileName(1));
    ASSERT_EQ(image.substr(0, 13) + std::to_string(image.size()), "P6\n65 25\n255\n" + std::to_string(13 + 4875));
    for (int py = 0; py < 25; ++py)
        for (int px = 0; px < 65; ++px) {
            const int cell = (nrows - 1 - py / 5) * ncols + px / 5;
            ASSERT_EQ(pixelAt(image, ncols, nrows, px, py), rgb(level[cell])) << px << "," << py;
        }
    EXPECT_EQ(readFile(imageFileName(24)), image);
}

// 6 x 5 grid: the largest value lies in frame 6 and the smallest in frame 11;
// NaN and no data take no part in the range. Only the exact "y" is manual.
TEST(DischargeImage, AutomaticRangeDialogue) {
    ToolProject project(6, 5, 1);
    std::vector<float> all;
    for (int f = 0; f < 24; ++f) {
        std::vector<float> frame(30, 1.0f);
        frame[0] = -9999.0f, frame[1] = std::nanf("");
        if (f == 5) frame[2 * 6 + 2] = 7.5f;
        if (f == 10) frame[4 * 6 + 5] = 0.125f;
        all.insert(all.end(), frame.begin(), frame.end());
    }
    writeBinary("dischargeHourlyMean.bin", all);
    std::string expected = toolEcho(6, 5, 1) +
                           "\nRead ./dischargeHourlyMean.bin\n"
                           "\nDo you want to set the maximum and minimun values of rainfall intensity? (y/n)\n"
                           "Maximun discharge = 7.5 Minimum discharge = 0.125\nRead ./dischargeHourlyMean.bin\n";
    for (int m = 1; m <= 24; ++m) expected += "Write " + imageFileName(m) + "\r";
    expected += "\nProgram ends!\n";
    for (const char* answer : {"n\n", "Y\n", "yes 1 0\n", ""}) {
        const RunResult r = runImage(kImageHourly, answer);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, expected) << answer;
    }
    EXPECT_EQ(pixelAt(readFile(imageFileName(6)), 6, 5, 10, 10), rgb(255));
    EXPECT_EQ(pixelAt(readFile(imageFileName(11)), 6, 5, 29, 0), rgb(0));
    EXPECT_EQ(pixelAt(readFile(imageFileName(11)), 6, 5, 0, 0), rgb(87));  // 255 sqrt(0.875 / 7.375)

    const RunResult manual = runImage(kImageHourly, "y 10 2\n");
    EXPECT_NE(manual.output.find("(y/n)\nInput maximum value : Input minimum value : Maximun discharge = 10 "
                                 "Minimum discharge = 2\nRead"),
              std::string::npos);
}

TEST(DischargeImage, Stops) {
    ToolProject project(6, 5, 1);
    std::istringstream keys("ab");
    RunResult r = runCaptured([&](std::ostream& out) { return runDischargeImage(kImageHourly, keys, out); });
    EXPECT_EQ(r.output, toolEcho(6, 5, 1) + "\nRead ./dischargeHourlyMean.bin\nDischarge data cannot open.\n");

    writeFrames("dischargeHourlyMean.bin", std::vector<float>(30, 0.5f), 24);
    const std::pair<const char*, const char*> wrong[] = {{"y 2 2", "Input minimum value : Wrong values inputted!\n"},
                                                         {"y 1 5", "Input minimum value : Wrong values inputted!\n"},
                                                         {"y 5 abc", "Input minimum value : Wrong values inputted!\n"},
                                                         {"y abc", "(y/n)\nInput maximum value : Wrong values inputted!\n"}};
    for (const auto& [answer, tail] : wrong) EXPECT_TRUE(endsWith(runImage(kImageHourly, answer).output, tail));

    for (const float v : {-9999.0f, 0.0f}) {
        writeFrames("dischargeHourlyMean.bin", std::vector<float>(30, v), 24);
        r = runImage(kImageHourly, "n\n");
        EXPECT_TRUE(endsWith(r.output, "(y/n)\nMaximun discharge <= Minimum discharge!\n"));
    }
    EXPECT_TRUE(std::filesystem::is_empty("image"));
    std::filesystem::remove("image");
    writeFrames("dischargeHourlyMean.bin", std::vector<float>(30, 0.5f), 24);
    r = runImage(kImageHourly, "y 1 0\n");
    EXPECT_TRUE(endsWith(r.output, "\nWrite ./image/   1_discharge.ppm\rImage output file cannot open.\n"));
    EXPECT_EQ(r.status, 1);

    std::filesystem::remove("../param-hsx-event-ver400.dat");
    r = runCaptured([&](std::ostream& out) { return runDischargeImage(kImageHourly, keys, out); });
    EXPECT_EQ(r.output, "Reading parameters for runoff simulation.\nparam-hsx-event-ver400.dat cannot open.\n\n"
                        "Program ends. Hit any key!\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(keys.get(), 'b');  // exactly one key was taken
}

TEST(DischargeImage, FrameCountLimitWithoutOverflow) {
    const std::tuple<const ImageToolConfig*, int, const char*> cases[] = {
        {&kImage10min, 69, "frame 1 of 9936.\n"}, {&kImage10min, 70, "\nMax_time_counter exceeds 10000!\n"},
        {&kImageHourly, 416, "frame 1 of 9984.\n"}, {&kImageHourly, 417, "\nMax_time_counter exceeds 10000!\n"},
        {&kImage10min, 2147483647, "\nMax_time_counter exceeds 10000!\n"}};
    for (const auto& [config, days, tail] : cases) {
        ToolProject project(6, 5, days);
        writeText(config->inputPath, "");
        EXPECT_TRUE(endsWith(runImage(*config, "n\n").output, tail)) << days;
    }
}

// A short file: images before its end stay, no image is started for the frame
// where it ends, and a failed write is not a success.
TEST(DischargeImage, ShortFileAndFailedWrite) {
    ToolProject project(6, 5, 1);
    writeBinary("dischargeHourlyMean.bin", std::vector<float>(75, 0.5f));
    const std::string message = "Discharge data ./dischargeHourlyMean.bin is too short: it ends in frame 3 of 24.\n";
    EXPECT_TRUE(endsWith(runImage(kImageHourly, "n\n").output, "(y/n)\n" + message));
    EXPECT_TRUE(std::filesystem::is_empty("image"));
    const RunResult r = runImage(kImageHourly, "y 1 0\n");
    EXPECT_TRUE(endsWith(r.output, "Write ./image/   2_discharge.ppm\r" + message));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::filesystem::exists(imageFileName(2)));
    EXPECT_FALSE(std::filesystem::exists(imageFileName(3)));

    writeFrames("dischargeHourlyMean.bin", std::vector<float>(30, 0.5f), 24);
    std::filesystem::create_symlink("/dev/full", imageFileName(3));
    EXPECT_TRUE(endsWith(runImage(kImageHourly, "y 1 0\n").output,
                         "\rImage output file ./image/   3_discharge.ppm cannot be written.\n"));
}

}  // namespace
