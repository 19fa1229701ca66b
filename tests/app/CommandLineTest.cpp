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

TEST(CommandLineTest, SettingsInRangeQtOptionsAndAutomationRun)
{
    const QStringList good[] = {
        {"-LaunchFullScreen", "YES", "--automation", "-platform", "offscreen", "-reverse"},
        {"-LaunchFullScreen", "false", "-NumberOfStages", "1", "-NumberOfStages", "4"},
        {"-MinimumLoadSeconds", "0", "-MinimumLoadSeconds", "2.5", "-MinimumLoadSeconds", "10"},
        {"-style", "fusion", "-style=fusion", "-geometry", "800x600", "-qwindowgeometry", "800x600+0+0"},
        {"-session", "s1", "-display", ":0", "-name", "zuzire", "-qwindowtitle", "-title-"},
    };
    for (const QStringList& arguments : good) {
        const CommandLine line = CommandLine::parse(arguments);
        EXPECT_EQ(line.action(), Action::Run) << line.error().toStdString();
    }
    EXPECT_TRUE(CommandLine::parse({"--automation"}).isAutomation());
    EXPECT_FALSE(CommandLine::parse({}).isAutomation());
}

TEST(CommandLineTest, EverySettingHasAUsageLineAndAnExampleItTakes)
{
    for (const CommandLine::Setting& setting : CommandLine::settings()) {
        const QString key = QStringLiteral("-%1").arg(setting.key);
        EXPECT_TRUE(CommandLine::usage().contains(key + ' ')) << setting.key;
        EXPECT_EQ(CommandLine::parse({key, setting.example}).action(), Action::Run) << setting.key;
    }
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
        {{"-LaunchFullscreen", "YES"}, "unknown option -LaunchFullscreen; did you mean -LaunchFullScreen?"},
        {{"-Foo", "bar"},
         "unknown option -Foo; the settings are -LaunchFullScreen, -NumberOfStages, -MinimumLoadSeconds"},
        {{"-LaunchFullScreen", "maybe"}, "-LaunchFullScreen takes YES or NO, not \"maybe\""},
        {{"-NumberOfStages", "7"}, "-NumberOfStages takes a whole number from 1 to 4, not \"7\""},
        {{"-NumberOfStages", "0"}, "-NumberOfStages takes a whole number from 1 to 4, not \"0\""},
        {{"-NumberOfStages", "2.5"}, "-NumberOfStages takes a whole number from 1 to 4, not \"2.5\""},
        {{"-NumberOfStages", " 2"}, "-NumberOfStages takes a whole number from 1 to 4, not \" 2\""},
        {{"-MinimumLoadSeconds", "-1"}, "-MinimumLoadSeconds takes a number from 0 to 10, not \"-1\""},
        {{"-MinimumLoadSeconds", "nan"}, "-MinimumLoadSeconds takes a number from 0 to 10, not \"nan\""},
        {{"-NumberOfStages"}, "-NumberOfStages needs a value, as in -NumberOfStages 2"},
        {{"-LaunchFullScreen"}, "-LaunchFullScreen needs a value, as in -LaunchFullScreen YES"},
        {{"-platform"}, "-platform needs a value"},
    };
    for (const Case& c : cases) {
        const CommandLine line = CommandLine::parse(c.arguments);
        EXPECT_EQ(line.action(), Action::Fail) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(line.error().toStdString(), c.error.toStdString());
    }
}
