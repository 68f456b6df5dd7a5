// The exposure and focus assists in the running program: script commands, print-ui's
// views and scopes, and what a capture shows.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "HostE2eSupport.h"
#include "analysis/Luminosity.h"
#include "support/PictureBytes.h"

namespace {

std::vector<uint64_t> histogramOf(const std::string& ui) {
    std::smatch match;
    std::vector<uint64_t> counts;
    if (!std::regex_search(ui, match, std::regex("\"histogram\": \\[([0-9, ]*)\\]")))
        return counts;
    std::istringstream list(std::regex_replace(match[1].str(), std::regex(","), " "));
    for (uint64_t count; list >> count;)
        counts.push_back(count);
    return counts;
}

// `rgb` as the still picture the program is shown.
std::string writePicture(const std::filesystem::path& folder, const pictures::Bytes& rgb) {
    return pictures::save(folder / "known.png", pictures::encodePng(640, 480, rgb));
}

// A still picture of known content: the scopes of every frame are the counts of its pixels.
TEST(Assists, ScopesOfAStillPictureAreItsExactCounts) {
    auto folder = e2e::scratchFolder("scopes");
    const int width = 640, height = 480;
    pictures::Bytes rgb(size_t(width) * height * 3);
    std::vector<uint64_t> expected(256);
    uint64_t high = 0, low = 0;
    for (size_t i = 0; i < rgb.size(); i += 3) {
        const size_t pixel = i / 3;
        rgb[i] = uint8_t(pixel % 7 == 0 ? 255 : pixel % 5 == 0 ? 0 : pixel * 13);
        rgb[i + 1] = uint8_t(pixel % 5 == 0 ? 0 : (pixel / 640) % 256);
        rgb[i + 2] = uint8_t(pixel % 5 == 0 ? 0 : pixel * 7);
        ++expected[size_t(pixelLuminosity(&rgb[i]))];
        high += rgb[i] == 255 || rgb[i + 1] == 255 || rgb[i + 2] == 255;
        low += rgb[i] == 0 && rgb[i + 1] == 0 && rgb[i + 2] == 0;
    }
    auto script =
        e2e::writeScript(folder, "print-ui\nhistogram on\nwaveform on\nswipe right\nwait 10 frames\n"
                                 "print-ui\nhistogram off\nwaveform off\nprint-ui\n");
    auto run =
        e2e::runProgram(folder, {"--headless", "--camera", writePicture(folder, rgb), "--script", script});
    ASSERT_EQ(run.status, 0) << run.err;
    auto ui = run.uiLines();
    ASSERT_EQ(ui.size(), 3u) << run.err;
    EXPECT_NE(ui[0].find("\"histogramView\":{\"hidden\":true,"), std::string::npos) << ui[0];
    EXPECT_NE(ui[0].find("\"waveformView\":{\"hidden\":true,"), std::string::npos) << ui[0];
    EXPECT_EQ(ui[0].find("\"scopes\""), std::string::npos) << "nothing measured while they are off";
    EXPECT_NE(ui[1].find("\"histogramView\":{\"hidden\":false,"), std::string::npos) << ui[1];
    EXPECT_NE(ui[1].find("\"waveformView\":{\"hidden\":false,"), std::string::npos) << ui[1];
    // Under Canny too: the scopes read the camera's picture, not the filter's.
    EXPECT_EQ(histogramOf(ui[1]), expected);
    EXPECT_DOUBLE_EQ(e2e::jsonNumberField(ui[1], "clippedHigh").value_or(-1),
                     double(high) / (width * height));
    EXPECT_DOUBLE_EQ(e2e::jsonNumberField(ui[1], "clippedLow").value_or(-1), double(low) / (width * height));
    EXPECT_NE(ui[2].find("\"histogramView\":{\"hidden\":true,"), std::string::npos) << ui[2];
}

// A sharp checkerboard of grey 40 and 220: zebra at 50 % stripes the light squares only,
// peaking marks the squares' edges.
TEST(Assists, ZebraAndPeakingAreInTheCaptureOnlyWhileOn) {
    auto folder = e2e::scratchFolder("zebra");
    pictures::Bytes rgb(640 * 480 * 3);
    for (size_t i = 0; i < rgb.size(); ++i) {
        const size_t x = i / 3 % 640, y = i / 3 / 640;
        rgb[i] = (x / 40 + y / 40) % 2 ? 220 : 40;
    }
    auto script =
        e2e::writeScript(folder, "wait 5 frames\nzebra 50\npeaking on\nwait 10 frames\ncapture on.png\n"
                                 "print-ui\nzebra off\npeaking off\nwait 10 frames\ncapture off.png\n");
    auto run = e2e::runProgram(
        folder, {"--headless", "--camera", writePicture(folder, rgb), "--script", script, "--out", "shots"});
    ASSERT_EQ(run.status, 0) << run.err;
    auto ui = run.uiLines();
    ASSERT_EQ(ui.size(), 1u) << run.err;
    EXPECT_NE(ui[0].find("\"zebraLevelStepper\":{\"value\":50"), std::string::npos) << ui[0];
    EXPECT_NE(ui[0].find("\"peakingSwitch\":{\"on\":true"), std::string::npos) << ui[0];
    auto on = e2e::readPng(folder / "shots/on.png"), off = e2e::readPng(folder / "shots/off.png");
    const unsigned char black[3] = {0, 0, 0}, magenta[3] = {255, 0, 255};
    // Off, the picture with its outlines (yellow boxes round the light squares) only.
    EXPECT_EQ(off.count(magenta), 0u);
    EXPECT_EQ(off.count(black), 0u);
    // Half the light area is striped; both sides of the squares' edges are marked.
    EXPECT_NEAR(double(on.count(black)), 640 * 480 / 4.0, 640 * 480 / 20.0);
    EXPECT_GT(on.count(magenta), 2 * 640u * 11);
}

} // namespace
