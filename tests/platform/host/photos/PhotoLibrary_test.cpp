// The shutter's photos: which folder (also without a usable HOME), what names, and that
// a photo is whole and never replaces another.
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

#include "capture/imaging/StillImageDecoder.h"
#include "host/photos/PhotoLibrary.h"
#include "platform/capture/TempDirectory.h"

namespace {

using capturetest::TempDirectory;
using host::PhotoLibrary;

TEST(PhotoFolder, TheOptionThenTheXdgPicturesFolderThenPicturesInHome) {
    TempDirectory home;
    setenv("HOME", home.path().c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(host::photoFolder(std::string("/tmp/chosen")), "/tmp/chosen");
    EXPECT_EQ(host::photoFolder(std::nullopt), home.path() / "Pictures/Fernhold");
    std::filesystem::create_directories(home.path() / ".config");
    std::ofstream(home.path() / ".config/user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
        << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
    EXPECT_EQ(host::photoFolder(std::nullopt), home.path() / "Bilder/Fernhold");
    // XDG_CONFIG_HOME, where set, holds the file instead; the home folder itself means none.
    std::filesystem::create_directories(home.path() / "config");
    std::ofstream(home.path() / "config/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/\"\n";
    setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
    EXPECT_EQ(host::photoFolder(std::nullopt), home.path() / "Pictures/Fernhold");
    unsetenv("XDG_CONFIG_HOME");
    // Without HOME, or with an empty or relative one (a service, a cron job), the home folder
    // is the password database's: never a folder relative to where the program started.
    const std::string fromPasswords = getpwuid(getuid())->pw_dir;
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        if (value)
            setenv("HOME", value, 1);
        else
            unsetenv("HOME");
        EXPECT_EQ(host::photoFolder(std::nullopt), std::filesystem::path(fromPasswords) / "Pictures/Fernhold")
            << (value ? value : "unset");
    }
    setenv("HOME", home.path().c_str(), 1);
}

TEST(PhotoLibrary, PhotosAreWholeJpegsThatNeverReplaceEachOther) {
    TempDirectory scratch;
    PhotoLibrary library(scratch.path() / "new/folder");
    std::vector<uint8_t> rgba(64 * 48 * 4);
    for (size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = i % 4 == 0 ? 200 : 40; // red
    const auto taken = std::chrono::system_clock::now();
    auto one = library.save(64, 48, rgba, taken), two = library.save(64, 48, rgba, taken);
    ASSERT_TRUE(one.saved && two.saved) << one.problem << two.problem;
    EXPECT_LT(one.path, two.path) << "names sort as the photos were taken, the same millisecond too";
    EXPECT_EQ(one.path.extension(), ".jpg");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(library.folder()), {}), 2)
        << "no temporary file is left";
    std::ifstream file(one.path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
    auto decoded = decodeStillImage(bytes.data(), bytes.size(), 64, 48, nullptr);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 64);
    EXPECT_GT(decoded->rgba[0], 180);
    EXPECT_LT(decoded->rgba[1], 70);
}

} // namespace
