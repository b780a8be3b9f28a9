// One recorded Linux session in tests/data/real, traced twice: the older log
// before the trace saw the source's notices, the newer one with them. Each
// test holds the reader to facts the session's READMEs list; the findings are
// held by Reader.RealLogsReadCleanlyAndKeepEveryRule, the summary, check and
// diff texts by the Program tests (the diff of the two traces: only the notice).
#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <sstream>

#include "test_support.hpp"
#include "trace/diff.hpp"
#include "trace/json.hpp"
#include "trace/reader.hpp"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;

namespace {

const std::string kOlder = "real/linux-reference-dsm-memory";
const std::string kNewer = "real/linux-reference-dsm-memory-callbacks";

Session load(const std::string& path) { return Session::load({path}, ParseOptions{true}); }

// Every change of state as "call from>to", with "*" where the reading
// restored it (the log's own lines do not show it).
std::vector<std::string> transitions(const Session& s) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < s.calls.size(); ++i) {
        const SessionStates::Step& st = s.steps[i];
        const std::string id = s.calls[i].id() + " ";
        if (st.before != st.previous)
            out.push_back(id + std::to_string(st.previous) + ">" + std::to_string(st.before) + (st.inferred ? "*" : ""));
        if (st.after != st.before)
            out.push_back(id + std::to_string(st.before) + ">" + std::to_string(st.after) +
                          (st.inferred || st.corrected ? "*" : ""));
    }
    return out;
}

}  // namespace

// The older log stays at 5 from MSG_ENABLEDS to the last MSG_ENDXFER: the
// reader restores the transfer states and marks them. The newer log shows
// them, starting with the notice sent while MSG_ENABLEDS was in flight.
TEST(RealSession, StatesOfTheOlderAndNewerLog) {
    const std::vector<std::string> older = {"3:00002 3>4",  "3:00040 4>5",  "3:00041 5>6*", "3:00043 6>7*", "3:00102 7>6*",
                                            "3:00105 6>7*", "3:00164 7>5", "3:00165 5>4",  "3:00166 4>3"};
    const std::vector<std::string> newer = {"3:00002 3>4", "3:00040 4>6", "3:00044 6>7", "3:00103 7>6",
                                            "3:00106 6>7", "3:00165 7>5", "3:00166 5>4", "3:00167 4>3"};
    EXPECT_EQ(transitions(load(data_path(kOlder))), older);
    EXPECT_EQ(transitions(load(data_path(kNewer))), newer);
}

// Per page 57 buffers of 38 rows and a last one of 34; MSG_ENDXFER leaves
// Count -1 (the source cannot tell) after page 1 and 0 after page 2.
TEST(RealSession, JsonShowsEveryBufferAndTheCountsOfMsgEndxfer) {
    for (const std::string& log : {kOlder, kNewer}) {
        SCOPED_TRACE(log);
        std::ostringstream out;
        JsonLinesWriter writer(out, false);
        read_session(session_files({data_path(log)}), writer);
        std::istringstream lines(out.str());
        std::vector<std::map<long long, int>> pages(1);  // rows of a buffer -> buffers of that many rows
        std::vector<long long> counts;
        for (std::string line; std::getline(lines, line);) {
            const Json j = Json::parse(line);
            if (j["dat"] == "DAT_IMAGEMEMXFER") ++pages.back()[j["data"]["TW_IMAGEMEMXFER"]["Rows"].get<long long>()];
            if (j["msg"] == "MSG_ENDXFER") {
                counts.push_back(j["data"]["TW_PENDINGXFERS"]["Count"].get<long long>());
                pages.emplace_back();
            }
        }
        const std::map<long long, int> page = {{34, 1}, {38, 57}};
        EXPECT_EQ(pages, (std::vector<std::map<long long, int>>{page, page, {}}));
        EXPECT_EQ(counts, (std::vector<long long>{-1, 0}));
    }
}

// The older session's second file with its first MSG_ENDXFER leaving Count 0
// instead of -1: the reading ends the transfers there (7 -> 5, not 7 -> 6).
// The diff reports that call with its Count and its transition, and no other:
// from the next page on both readings are in the same states again.
TEST(RealSession, DiffFindsAMovedTransition) {
    const std::string text = read_file(data_path(kOlder + "/Twainlog_20261207_233753_0522.txt"));
    std::string moved = text;
    const std::size_t at = moved.find("Count = [-1]", moved.find("MSG_ENDXFER"));
    ASSERT_NE(at, std::string::npos);
    moved.replace(at, 12, "Count = [0]");
    const Session a = Session::from_text(text);
    std::vector<Aligned> d;
    for (Aligned& st : align(a, Session::from_text(moved)))
        if (st.kind != Aligned::Same) d.push_back(std::move(st));
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(a.calls[d[0].a].id(), "2:00102");
    std::string fields;
    for (const FieldDiff& f : d[0].diffs) fields += f.path + ": " + f.a + " | " + f.b + "\n";
    EXPECT_EQ(fields, "TWAIN state: 7 -> 6 (inferred) | 7 -> 5\nTW_PENDINGXFERS.Count: [-1] | [0]\n");
}

// The page is titled after the session: the source, the first load's local
// time (from the file's name), the files and the loads; --title overrides it.
TEST(RealSession, HtmlPageIsTitledAfterTheSession) {
    const std::string dir = ::testing::TempDir() + "tracelet-title" + "." + std::to_string(::getpid());
    ASSERT_EQ(run_command("rm -rf '" + dir + "' && mkdir -p '" + dir + "/profile'").status, 0);
    const std::string page = dir + "/page.html";
    ASSERT_EQ(run_program("html " + data_path(kOlder) + " -t 'Scan <1>' -o " + page).status, 0);
    EXPECT_NE(read_file(page).find("<title>Scan &lt;1&gt;</title>"), std::string::npos);
    for (const auto& [log, title] : {std::pair{kOlder, "TWAIN2 Software Scanner, 2026-12-07 23:37:53 (2 files, 3 loads)"},
                                     std::pair{kNewer, "TWAIN2 Software Scanner, 2026-12-07 23:37:54 (2 files, 3 loads)"}}) {
        SCOPED_TRACE(log);
        ASSERT_EQ(run_program("html " + data_path(log) + " -o " + page).status, 0);
        if (!chromium_installed()) GTEST_SKIP() << "chromium is not installed";
        ProgramRun dom = headless_dom("file://" + page, dir + "/profile");
        ASSERT_EQ(dom.status, 0) << dom.out;
        EXPECT_NE(dom.out.find(std::string("<title>") + title + "</title>"), std::string::npos) << dom.out.substr(0, 400);
    }
}
