// The program on the test logs: each row a command on a log in tests/data and
// the exit status it must give; its output must be the text kept in
// tests/data/expected/<command>/<arguments>. TRACELET_LOG_UPDATE=1 rewrites
// those texts from the program's output (review the change before keeping it).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "test_support.hpp"
#include "trace/check.hpp"
#include "trace/generator.hpp"
#include "trace/record_writer.hpp"
#include "trace/html.hpp"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;

namespace {

void expect_output(const std::string& args, int status) {
    SCOPED_TRACE(args);
    ProgramRun r = run_command("cd '" + data_path("") + "' && '" TRACELET_LOG_PROGRAM "' " + args);
    EXPECT_EQ(r.status, status) << r.out;
    std::string name = args;
    for (char& c : name)
        if (c == ' ' || c == '/') c = '_';
    std::size_t space = args.find(' ');
    const std::string path = data_path("expected/" + args.substr(0, space) + "/" + name.substr(space + 1));
    if (std::getenv("TRACELET_LOG_UPDATE")) std::ofstream(path, std::ios::binary) << r.out;
    EXPECT_EQ(r.out, read_file(path));
    std::istringstream lines(args.rfind("json", 0) == 0 ? r.out : "");
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
        expect_output(std::string("check check/") + rule.id + "-broken.txt", 1);
        expect_output(std::string("check check/") + rule.id + "-kept.txt", 0);
    }
    for (const char* log : {"check/memxfer-rows-skipped.txt", "check/endxfer-count-above-xfercount.txt",
                            "check/endxfer-count-negative.txt", "check/no-status-at-end.txt",
                            "check/no-status-notice-then-other-call.txt", "parser/cuts.txt",
                            "reconstructed/callback-memory-silent", "reconstructed/callback-memory-notified",
                            "real/linux-reference-dsm-memory", "real/linux-reference-dsm-memory-callbacks"})
        expect_output(std::string("check ") + log, 1);
    for (const char* log : {"check/no-status-notice-then-status.txt", "session-memory.txt", "session-native.txt",
                            "irregular.txt", "overflow.txt", "truncated.txt", "garbage.txt", "parser/messages-and-jump.txt"})
        expect_output(std::string("check ") + log, 0);
}

// As typed JSON: every block kind, logger messages, cut and damaged logs, text
// that is not UTF-8, and the states of a session without and with the source's
// notifications ([DS] blocks). As a summary: counts, failures in context, the
// state timeline with its inferred steps, capabilities, and the pages with
// their images, buffers and bytes.
TEST(Program, JsonLinesAndSummaryOfEveryKindOfLog) {
    for (const char* args : {"json session-memory.txt", "json irregular.txt --messages", "json overflow.txt",
                             "json truncated.txt", "json garbage.txt", "json parser/labels-and-items.txt",
                             "json parser/messages-and-jump.txt --messages", "json parser/cuts.txt",
                             "json reconstructed/callback-memory-silent", "json reconstructed/callback-memory-notified",
                             "summary session-memory.txt", "summary session-native.txt", "summary two_loads",
                             "summary garbage.txt", "summary overflow.txt", "summary reconstructed/callback-memory-silent",
                             "summary reconstructed/callback-memory-notified", "summary real/linux-reference-dsm-memory",
                             "summary real/linux-reference-dsm-memory-callbacks"})
        expect_output(args, 0);
}

// One value changed; other addresses, handles and identity Ids; a call left
// out, an error marker lost and a return code changed; a session against itself;
// one recorded session traced before and after the trace saw the source's notices.
TEST(Program, DiffAlignsCallsAndShowsWhatDiffers) {
    for (const auto& [args, status] : std::vector<std::pair<std::string, int>>{
             {"diff session-memory.txt session-memory-600dpi.txt", 1},
             {"diff session-memory.txt session-memory-moved.txt", 0},
             {"diff session-memory.txt session-memory-edited.txt", 1},
             {"diff reconstructed/callback-memory-silent reconstructed/callback-memory-silent", 0},
             {"diff real/linux-reference-dsm-memory real/linux-reference-dsm-memory-callbacks", 1}})
        expect_output(args, status);
    EXPECT_EQ(run_program("").status, 2) << "a subcommand is required";
    EXPECT_EQ(run_program("check " + data_path("no-such.txt")).status, 2);
}

namespace {

// The page as Debian's headless Chromium leaves it once its scripts ran;
// skips the test when Chromium is not installed.
struct Browser {
    std::string dir;
    // One folder per process: two test runs on one machine must not share
    // a browser profile.
    explicit Browser(const std::string& name)
        : dir(::testing::TempDir() + name + "." + std::to_string(::getpid())) {
        EXPECT_EQ(run_command("rm -rf '" + dir + "' && mkdir -p '" + dir + "/profile'").status, 0);
    }
    ~Browser() { run_command("rm -rf '" + dir + "'"); }
    std::string dom(const std::string& url) const {
        ProgramRun r = headless_dom(url, dir + "/profile");
        EXPECT_EQ(r.status, 0) << url;
        return r.out;
    }
};

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t p = 0; (p = text.find(part, p)) != std::string::npos; ++p) ++n;
    return n;
}

// The page's own mark of when its first rows and its strip stood, in ms
// after the navigation began; -1 when the script never got there.
long ready_ms(const std::string& dom) {
    std::size_t p = dom.find("data-ready-ms=\"");
    return p == std::string::npos ? -1 : std::stol(dom.substr(p + 15));
}

}  // namespace

// Whatever a log holds, its text stays inside the page's data: no script
// end, no comment start, no byte that is not UTF-8.
TEST(Program, HtmlDataKeepsLogTextInsideTheScript) {
    EXPECT_EQ(html_escape("a<b>&\"'"), "a&lt;b&gt;&amp;&quot;&#39;");
    const struct {
        std::string text, json;
    } rows[] = {
        {"</script><script>alert(1)</script>", R"("\u003c/script>\u003cscript>alert(1)\u003c/script>")"},
        {"<!-- x", R"("\u003c!-- x")"},
        {"hParent = <0x00000000>\n\"q\"\\", R"("hParent = \u003c0x00000000>\n\"q\"\\")"},
        {std::string("a\xff\xc3") + '\0' + "b", "\"a\xEF\xBF\xBD\xEF\xBF\xBD\\u0000b\""},
    };
    for (const auto& row : rows) EXPECT_EQ(script_json_string(row.text), row.json) << row.text;
}

// The page is self-contained; after its scripts ran in Debian's headless
// Chromium on the "failures only" view (#failures) it shows the two failures
// and their marks, and the states the log does not show drawn as inferred;
// a filter in the address ("#q=") finds calls by any line of their text.
TEST(Program, HtmlPageInHeadlessChromium) {
    Browser browser("tracelet-html");
    const std::string page = browser.dir + "/session.html";
    ASSERT_EQ(run_program("html " + data_path("reconstructed/callback-memory-silent") + " -o " + page).status, 0);
    const std::string h = read_file(page);
    EXPECT_EQ(h.find("://"), std::string::npos) << "nothing is fetched";
    EXPECT_EQ(h.find(" src="), std::string::npos);
    if (!chromium_installed()) GTEST_SKIP() << "chromium is not installed";
    const std::string dom = browser.dom("file://" + page + "#failures");
    EXPECT_EQ(occurrences(dom, "2 of 134 calls shown"), 1u) << "the scripts ran and the switch took effect";
    EXPECT_EQ(occurrences(dom, "<details class=\"call failed\""), 2u) << "only the failed calls are shown";
    EXPECT_EQ(occurrences(dom, "<details class=\"call"), 2u);
    EXPECT_EQ(occurrences(dom, "10 runs of states, 4 inferred, 2 failures"), 1u) << "each failure has its mark";
    EXPECT_GT(ready_ms(dom), 0);
    // "#c<n>" opens call n: each call's text comes back from the shared lines
    // and its own exactly as the log has it.
    const Session session = Session::load({data_path("reconstructed/callback-memory-silent")});
    for (std::size_t i : {std::size_t{17}, session.calls.size() - 1}) {
        std::string text = session.calls[i].text, expected;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        for (char ch : text) expected += ch == '<' ? "&lt;" : ch == '>' ? "&gt;" : ch == '&' ? "&amp;" : std::string(1, ch);
        const std::string opened = browser.dom("file://" + page + "#c" + std::to_string(i));
        EXPECT_EQ(occurrences(opened, "<pre>" + expected + "</pre>"), 1u) << i << "\n" << expected;
    }
    // A member of a dump, a return code, a text no call holds.
    for (const auto& [filter, shown] : std::vector<std::pair<std::string, std::string>>{
             {"XResolution", "2 of 134"},
             {"twrc_failure", "2 of 134"}, {"no%20such%20text", "0 of 134"}})
        EXPECT_EQ(occurrences(browser.dom("file://" + page + "#q=" + filter), shown + " calls shown"), 1u) << filter;
}

// A session of 119,940 calls (a 99-page memory session run 60 times is that
// long) opens in under 5 s: the page marks when its first rows and its strip
// stood, and only the rows in view are elements.
TEST(Program, HtmlPageOfALongSessionOpensQuickly) {
    Browser browser("tracelet-html-long");
    GeneratorOptions options;
    options.calls = 119940;
    std::ofstream(browser.dir + "/Twainlog_20261207_233754_0754.txt", std::ios::binary) << generate_session(options);
    const std::string page = browser.dir + "/long.html";
    ASSERT_EQ(run_program("html " + browser.dir + " -o " + page).status, 0);
    if (!chromium_installed()) GTEST_SKIP() << "chromium is not installed";
    // The best of three loads: the machine is shared, the page's own time is what counts.
    std::string dom;
    long ready = -1;
    for (int run = 0; run < 3 && (ready < 0 || ready >= 5000); ++run) {
        dom = browser.dom("file://" + page);
        const long ms = ready_ms(dom);
        ASSERT_GT(ms, 0) << "the page's script finished";
        ready = ready < 0 ? ms : std::min(ready, ms);
    }
    EXPECT_LT(ready, 5000) << "interactive within 5 s";
    const std::size_t p = dom.find(" calls shown");
    ASSERT_NE(p, std::string::npos);
    unsigned long visible = 0, total = 0;
    ASSERT_EQ(std::sscanf(dom.c_str() + dom.rfind('>', p) + 1, "%lu of %lu", &visible, &total), 2);
    EXPECT_GE(total, static_cast<unsigned long>(options.calls));
    EXPECT_EQ(visible, total);
    EXPECT_LT(occurrences(dom, "<details"), 200u) << "only the rows in view are drawn";
}

// With its flight record beside the log, the page places the calls on a time
// axis: the calls without blocks in the log too, a pause of over a second,
// the call that never returned, each logged call's duration in its row.
TEST(Program, HtmlPageDrawsTheCallsOverTime) {
    Browser browser("tracelet-html-times");
    GeneratorOptions options;
    options.calls = 30;
    const std::string log = generate_session(options);
    std::ofstream(browser.dir + "/Twainlog_20261207_233754_0754.txt", std::ios::binary) << log;
    const std::size_t logged = occurrences(log, "] [APP] ");
    constexpr int64_t kMs = 1000000;
    RecordWriter w;
    int64_t t = 5000 * kMs;
    for (std::size_t seq = 1; seq <= logged; ++seq) {
        if (seq == 10) t += 3000 * kMs;  // a pause before the tenth call
        uint32_t slot = w.start({100, t, 1, 1, 0x0001, -1, false, 4});
        t += seq == 5 ? 1500 * kMs : 2 * kMs;  // the fifth call takes 1.5 s
        w.end(slot, t, 0, 4, static_cast<long long>(seq));
        t += kMs;
    }
    uint32_t notice = w.start({300, t, 1, 0, 0x0101, -1, true, 5});  // no blocks in the log
    w.end(notice, t + kMs, 0, 6, -1);
    w.start({100, t + 2 * kMs, 1, 9, 0x0502, -1, false, 4});  // never returned
    w.write(browser.dir + "/Twainlog_20261207_233754_0754.calls");
    const std::string page = browser.dir + "/times.html", cut = browser.dir + "/cut.html";
    ASSERT_EQ(run_program("html " + browser.dir + " -o " + page).status, 0);
    // A record cut short gives the calls it holds and says what it lost.
    const std::string bytes = w.bytes();
    std::ofstream(browser.dir + "/Twainlog_20261207_233754_0754.calls", std::ios::binary) << bytes.substr(0, 4096 + 64 * 3 + 20);
    ASSERT_EQ(run_program("html " + browser.dir + " -o " + cut).status, 0);
    EXPECT_NE(read_file(cut).find("<h2>What the flight records could not give</h2>"), std::string::npos);
    EXPECT_NE(read_file(cut).find("\"s_flags\":[0,0,0]"), std::string::npos) << "the three whole calls";
    if (!chromium_installed()) GTEST_SKIP() << "chromium is not installed";
    const std::string dom = browser.dom("file://" + page);
    EXPECT_EQ(occurrences(dom, "Calls over time: " + std::to_string(logged + 2) +
                                   " calls in 4.61 s, 1 pause over 1 s, 1 call that never returned"),
              1u);
    EXPECT_EQ(occurrences(dom, "MSG_OPENDS <span class=\"rc\">TWRC_SUCCESS</span> <span class=\"dur\">2.0 ms</span>"), 1u);
    EXPECT_EQ(occurrences(dom, "<span class=\"dur\">1.50 s</span>"), 1u);
}
