#include "app/command_line.h"

#include <gtest/gtest.h>

namespace tessaro {
namespace {

using Action = CommandLine::Action;

CommandLine Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "tessaro");
    return ParseCommandLine(args);
}

TEST(CommandLine, TheOldFormsMeanWhatTheyAlwaysDid) {
    EXPECT_EQ(Parse({}).action, Action::usage);
    EXPECT_EQ(Parse({"/?"}).action, Action::oldHelp);
    const CommandLine plain = Parse({"D", "1", "extra"});
    EXPECT_EQ(plain.action, Action::run);
    EXPECT_EQ(plain.dir, "D");
    EXPECT_TRUE(plain.deleteSources);
    EXPECT_FALSE(Parse({"D", "01"}).deleteSources);
    EXPECT_EQ(Parse({"D", "--help"}).action, Action::run);  // options come before DIR only
    EXPECT_EQ(Parse({"-"}).dir, "-");
}

TEST(CommandLine, OptionsBeforeTheDirectoryGnuStyle) {
    EXPECT_EQ(Parse({"--help", "D"}).action, Action::help);
    EXPECT_EQ(Parse({"--version"}).action, Action::version);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-j", "3", "D"}, {"-j3", "D"}, {"--jobs", "3", "D"}, {"--jobs=3", "D"}}) {
        const CommandLine line = Parse(args);
        EXPECT_EQ(line.action, Action::run);
        EXPECT_EQ(line.jobs, 3);
        EXPECT_EQ(line.dir, "D");
    }
    const CommandLine from = Parse({"-0", "--from", "LIST", "1"});
    EXPECT_EQ(from.from, "LIST");
    EXPECT_TRUE(from.nul && from.deleteSources);
    EXPECT_TRUE(Parse({"--list", "D"}).list);
    EXPECT_TRUE(Parse({"-n", "D"}).dryRun && Parse({"--dry-run", "D"}).dryRun);
    EXPECT_EQ(Parse({"--report=R", "D"}).report, "R");
    EXPECT_EQ(Parse({"--report", "R", "D"}).report, "R");
    const CommandLine dashed = Parse({"--", "-d", "1"});
    EXPECT_EQ(dashed.dir, "-d");
    EXPECT_TRUE(dashed.deleteSources);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-j"}, {"-j", "0", "D"}, {"--jobs=two", "D"}, {"-x", "D"}, {"--dry", "D"}, {"-j", "2"},
             {"--from"}, {"--list", "--from", "L"}, {"--report"}, {"--report=", "D"}, {"--reports", "D"}})
        EXPECT_EQ(Parse(args).action, Action::wrong) << args[0];
}

}  // namespace
}  // namespace tessaro
