// The command line: every option accepted in its good forms and refused, with one clear
// line and status 2, in its bad ones; and the manual page that names every option, every key
// of the help overlay and every script command.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "host/CommandLine.h"
#include "host/script/AssistCommands.h"
#include "host/script/ScriptParser.h"
#include "host/window/WindowHost.h"

namespace {

std::variant<host::Options, host::ExitRequest> parse(std::vector<std::string> args) {
    std::vector<const char*> argv{"fernhold"};
    for (const auto& arg : args)
        argv.push_back(arg.c_str());
    return host::parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, DefaultsAndEveryOption) {
    auto defaults = std::get<host::Options>(parse({}));
    EXPECT_EQ(defaults.camera, "") << "none named: the launcher picks the first webcam, else virtual";
    EXPECT_FALSE(defaults.headless || defaults.script || defaults.seconds || defaults.statistics ||
                 defaults.sizeAsked || defaults.photoDirectory);
    EXPECT_EQ(defaults.size, defaultPictureSize);
    EXPECT_TRUE(defaults.outputDirectory.empty());
    auto options = std::get<host::Options>(parse({"--camera", "/dev/video2", "--headless", "--script", "-",
                                                  "--out", "shots", "--seconds", "2.5", "--stats"}));
    EXPECT_EQ(options.camera, "/dev/video2");
    EXPECT_TRUE(options.headless && options.statistics);
    EXPECT_EQ(options.script, "-");
    EXPECT_EQ(options.outputDirectory, "shots");
    EXPECT_EQ(options.seconds, 2.5);
    // Any node under /dev: opening it tells whether it is a camera (a udev rule's link too).
    for (const char* camera : {"still.JPG", "/dev/webcam", "/dev/v4l/by-id/usb-cam-video-index0"})
        EXPECT_EQ(std::get<host::Options>(parse({std::string("--camera=") + camera})).camera, camera);
    EXPECT_EQ(std::get<host::Options>(parse({"--seconds", "1000000"})).seconds, 1e6);
    for (PictureSize size : {PictureSize{1280, 720}, {160, 120}, {3840, 2160}, {480, 640}}) {
        const auto sized = std::get<host::Options>(parse({"--size", describePictureSize(size)}));
        EXPECT_TRUE(sized.sizeAsked && sized.size == size) << describePictureSize(size);
    }
    // Serving: loopback unless a host is named; publishing to a gateway.
    const auto served = std::get<host::Options>(parse({"--serve", "8090"})).serve;
    ASSERT_TRUE(served);
    EXPECT_EQ(served->host, "127.0.0.1");
    EXPECT_EQ(served->port, 8090);
    EXPECT_EQ(served->maximumViewers, 4);
    EXPECT_FALSE(served->control || served->tokenFile);
    const auto all =
        std::get<host::Options>(parse({"--serve", "[::1]:0", "--serve-token-file", "t", "--serve-control",
                                       "--serve-viewers", "2", "--publish", "rtp://janus.local:5004"}));
    EXPECT_EQ(all.serve->host, "::1");
    EXPECT_EQ(all.serve->port, 0) << "any free port";
    EXPECT_TRUE(all.serve->control && all.serve->tokenFile == "t" && all.serve->maximumViewers == 2);
    EXPECT_EQ(all.publish->host, "janus.local");
    EXPECT_EQ(all.publish->port, 5004);
    EXPECT_EQ(std::get<host::Options>(parse({"--serve", "0.0.0.0:80"})).serve->host, "0.0.0.0");
}

TEST(CommandLine, HelpAndVersionEndTheRunSuccessfully) {
    for (auto flag : {"--help", "-h"}) {
        const auto request = std::get<host::ExitRequest>(parse({flag}));
        EXPECT_EQ(request.status, 0);
        for (auto option :
             {"--camera", "--headless", "--script", "--out", "--seconds", "--stats", "--version"})
            EXPECT_NE(request.message.find(option), std::string::npos) << option;
    }
    const auto version = std::get<host::ExitRequest>(parse({"--version"}));
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.message, std::string("fernhold ") + FERNHOLD_VERSION);
}

TEST(CommandLine, RefusesEveryBadFormWithOneLineNamingIt) {
    const std::string huge(60000, '7');
    // clang-format off
    // The arguments, and what the line must name.
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--fast"}, "--fast"}, {{"extra"}, "extra"}, {{"-x"}, ""}, {{"---headless"}, ""}, {{"--head"}, ""},
        {{"--", "--headless"}, ""}, {{"--headless", "stray"}, "stray"}, {{"--headless=maybe"}, ""},
        {{"--stats=sometimes"}, ""},
        // missing or empty values
        {{"--camera"}, ""}, {{"--script"}, ""}, {{"--out"}, ""}, {{"--seconds"}, ""}, {{"--seconds="}, ""},
        {{"--camera="}, ""}, {{"--camera", "--headless"}, ""}, {{"--camera", ""}, ""}, {{"--script", ""}, ""},
        {{"--out", ""}, ""},
        // sources that cannot be opened
        {{"--camera", "webcam"}, "'webcam'"}, {{"--camera", "picture.gif"}, ""},
        {{"--camera", "Virtual"}, ""}, {{"--camera", "/dev/"}, ""}, {{"--camera", ".pngx"}, ""},
        {{"--camera", std::string(60000, 'c')}, ""},
        // repeated
        {{"--camera", "virtual", "--camera", "still.png"}, ""}, {{"--seconds", "1", "--seconds", "2"}, ""},
    };
    // clang-format on
    std::vector<std::pair<std::vector<std::string>, std::string>> all = cases;
    for (const std::string value :
         {"0", "-0", "-1", "abc", "2s", "1,5", "0x10", "1e6x", " 3", "3 ", "--stats", "", "nan", "inf",
          "-inf", "1e300", "1000000.001", huge.c_str()})
        all.push_back({{"--seconds", value}, "--seconds"});
    for (const std::string value :
         {"0x0", "641x480", "640x481", "158x120", "3842x2160", "3840x2162", "640", "x480", "640*480",
          "640X480", "-640x480", "+640x480", " 640x480", "640x480x2", "9999999999x480"})
        all.push_back({{"--size", value}, "--size '" + value + "'"});
    for (const auto& [args, named] : all) {
        const auto result = parse(args);
        const auto* request = std::get_if<host::ExitRequest>(&result);
        ASSERT_TRUE(request) << "accepted: " << args.back().substr(0, 40);
        EXPECT_EQ(request->status, 2);
        EXPECT_EQ(request->message.find('\n'), std::string::npos) << "one line: " << request->message;
        EXPECT_EQ(request->message.rfind("fernhold: ", 0), 0u) << request->message;
        EXPECT_NE(request->message.find("; see --help"), std::string::npos) << request->message;
        EXPECT_NE(request->message.find(named), std::string::npos) << request->message.substr(0, 200);
    }
}

// One section of the page, with roff's font changes dropped and its escaped minus signs
// plain.
std::string section(const std::string& name) {
    std::ifstream file(std::string(FERNHOLD_SOURCE_DIR) + "/data/fernhold.1");
    std::string page{std::istreambuf_iterator<char>(file), {}};
    page = std::regex_replace(std::regex_replace(page, std::regex(R"(\\f[BIRP])"), ""), std::regex(R"(\\-)"),
                              "-");
    const size_t start = page.find(".SH " + name + "\n"), end = page.find("\n.SH ", start + 1);
    return start == std::string::npos ? "" : page.substr(start, end - start);
}

// A list of keys as the overlay and the page write them ("F, F11", "+ / -"), one by one.
std::set<std::string> keys(const std::string& list) {
    const std::regex separator(", | / ");
    return {std::sregex_token_iterator(list.begin(), list.end(), separator, -1), {}};
}

TEST(ManualPage, NamesEveryOptionKeyAndScriptCommand) {
    const std::string options = section("OPTIONS"), keySection = section("KEYS"),
                      commands = section("SCRIPT COMMANDS");
    ASSERT_FALSE(options.empty() || keySection.empty() || commands.empty());
    const std::string usage = std::get<host::ExitRequest>(parse({"--help"})).message;
    const std::regex option("--[a-z][a-z-]+");
    for (std::sregex_iterator found(usage.begin(), usage.end(), option), end; found != end; ++found)
        EXPECT_TRUE(
            std::regex_search(options, std::regex(std::string("\n").append(found->str()).append("[ \n]"))))
            << found->str();

    std::set<std::string> documented; // the keys the page lists, one ".B" line each
    const std::regex keyLine(R"(\n\.B ([^\n]+))");
    for (std::sregex_iterator line(keySection.begin(), keySection.end(), keyLine), end; line != end; ++line)
        documented.merge(keys((*line)[1]));
    std::string overlaid; // the help overlay's keys, in its own words
    for (const auto& row : host::WindowHost::keyHelp())
        overlaid += std::string(overlaid.empty() ? "" : ", ") + row.keys;
    const std::regex assistKey(R"((\S+(?: / \S+)?):  )");
    for (const std::string& line : host::script::assistKeyHelp())
        for (std::sregex_iterator key(line.begin(), line.end(), assistKey), end; key != end; ++key)
            overlaid += ", " + (*key)[1].str();
    for (const std::string& key : keys(overlaid))
        EXPECT_TRUE(documented.count(key)) << "the key '" << key << "'";

    for (std::string_view command : host::script::commandNames())
        EXPECT_TRUE(std::regex_search(
            commands, std::regex(std::string("(^|[^a-z-])").append(command).append("([^a-z-]|$)"))))
            << command;
}

} // namespace
