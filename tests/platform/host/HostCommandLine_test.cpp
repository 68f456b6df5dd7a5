// The command line: every option accepted in its good forms and refused, with one clear
// line and status 2, in its bad ones.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "host/CommandLine.h"

namespace {

std::variant<host::Options, host::ExitRequest> parse(std::initializer_list<const char*> args) {
    std::vector<const char*> argv{"fernhold"};
    argv.insert(argv.end(), args);
    return host::parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

host::Options accepted(std::initializer_list<const char*> args) {
    auto result = parse(args);
    if (auto* request = std::get_if<host::ExitRequest>(&result))
        ADD_FAILURE() << "refused: " << request->message;
    return std::holds_alternative<host::Options>(result) ? std::get<host::Options>(result) : host::Options{};
}

std::string refused(std::initializer_list<const char*> args) {
    auto result = parse(args);
    if (!std::holds_alternative<host::ExitRequest>(result)) {
        ADD_FAILURE() << "accepted";
        return {};
    }
    const auto& request = std::get<host::ExitRequest>(result);
    EXPECT_EQ(request.status, 2);
    EXPECT_EQ(request.message.find('\n'), std::string::npos) << "one line: " << request.message;
    EXPECT_EQ(request.message.rfind("fernhold: ", 0), 0u) << request.message;
    EXPECT_NE(request.message.find("; see --help"), std::string::npos) << request.message;
    return request.message;
}

TEST(CommandLine, DefaultsRunTheVirtualCameraInAWindowForever) {
    auto options = accepted({});
    EXPECT_EQ(options.camera, "virtual");
    EXPECT_FALSE(options.headless);
    EXPECT_FALSE(options.script);
    EXPECT_TRUE(options.outputDirectory.empty());
    EXPECT_FALSE(options.seconds);
    EXPECT_FALSE(options.statistics);
}

TEST(CommandLine, TakesEveryOption) {
    auto options = accepted({"--camera", "/dev/video2", "--headless", "--script", "-", "--out", "shots",
                             "--seconds", "2.5", "--stats"});
    EXPECT_EQ(options.camera, "/dev/video2");
    EXPECT_TRUE(options.headless);
    EXPECT_EQ(options.script, "-");
    EXPECT_EQ(options.outputDirectory, "shots");
    EXPECT_EQ(options.seconds, 2.5);
    EXPECT_TRUE(options.statistics);
    EXPECT_EQ(accepted({"--camera=still.JPG"}).camera, "still.JPG");
    EXPECT_EQ(accepted({"--camera", "scene.png"}).camera, "scene.png");
    EXPECT_EQ(accepted({"--seconds", "1000000"}).seconds, 1e6);
}

TEST(CommandLine, HelpAndVersionEndTheRunSuccessfully) {
    for (auto flag : {"--help", "-h"}) {
        auto result = parse({flag});
        ASSERT_TRUE(std::holds_alternative<host::ExitRequest>(result)) << flag;
        const auto& request = std::get<host::ExitRequest>(result);
        EXPECT_EQ(request.status, 0);
        for (auto option :
             {"--camera", "--headless", "--script", "--out", "--seconds", "--stats", "--version"})
            EXPECT_NE(request.message.find(option), std::string::npos) << option;
    }
    auto version = parse({"--version"});
    ASSERT_TRUE(std::holds_alternative<host::ExitRequest>(version));
    EXPECT_EQ(std::get<host::ExitRequest>(version).status, 0);
    EXPECT_EQ(std::get<host::ExitRequest>(version).message, std::string("fernhold ") + FERNHOLD_VERSION);
}

TEST(CommandLine, RefusesUnknownOptionsAndStrayArguments) {
    EXPECT_NE(refused({"--fast"}).find("--fast"), std::string::npos);
    EXPECT_NE(refused({"extra"}).find("extra"), std::string::npos);
    refused({"-x"});
}

TEST(CommandLine, RefusesMissingValues) {
    for (auto option : {"--camera", "--script", "--out", "--seconds"})
        refused({option});
    refused({"--script", ""});
    refused({"--out", ""});
    refused({"--camera", ""});
}

TEST(CommandLine, RefusesCameraSourcesItCannotOpen) {
    EXPECT_NE(refused({"--camera", "webcam"}).find("'webcam'"), std::string::npos);
    refused({"--camera", "picture.gif"});
    refused({"--camera", "Virtual"});
    refused({"--camera", "/dev/sda"});
}

TEST(CommandLine, RefusesRunLengthsOutOfRange) {
    for (auto value : {"0", "-1", "abc", "2s", "nan", "inf", "1e300", "1000000.5", "", " 3", "0x10"})
        EXPECT_NE(refused({"--seconds", value}).find("--seconds"), std::string::npos) << value;
    refused({"--seconds", "1", "--seconds", "2"});
}

} // namespace
