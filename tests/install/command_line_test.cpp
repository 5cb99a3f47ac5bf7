#include "app/command_line.h"

#include <gtest/gtest.h>

using glimmerly::CommandLineAction;
using glimmerly::ParseCommandLine;

namespace {

TEST(CommandLine, EachOptionAloneAndNothing) {
    EXPECT_EQ(ParseCommandLine({}).action, CommandLineAction::Run);
    EXPECT_EQ(ParseCommandLine({"--capture"}).action, CommandLineAction::Capture);
    EXPECT_EQ(ParseCommandLine({"--help"}).action, CommandLineAction::Help);
    EXPECT_EQ(ParseCommandLine({"-h"}).action, CommandLineAction::Help);
    EXPECT_EQ(ParseCommandLine({"--version"}).action, CommandLineAction::Version);
}

TEST(CommandLine, AnythingElseIsAnErrorNamingTheArgument) {
    for (const auto& [arguments, bad] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--capturex"}, "--capturex"},
             {{"capture"}, "capture"},
             {{""}, ""},
             {{"--capture", "now"}, "now"},
             {{"--capture", "--capture"}, "--capture"},
             {{"--help", "--version"}, "--version"},
             {{"-display", ":0"}, "-display"}}) {
        const auto parsed = ParseCommandLine(arguments);
        EXPECT_EQ(parsed.action, CommandLineAction::Error) << bad;
        EXPECT_EQ(parsed.badArgument, bad);
    }
    const std::string text = glimmerly::BadArgumentText("--x");
    EXPECT_NE(text.find("--x"), std::string::npos);
    EXPECT_NE(text.find(glimmerly::UsageText()), std::string::npos);
    EXPECT_EQ(glimmerly::kExitUsage, 2);
}

} // namespace
