// The program on the test logs: each row a command on a log in tests/data and
// the exit status it must give; its output must be the text kept in
// tests/data/expected/<command>/<arguments>. TRACELET_LOG_UPDATE=1 rewrites
// those texts from the program's output (review the change before keeping it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "test_support.hpp"
#include "trace/check.hpp"
#include "trace/html.hpp"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;

namespace {

struct Row {
    std::string args;
    int status;
};

void expect_output(const Row& row) {
    SCOPED_TRACE(row.args);
    ProgramRun r = run_command("cd '" + data_path("") + "' && '" TRACELET_LOG_PROGRAM "' " + row.args);
    EXPECT_EQ(r.status, row.status) << r.out;
    std::string name = row.args;
    for (char& c : name)
        if (c == ' ' || c == '/') c = '_';
    std::size_t space = row.args.find(' ');
    const std::string path = data_path("expected/" + row.args.substr(0, space) + "/" + name.substr(space + 1));
    if (std::getenv("TRACELET_LOG_UPDATE")) std::ofstream(path, std::ios::binary) << r.out;
    EXPECT_EQ(r.out, read_file(path));
    std::istringstream lines(row.args.rfind("json", 0) == 0 ? r.out : "");
    for (std::string line; std::getline(lines, line);) EXPECT_NO_THROW(nlohmann::json::parse(line)) << line;
}

}  // namespace

// Each rule with a log that breaks it, at the edge where there is one, and a
// log that keeps it; more ways to break a rule; a source's notice between a
// failure and the application's next call, which neither answers for the
// application nor is its next call; whole sessions that keep them all, and
// the reconstructed and recorded callback sessions whose application never
// asks for the status after its two failures. Unreadable lines are notes.
TEST(Program, CheckFindsExactlyTheBrokenRules) {
    for (const Rule& rule : check_rules()) {
        expect_output({std::string("check check/") + rule.id + "-broken.txt", 1});
        expect_output({std::string("check check/") + rule.id + "-kept.txt", 0});
    }
    for (const Row& row : std::vector<Row>{{"check check/memxfer-rows-skipped.txt", 1},
                                           {"check check/endxfer-count-above-xfercount.txt", 1},
                                           {"check check/endxfer-count-negative.txt", 1},
                                           {"check check/no-status-at-end.txt", 1},
                                           {"check check/no-status-notice-then-status.txt", 0},
                                           {"check check/no-status-notice-then-other-call.txt", 1},
                                           {"check session-memory.txt", 0},
                                           {"check session-native.txt", 0},
                                           {"check irregular.txt", 0},
                                           {"check overflow.txt", 0},
                                           {"check truncated.txt", 0},
                                           {"check garbage.txt", 0},
                                           {"check parser/cuts.txt", 1},
                                           {"check parser/messages-and-jump.txt", 0},
                                           {"check reconstructed/callback-memory-silent", 1},
                                           {"check reconstructed/callback-memory-notified", 1},
                                           {"check real/linux-reference-dsm-memory", 1},
                                           {"check real/linux-reference-dsm-memory-callbacks", 1}})
        expect_output(row);
}

// Every block kind, logger messages, cut and damaged logs, text that is not
// UTF-8, and the states of a session without and with the source's
// notifications ([DS] blocks), as typed JSON.
TEST(Program, JsonLinesOfEveryKindOfLog) {
    for (const char* args : {"json session-memory.txt", "json irregular.txt --messages", "json overflow.txt",
                             "json truncated.txt", "json garbage.txt", "json parser/labels-and-items.txt",
                             "json parser/messages-and-jump.txt --messages", "json parser/cuts.txt",
                             "json reconstructed/callback-memory-silent", "json reconstructed/callback-memory-notified"})
        expect_output({args, 0});
}

// Counts, failures in context, the state timeline with its inferred steps,
// capabilities, and the pages with their images, buffers and bytes.
TEST(Program, SummaryOfWholeSessions) {
    for (const char* args : {"summary session-memory.txt", "summary session-native.txt", "summary two_loads",
                             "summary garbage.txt", "summary overflow.txt", "summary reconstructed/callback-memory-silent",
                             "summary reconstructed/callback-memory-notified", "summary real/linux-reference-dsm-memory",
                             "summary real/linux-reference-dsm-memory-callbacks"})
        expect_output({args, 0});
}

// One value changed; other addresses, handles and identity Ids; a call left
// out, an error marker lost and a return code changed; a session against itself;
// one recorded session traced before and after the trace saw the source's notices.
TEST(Program, DiffAlignsCallsAndShowsWhatDiffers) {
    for (const Row& row : std::vector<Row>{
             {"diff session-memory.txt session-memory-600dpi.txt", 1},
             {"diff session-memory.txt session-memory-moved.txt", 0},
             {"diff session-memory.txt session-memory-edited.txt", 1},
             {"diff reconstructed/callback-memory-silent reconstructed/callback-memory-silent", 0},
             {"diff real/linux-reference-dsm-memory real/linux-reference-dsm-memory-callbacks", 1}})
        expect_output(row);
    EXPECT_EQ(run_program("").status, 2) << "a subcommand is required";
    EXPECT_EQ(run_program("check " + data_path("no-such.txt")).status, 2);
}

// The page is self-contained; after its scripts ran in Debian's headless
// Chromium on the "failures only" view (#failures) it shows the two failures
// and their marks, and the states the log does not show drawn as inferred.
TEST(Program, HtmlPageInHeadlessChromium) {
    EXPECT_EQ(html_escape("a<b>&\"'"), "a&lt;b&gt;&amp;&quot;&#39;");
    const std::string dir = ::testing::TempDir() + "tracelet-html", page = dir + "/session.html";
    ASSERT_EQ(run_command("rm -rf '" + dir + "' && mkdir -p '" + dir + "/profile'").status, 0);
    ASSERT_EQ(run_program("html " + data_path("reconstructed/callback-memory-silent") + " -o " + page).status, 0);
    const std::string h = read_file(page);
    EXPECT_EQ(h.find("://"), std::string::npos) << "nothing is fetched";
    EXPECT_EQ(h.find(" src="), std::string::npos);
    if (!chromium_installed()) GTEST_SKIP() << "chromium is not installed";
    ProgramRun dom = headless_dom("file://" + page + "#failures", dir + "/profile");
    ASSERT_EQ(dom.status, 0) << dom.out;
    auto count = [&](const std::string& part) {
        std::size_t n = 0;
        for (std::size_t p = 0; (p = dom.out.find(part, p)) != std::string::npos; ++p) ++n;
        return n;
    };
    EXPECT_EQ(count("2 of 134 calls shown"), 1u) << "the scripts ran and the switch took effect";
    EXPECT_EQ(count("<details class=\"call failed\""), 2u) << "only the failed calls are shown";
    EXPECT_EQ(count("<details class=\"call"), count("<details class=\"call hidden") + 2);
    EXPECT_EQ(count("<line class=\"fail\""), 2u) << "each failure has its mark on the strip";
    for (const char* rect : {"<rect class=\"s5\"", "<rect class=\"s6 inferred\"", "<rect class=\"s7 inferred\""})
        EXPECT_EQ(count(rect), 2u) << rect;
}
