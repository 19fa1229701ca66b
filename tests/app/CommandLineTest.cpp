#include "app/CommandLine.h"

#include <gtest/gtest.h>

using Action = CommandLine::Action;

TEST(CommandLineTest, HelpAndVersionWinWhereverTheyStand)
{
    EXPECT_EQ(CommandLine::parse({"--help"}).action(), Action::ShowHelp);
    EXPECT_EQ(CommandLine::parse({"-h"}).action(), Action::ShowHelp);
    EXPECT_EQ(CommandLine::parse({"--automation", "--version"}).action(), Action::ShowVersion);
    EXPECT_TRUE(CommandLine::usage().startsWith("Usage: zuzire"));
    EXPECT_EQ(CommandLine::version(), "zuzire " ZUZIRE_VERSION "\n");
}

TEST(CommandLineTest, DefaultOverridesQtOptionsAndAutomationRun)
{
    const CommandLine line = CommandLine::parse({"-LaunchFullScreen", "YES", "--automation", "-platform",
                                                 "offscreen", "-reverse", "-NumberOfStages", "2"});
    EXPECT_EQ(line.action(), Action::Run) << line.error().toStdString();
    EXPECT_TRUE(line.isAutomation());
    EXPECT_FALSE(CommandLine::parse({}).isAutomation());
    // A value may itself begin with a dash.
    EXPECT_EQ(CommandLine::parse({"-NumberOfStages", "-1"}).action(), Action::Run);
}

TEST(CommandLineTest, MistakesFailWithALineSayingWhich)
{
    struct Case {
        QStringList arguments;
        QString error;
    } cases[] = {
        {{"--frobnicate"}, "unknown option --frobnicate"},
        {{"--automation", "photos"}, "unexpected argument \"photos\""},
        {{"-"}, "unexpected argument \"-\""},
        {{"-LaunchFullScreen"}, "-LaunchFullScreen needs a value, as in -LaunchFullScreen YES"},
    };
    for (const Case& c : cases) {
        const CommandLine line = CommandLine::parse(c.arguments);
        EXPECT_EQ(line.action(), Action::Fail) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(line.error(), c.error);
    }
}
