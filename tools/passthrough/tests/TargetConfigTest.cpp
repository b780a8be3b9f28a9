// How the pass-through companion reads its configuration file and chooses
// its target. Plain string work: no loader, no files.
#include <gtest/gtest.h>

#include "TargetConfig.h"

using tracelet::passthrough::ChooseTarget;
using tracelet::passthrough::ConfigPathFor;
using tracelet::passthrough::ParseConfigText;
using tracelet::passthrough::TargetChoice;

namespace {

const std::string kConfig = "/opt/tracelet/Core/TwainWrapper.conf";

TargetChoice FromFile(const std::string& text) { return ChooseTarget(nullptr, kConfig, &text, ""); }

}  // namespace

TEST(ConfigurationFile, TheTargetLineNamesThePath) {
    const auto parsed = ParseConfigText("target=/opt/vendor/Scanner.ds\n");
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ("/opt/vendor/Scanner.ds", parsed.target);
}

TEST(ConfigurationFile, CommentsBlankLinesAndBlanksAroundKeyAndValueAreIgnored) {
    const auto parsed = ParseConfigText(
        "# the source under test\n"
        "\n"
        "   \t\n"
        "  # indented comment = not a setting\n"
        "  target \t=   /opt/vendor/My Scanner.ds  \r\n");
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ("/opt/vendor/My Scanner.ds", parsed.target);  // inner space kept, CR and trailing blanks gone
}

TEST(ConfigurationFile, ALastLineWithoutLineEndCounts) {
    const auto parsed = ParseConfigText("# x\ntarget=/a.ds");
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ("/a.ds", parsed.target);
}

TEST(ConfigurationFile, AFileWithoutTargetLineIsAnError) {
    for (const char* text : {"", "# only a comment\n", "\n\n"}) {
        const auto parsed = ParseConfigText(text);
        EXPECT_FALSE(parsed.ok) << text;
        EXPECT_NE(std::string::npos, parsed.error.find("target")) << parsed.error;
    }
}

TEST(ConfigurationFile, MistakesAreReportedWithTheirLineNumber) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"# x\ntaget = /a.ds\n", "line 2: unknown setting \"taget\""},
        {"target /a.ds\n", "line 1: expected"},
        {"target = /a.ds\n\ntarget = /b.ds\n", "line 3: target is already set on line 1"},
        {"\n\ntarget =   \n", "line 3: target has no path"},
    };
    for (const Case& c : cases) {
        const auto parsed = ParseConfigText(c.text);
        EXPECT_FALSE(parsed.ok) << c.text;
        EXPECT_NE(std::string::npos, parsed.error.find(c.expected)) << parsed.error;
    }
}

TEST(ConfigurationFile, SitsBesideTheCompanionWithItsExtensionReplaced) {
    EXPECT_EQ("/opt/t/Core/TwainWrapper.conf", ConfigPathFor("/opt/t/Core/TwainWrapper.bundle"));
    EXPECT_EQ("/opt/t.d/Core/TwainWrapper.conf", ConfigPathFor("/opt/t.d/Core/TwainWrapper"));
    EXPECT_EQ("/opt/t/.hidden.conf", ConfigPathFor("/opt/t/.hidden"));
    EXPECT_EQ("Other.conf", ConfigPathFor("Other.so"));
}

TEST(TargetChoice, AnAbsolutePathFromTheFileIsUsedAsWritten) {
    const TargetChoice choice = FromFile("target = /opt/vendor/Scanner.ds\n");
    EXPECT_EQ("/opt/vendor/Scanner.ds", choice.path);
    EXPECT_EQ(kConfig, choice.origin);
    EXPECT_TRUE(choice.problem.empty());
}

TEST(TargetChoice, ARelativePathFromTheFileIsTakenFromTheFilesFolder) {
    EXPECT_EQ("/opt/tracelet/Core/../targets/Scanner.ds", FromFile("target = ../targets/Scanner.ds").path);
    EXPECT_EQ("/opt/tracelet/Core/Scanner.ds", FromFile("target = Scanner.ds").path);
    const std::string atRoot = "target=Scanner.ds";
    EXPECT_EQ("/Scanner.ds", ChooseTarget(nullptr, "/TwainWrapper.conf", &atRoot, "").path);
}

TEST(TargetChoice, TheVariableOverridesTheFile) {
    const std::string text = "target = /opt/vendor/Scanner.ds\n";
    const TargetChoice choice = ChooseTarget("/home/me/Other.ds", kConfig, &text, "");
    EXPECT_EQ("/home/me/Other.ds", choice.path);
    EXPECT_EQ("TRACELET_TARGET_DS", choice.origin);
}

TEST(TargetChoice, TheVariableOverridesEvenAMissingOrBrokenFile) {
    const std::string broken = "nonsense\n";
    EXPECT_EQ("/home/me/Other.ds", ChooseTarget("/home/me/Other.ds", kConfig, nullptr, "No such file").path);
    EXPECT_EQ("/home/me/Other.ds", ChooseTarget("/home/me/Other.ds", kConfig, &broken, "").path);
}

TEST(TargetChoice, AnEmptyVariableCountsAsUnset) {
    const std::string text = "target = /opt/vendor/Scanner.ds\n";
    EXPECT_EQ("/opt/vendor/Scanner.ds", ChooseTarget("", kConfig, &text, "").path);
}

TEST(TargetChoice, ABareNameFromTheVariableIsAFileNotALibrarySearch) {
    EXPECT_EQ("./Scanner.ds", ChooseTarget("Scanner.ds", kConfig, nullptr, "").path);
    EXPECT_EQ("sub/Scanner.ds", ChooseTarget("sub/Scanner.ds", kConfig, nullptr, "").path);
}

TEST(TargetChoice, AnUnreadableFileLeavesNoTargetAndSaysWhichFileAndWhy) {
    const TargetChoice choice = ChooseTarget(nullptr, kConfig, nullptr, "No such file or directory");
    EXPECT_TRUE(choice.path.empty());
    EXPECT_NE(std::string::npos, choice.problem.find(kConfig)) << choice.problem;
    EXPECT_NE(std::string::npos, choice.problem.find("No such file or directory")) << choice.problem;
    EXPECT_NE(std::string::npos, choice.problem.find("TRACELET_TARGET_DS")) << choice.problem;
}

TEST(TargetChoice, ABrokenFileLeavesNoTargetAndSaysWhichFileAndLine) {
    const TargetChoice choice = FromFile("# x\ntaget = /a.ds\n");
    EXPECT_TRUE(choice.path.empty());
    EXPECT_NE(std::string::npos, choice.problem.find(kConfig)) << choice.problem;
    EXPECT_NE(std::string::npos, choice.problem.find("line 2")) << choice.problem;
}
