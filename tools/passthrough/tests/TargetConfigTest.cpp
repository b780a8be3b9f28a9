// How the pass-through companion reads its configuration file and chooses
// its target. Plain string work: no loader, no files.
#include <gtest/gtest.h>

#include "TargetConfig.h"

using namespace tracelet::passthrough;

namespace {

const std::string kConfig = "/opt/tracelet/Core/TwainWrapper.conf";

TEST(ConfigurationFile, TheTargetLineIsReadAndMistakesAreReportedWithTheirLine) {
    const struct {
        const char* text;
        const char* target;  // null: refused with `error`
        const char* error;
    } rows[] = {
        {"target=/opt/vendor/Scanner.ds\n", "/opt/vendor/Scanner.ds", ""},
        // Comments and blanks around key and value are ignored; inner blanks kept.
        {"# the source\n\n   \t\n  # indented = not a setting\n  target \t=   /opt/My Scanner.ds  \r\n",
         "/opt/My Scanner.ds", ""},
        {"# x\ntarget=/a.ds", "/a.ds", ""},  // a last line without line end
        {"# only a comment\n\n", nullptr, "target"},
        {"# x\ntaget = /a.ds\n", nullptr, "line 2: unknown setting \"taget\""},
        {"target /a.ds\n", nullptr, "line 1: expected"},
        {"target = /a.ds\n\ntarget = /b.ds\n", nullptr, "line 3: target is already set on line 1"},
        {"\n\ntarget =   \n", nullptr, "line 3: target has no path"},
    };
    for (const auto& row : rows) {
        const auto parsed = ParseConfigText(row.text);
        EXPECT_EQ(row.target != nullptr, parsed.ok) << row.text;
        if (row.target) { EXPECT_EQ(row.target, parsed.target); }
        EXPECT_NE(std::string::npos, parsed.error.find(row.error)) << parsed.error;
    }
}

TEST(TargetChoice, TheVariableOverridesTheFileWhosePathsAreFromItsFolder) {
    const std::string file = "target = /opt/vendor/Scanner.ds\n", relative = "target = ../targets/Scanner.ds",
                      bare = " target = Scanner.ds ", broken = "nonsense\n";
    const struct {
        const char* variable;
        const char* config;
        const std::string* text;  // null: unreadable
        const char* path;
        const char* origin;
    } rows[] = {
        {nullptr, kConfig.c_str(), &file, "/opt/vendor/Scanner.ds", kConfig.c_str()},
        {nullptr, kConfig.c_str(), &relative, "/opt/tracelet/Core/../targets/Scanner.ds", kConfig.c_str()},
        {nullptr, kConfig.c_str(), &bare, "/opt/tracelet/Core/Scanner.ds", kConfig.c_str()},
        {nullptr, "/TwainWrapper.conf", &bare, "/Scanner.ds", "/TwainWrapper.conf"},
        {"/home/me/Other.ds", kConfig.c_str(), &file, "/home/me/Other.ds", "TRACELET_TARGET_DS"},
        {"/home/me/Other.ds", kConfig.c_str(), &broken, "/home/me/Other.ds", "TRACELET_TARGET_DS"},
        {"", kConfig.c_str(), &file, "/opt/vendor/Scanner.ds", kConfig.c_str()},  // empty: unset
        {"Scanner.ds", kConfig.c_str(), nullptr, "./Scanner.ds", "TRACELET_TARGET_DS"},  // a file, not a search
        {"sub/Scanner.ds", kConfig.c_str(), nullptr, "sub/Scanner.ds", "TRACELET_TARGET_DS"},
    };
    for (const auto& row : rows) {
        const TargetChoice choice = ChooseTarget(row.variable, row.config, row.text, row.text ? "" : "No such file");
        EXPECT_EQ(row.path, choice.path);
        EXPECT_EQ(row.origin, choice.origin) << row.path;
        EXPECT_TRUE(choice.problem.empty()) << choice.problem;
    }
}
// (An unreadable or broken file, with no variable: the chain tests, which
// see the one line the companion writes about it.)

}  // namespace
