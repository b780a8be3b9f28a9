// The summary and the HTML page, and the program's command line.
#include <gtest/gtest.h>

#include <sstream>

#include "test_support.hpp"
#include "trace/html.hpp"
#include "trace/reader.hpp"
#include "trace/summary.hpp"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;

namespace {

std::string summary_of(const std::vector<std::string>& names) {
    Summary s;
    std::vector<std::string> paths;
    for (const auto& n : names) paths.push_back(data_path(n));
    read_session(session_files(paths), s, ParseOptions{true});
    std::ostringstream out;
    s.print(out);
    return out.str();
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(SummaryReport, CountsTimelineFailuresCapabilitiesAndTransfers) {
    std::string s = summary_of({"session-memory.txt"});
    EXPECT_TRUE(has(s, "1 load, 25 calls (1 claimed events, 0 source notifications), 1 failure, 1 transfer")) << s;
    EXPECT_TRUE(has(s, "        5  DG_CONTROL/DAT_CAPABILITY/MSG_SET  (1 failed)")) << s;
    EXPECT_TRUE(has(s, "00014+ev  5 -> 6  (claimed event) DG_CONTROL/DAT_EVENT/MSG_PROCESSEVENT")) << s;
    EXPECT_TRUE(has(s, "00022     7 -> 5  DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER")) << s;
    // The failure with its dump and the calls around it.
    EXPECT_TRUE(has(s, "00010 in state 4:")) << s;
    EXPECT_TRUE(has(s, "before: 00009 DG_CONTROL/DAT_CAPABILITY/MSG_GET (ICAP_BRIGHTNESS) -> TWRC_SUCCESS")) << s;
    EXPECT_TRUE(has(s, "    |     Cap        = [ICAP_YRESOLUTION]")) << s;
    EXPECT_TRUE(has(s, "after:  00011 DG_CONTROL/DAT_STATUS/MSG_GET -> TWRC_SUCCESS")) << s;
    // Capabilities: last value, container, each MSG_SET and its result.
    EXPECT_TRUE(has(s, "ICAP_XRESOLUTION       TWON_ONEVALUE    300.000   [00008 MSG_GETCURRENT]")) << s;
    EXPECT_TRUE(has(s, "MSG_SET 00010: - -> TWRC_FAILURE")) << s;
    EXPECT_TRUE(has(s, "ICAP_PIXELTYPE         TWON_ONEVALUE    TWPT_GRAY")) << s;
    EXPECT_TRUE(has(s, "ICAP_BRIGHTNESS        TWON_RANGE       0.000 (range -1000.000..1000.000 step 1.000)")) << s;
    // Transfers: image and bytes per page.
    EXPECT_TRUE(has(s, "page 1: memory transfer 00018..00020 -> TWRC_XFERDONE")) << s;
    EXPECT_TRUE(has(s, "image 2550 x 300, TWPT_GRAY, 8 bits per pixel, 300.000 dpi, TWCP_NONE")) << s;
    EXPECT_TRUE(has(s, "3 buffers, 765000 bytes")) << s;
}

TEST(SummaryReport, NativePagesAndSeveralFiles) {
    std::string s = summary_of({"two_loads"});
    EXPECT_TRUE(has(s, "Session: 2 files, 2 loads, 17 calls")) << s;
    EXPECT_TRUE(has(s, "page 1: native transfer 2:00008 -> TWRC_XFERDONE")) << s;
    EXPECT_TRUE(has(s, "page 2: native transfer 2:00011 -> TWRC_XFERDONE")) << s;
    EXPECT_TRUE(has(s, "image handle <0x0c5b4000>")) << s;
    EXPECT_TRUE(has(s, "image 2550 x 3300, TWPT_RGB, 24 bits per pixel")) << s;
}

TEST(SummaryReport, DamagedLogsAreCountedNotHidden) {
    std::string s = summary_of({"garbage.txt"});
    EXPECT_TRUE(has(s, "7 unreadable or damaged lines")) << s;
    EXPECT_TRUE(has(s, "file 1 line 8: unknown line: garbage: the cat walked over the keyboard")) << s;
    std::string o = summary_of({"overflow.txt"});
    EXPECT_TRUE(has(o, "1 result text(s) cut at 5120 bytes")) << o;
}

TEST(HtmlPage, SelfContainedWithStripCallsFailuresAndFilter) {
    Session s = load("session-memory.txt");
    std::ostringstream out;
    write_html(s, out, "memory <scan>");
    std::string h = out.str();
    EXPECT_TRUE(has(h, "<title>memory &lt;scan&gt;</title>"));
    EXPECT_FALSE(has(h, "http://") || has(h, "https://") || has(h, " src=")) << "nothing is fetched";
    EXPECT_TRUE(has(h, "<svg id=\"strip\" viewBox=\"0 0 25 80\""));
    EXPECT_TRUE(has(h, "<line class=\"fail\"")) << "the failure is marked on the strip";
    std::size_t calls = 0;
    for (std::size_t p = h.find("<details class=\"call"); p != std::string::npos; p = h.find("<details class=\"call", p + 1))
        ++calls;
    EXPECT_EQ(calls, 25u);
    EXPECT_TRUE(has(h, "<details class=\"call failed\" id=\"c9\">"));
    EXPECT_TRUE(has(h, "<input id=\"q\" type=\"search\""));
    EXPECT_TRUE(has(h, "pData   = &lt;0x"));
    EXPECT_EQ(html_escape("a<b>&\"'"), "a&lt;b&gt;&amp;&quot;&#39;");
}

// --- the program ----------------------------------------------------------------------

TEST(Program, EverySubcommandHasHelp) {
    for (const char* sub : {"summary", "check", "diff", "json", "html"}) {
        ProgramRun r = run_program(std::string(sub) + " --help");
        EXPECT_EQ(r.status, 0) << sub;
        EXPECT_TRUE(has(r.out, "Usage")) << sub << ": " << r.out;
    }
    EXPECT_EQ(run_program("").status, 2) << "a subcommand is required";
}

TEST(Program, CheckExitStatusTellsScriptsWhetherRulesWereBroken) {
    ProgramRun broken = run_program("check " + data_path("check/no-status-broken.txt"));
    EXPECT_EQ(broken.status, 1) << broken.out;
    EXPECT_TRUE(has(broken.out, "00002  no-status  ")) << broken.out;
    ProgramRun kept = run_program("check " + data_path("check/no-status-kept.txt"));
    EXPECT_EQ(kept.status, 0) << kept.out;
    EXPECT_TRUE(has(kept.out, "0 findings in 5 calls")) << kept.out;
    EXPECT_EQ(run_program("check " + data_path("no-such.txt")).status, 2);
    ProgramRun rules = run_program("check --rules");
    EXPECT_EQ(rules.status, 0);
    EXPECT_TRUE(has(rules.out, "memxfer-overrun"));
}

TEST(Program, DiffJsonAndHtmlFromTheCommandLine) {
    ProgramRun d = run_program("diff " + data_path("session-memory.txt") + " " + data_path("session-memory-600dpi.txt"));
    EXPECT_EQ(d.status, 1);
    EXPECT_TRUE(has(d.out, "B [600.000]")) << d.out;
    ProgramRun same = run_program("diff " + data_path("session-native.txt") + " " + data_path("session-native.txt"));
    EXPECT_EQ(same.status, 0);
    ProgramRun j = run_program("json " + data_path("check/wrong-state-kept.txt"));
    EXPECT_EQ(j.status, 0);
    EXPECT_EQ(std::count(j.out.begin(), j.out.end(), '\n'), 5);
    ProgramRun h = run_program("html " + data_path("session-native.txt"));
    EXPECT_EQ(h.status, 0);
    EXPECT_TRUE(has(h.out, "</html>"));
}

// The page after its scripts ran in a real browser: Debian's headless
// Chromium, opened on the "failures only" view (#failures).
TEST(HtmlPage, InHeadlessChromium) {
    if (run_command("command -v chromium").status != 0) GTEST_SKIP() << "chromium is not installed";
    const std::string dir = ::testing::TempDir() + "tracelet-html";
    ASSERT_EQ(run_command("rm -rf '" + dir + "' && mkdir -p '" + dir + "/profile'").status, 0);
    const std::string page = dir + "/session.html";
    ASSERT_EQ(run_program("html " + data_path("reconstructed/callback-memory-silent") + " -o " + page).status, 0);
    ProgramRun dom = run_command(
        "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync --user-data-dir='" + dir +
        "/profile' --dump-dom 'file://" + page + "#failures' 2>/dev/null");
    ASSERT_EQ(dom.status, 0) << dom.out;
    const std::string& h = dom.out;
    EXPECT_TRUE(has(h, "2 of 134 calls shown")) << "the scripts ran and the switch took effect";
    EXPECT_TRUE(has(h, "<rect class=\"s6 inferred\"")) << "state 6, drawn as inferred";
    EXPECT_TRUE(has(h, "<rect class=\"s7 inferred\""));
    EXPECT_TRUE(has(h, "<rect class=\"s5\""));
    std::size_t marks = 0, shown = 0, hidden_failures = 0;
    for (std::size_t p = 0; (p = h.find("<line class=\"fail\"", p)) != std::string::npos; ++p) ++marks;
    for (std::size_t p = 0; (p = h.find("<details class=\"call", p)) != std::string::npos; ++p) {
        std::string cls = h.substr(p, h.find('"', p + 16) - p);
        bool hidden = has(cls, "hidden"), failed = has(cls, "failed");
        shown += !hidden;
        hidden_failures += hidden && failed;
    }
    EXPECT_EQ(marks, 2u) << "each failure has its mark on the strip";
    EXPECT_EQ(shown, 2u) << "only the failed calls are shown";
    EXPECT_EQ(hidden_failures, 0u);
}
