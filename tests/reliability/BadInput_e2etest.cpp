// The program handed what it cannot use: a camera that cannot be opened, no OpenGL ES.
// Each must end the run the documented way (status, the one line that says why, where it
// goes: standard output, and standard error for a person) before anything else happens, and never crash or
// hang instead. Bad command lines and script lines are refused by the parsers' own tests; HeadlessRun shows
// the program ends on their refusal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e/HostE2eSupport.h"
#include "support/PictureBytes.h"

namespace {

using e2e::runProgram;

TEST(CameraFaults, EveryUnusableSourceEndsWithTheFatalLineAndStatusOne) {
    auto folder = e2e::scratchFolder("badcamera");
    using namespace pictures;
    const Bytes goodPng = png(32, 24), goodJpeg = jpeg(32, 24);
    Bytes badDeflate = goodPng;
    for (size_t i = 45; i < 60 && i < badDeflate.size(); ++i) // inside the IDAT data
        badDeflate[i] ^= 0x5A;
    std::filesystem::create_directories(folder / "folder.png");
    auto file = [&](const char* name, const Bytes& bytes) { return save(folder / name, bytes); };
    const std::pair<std::string, const char*> cases[] = {
        // the source, and what the fatal line must say (StillImageCaptureDevice_test has more
        // of the damaged and the too large)
        {"/nonexistent.png", "No such file"},
        {(folder / "folder.png").string(), "folder"},
        {"/" + std::string(5000, 'n') + ".png", "too long"},
        {file("empty.jpg", {}), "empty"},
        {file("gif.png", text("GIF89a\x01\x00\x01\x00\x80\x00\x00")), "not a PNG or JPEG"},
        {file("bitmap.png", bmp()), "not a PNG or JPEG"},
        {file("jpeg-named.png", cut(goodJpeg, 1)), "not a PNG or JPEG"},
        {file("signature-only.png", cut(goodPng, 8)), "not a PNG or JPEG"},
        {file("header-only.png", cut(goodPng, 33)), "damaged or truncated"},
        {file("scrambled.png", badDeflate), "damaged or truncated"},
        {file("no-end.jpg", cut(goodJpeg, goodJpeg.size() - 2)), "damaged or truncated"},
        {file("huge.png", pngClaiming(16384, 16384)), "64 megapixels"},
        {file("empty-claim.png", pngClaiming(0, 0)), "not a PNG or JPEG"},
        {file("bigger-than-data.png", pngClaiming(1000, 1000)), "damaged or truncated"},
        {"/dev/video99", "/dev/video99"},
    };
    const std::string fatal = "Could not initialize rendering pipeline: ";
    for (const auto& [source, because] : cases) {
        SCOPED_TRACE(source.substr(0, 80));
        auto run = runProgram(folder, {"--headless", "--seconds", "20", "--camera", source});
        ASSERT_EQ(run.outLines.size(), 1u) << "stdout: " << run.out << "\nstderr: " << run.err;
        const std::string line = run.outLines.front();
        EXPECT_EQ(line.rfind(fatal, 0), 0u) << line;
        EXPECT_NE(line.find(because, fatal.size()), std::string::npos) << line;
        EXPECT_EQ(run.status, 1) << line;
        EXPECT_EQ(run.err, "fernhold: " + line + "\n") << "the same reason, on standard error";
    }
}

TEST(GraphicsFaults, WithoutAnEglVendorTheRunEndsWithOneClearLineAndStatusOne) {
    auto folder = e2e::scratchFolder("nogl");
    // libglvnd finds its EGL vendors through JSON files: none at all, and one whose library
    // is missing. Either way no display can be had.
    std::ofstream(folder / "vendor.json")
        << R"({"file_format_version": "1.0.0", "ICD": {"library_path": "/nonexistent/libEGL_none.so.0"}})";
    for (const std::string& vendors : {std::string("/nonexistent.json"), (folder / "vendor.json").string()}) {
        SCOPED_TRACE(vendors);
        auto run = runProgram(
            folder, {"--headless", "--seconds", "5"}, "",
            {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "__EGL_VENDOR_LIBRARY_FILENAMES=" + vendors});
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_TRUE(run.out.empty()) << "the camera screen never started: " << run.out;
        ASSERT_FALSE(run.errLines.empty());
        const std::string& last = run.errLines.back();
        EXPECT_EQ(last.rfind("fernhold: could not create the OpenGL ES context: ", 0), 0u) << run.err;
        EXPECT_NE(last.find("EGL"), std::string::npos) << "the line names what failed: " << last;
        EXPECT_THAT(run.errLines, testing::Contains(testing::HasSubstr("OpenGL ES")).Times(1))
            << "said once: " << run.err;
    }
}

} // namespace
