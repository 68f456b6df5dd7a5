// The manual page follows the program: every option --help lists, every key the help
// overlay names and every script command is in it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "host/CommandLine.h"
#include "host/script/AssistCommands.h"
#include "host/script/ScriptParser.h"
#include "host/window/WindowHost.h"

namespace {

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
    std::set<std::string> found;
    const std::regex separator(", | / ");
    for (std::sregex_token_iterator key(list.begin(), list.end(), separator, -1), end; key != end; ++key) {
        std::string lower = *key;
        for (char& c : lower)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        found.insert(lower);
    }
    return found;
}

TEST(ManualPage, NamesEveryOptionKeyAndScriptCommand) {
    const std::string options = section("OPTIONS"), keySection = section("KEYS"),
                      commands = section("SCRIPT COMMANDS");
    ASSERT_FALSE(options.empty() || keySection.empty() || commands.empty());
    const char* const help[] = {"fernhold", "--help"};
    const std::string usage = std::get<host::ExitRequest>(host::parseCommandLine(2, help)).message;
    const std::regex option("--[a-z][a-z-]+");
    for (std::sregex_iterator found(usage.begin(), usage.end(), option), end; found != end; ++found)
        EXPECT_TRUE(std::regex_search(options, std::regex("\n" + found->str() + "[ \n]"))) << found->str();

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
        EXPECT_TRUE(
            std::regex_search(commands, std::regex("(^|[^a-z-])" + std::string(command) + "([^a-z-]|$)")))
            << command;
}

} // namespace
