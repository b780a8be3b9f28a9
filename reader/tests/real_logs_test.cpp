// Logs from real sessions, dropped into tests/data/real/ (see the README there).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "test_support.hpp"
#include "trace/check.hpp"
#include "trace/diff.hpp"
#include "trace/json.hpp"
#include "trace/reader.hpp"
#include "trace/states.hpp"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> real_sessions() {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(data_path("real"), ec)) {
        std::string name = e.path().filename().string();
        if (e.is_directory() || is_log_file_name(name)) out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(RealLogs, EverySessionReadsCleanlyAndSurvivesEveryExport) {
    auto sessions = real_sessions();
    if (sessions.empty()) GTEST_SKIP() << "no real logs in tests/data/real";
    for (const std::string& path : sessions) {
        SCOPED_TRACE(path);
        Session s = Session::load({path});
        ASSERT_FALSE(s.calls.empty());
        for (const Problem& p : s.problems)
            if (p.what.find("cut at 5120 bytes") == std::string::npos)
                ADD_FAILURE() << "file " << p.file + 1 << " line " << p.line << ": " << p.what << ": " << p.text;
        for (std::size_t i = 0; i + 1 < s.calls.size(); ++i)
            EXPECT_FALSE(s.calls[i].incomplete) << s.calls[i].id();

        std::ostringstream json;
        JsonLinesWriter writer(json, true);
        read_session(session_files({path}), writer);
        std::istringstream in(json.str());
        std::string line;
        std::size_t calls = 0;
        while (std::getline(in, line)) calls += nlohmann::json::parse(line).contains("seq");
        EXPECT_EQ(calls, s.calls.size());

        std::ostringstream diff;
        EXPECT_EQ(diff_sessions(s, s, diff), 0u);

        // The demo application and scanner keep every rule.
        Checker checker([](const Finding& f) { ADD_FAILURE() << f.call << " " << f.rule << ": " << f.message; });
        for (const Call& c : s.calls) checker.feed(c);
        checker.finish();
        EXPECT_EQ(checker.calls(), s.calls.size());
    }
}

// A Linux callback session by memory transfer, reconstructed in the shape the
// data source logs it: without the source's notifications (state lines stuck
// at 5) and with them ([DS] lines), three loads in two files.
TEST(ReconstructedSession, SummaryCheckAndDiffReadTheSessionRight) {
    for (const char* variant : {"silent", "notified"}) {
        SCOPED_TRACE(variant);
        const std::string dir = data_path(std::string("reconstructed/callback-memory-") + variant);
        bool silent = variant[0] == 's';
        ProgramRun summary = run_program("summary " + dir);
        EXPECT_EQ(summary.status, 0);
        for (const char* part : {"Session: 2 files, 3 loads,", "  load 2: file 1 from line 23 ", "2 transfers",
                                 "page 1: memory transfer", "page 2: memory transfer"})
            EXPECT_NE(summary.out.find(part), std::string::npos) << part << "\n" << summary.out;
        EXPECT_EQ(summary.out.find("Log problems"), std::string::npos) << "a second load is no log problem";
        std::size_t pages = 0, inferred = 0;
        for (std::size_t p = 0; (p = summary.out.find("image 1700 x 2200", p)) != std::string::npos; ++p) ++pages;
        for (std::size_t p = 0; (p = summary.out.find("(inferred)", p)) != std::string::npos; ++p) ++inferred;
        EXPECT_EQ(pages, 2u);
        EXPECT_NE(summary.out.rfind("58 buffers, 3740000 bytes"), summary.out.find("58 buffers, 3740000 bytes"))
            << "58 buffers on each page";
        // 5 -> 6 -> 7 -> 6 -> 7 -> 5: all but the last restored where the log shows no notification.
        EXPECT_EQ(inferred, silent ? 4u : 0u) << summary.out;

        ProgramRun check = run_program("check " + dir);
        EXPECT_EQ(check.status, 1);
        EXPECT_NE(check.out.find("2 findings in"), std::string::npos) << check.out;
        EXPECT_NE(check.out.find("  no-status: 2\n"), std::string::npos) << check.out;
        EXPECT_EQ(run_program("diff " + dir + " " + dir).status, 0);
    }
}

TEST(ReconstructedSession, WithoutNotificationsTheStatesComeOutAsWithThem) {
    // The state each call of the application was sent in, under the standard's reading.
    auto states = [](const std::string& name, bool& inferred) {
        Session s = Session::load({data_path("reconstructed/" + name)}, ParseOptions{false});
        SessionStates tracker(tracelet::logmodel::Reading::Standard);
        std::vector<int> out;
        inferred = false;
        for (const Call& c : s.calls) {
            SessionStates::Step st = tracker.step(c);
            inferred = inferred || st.inferred;
            if (!c.from_source()) out.push_back(st.sent_in);
        }
        return out;
    };
    bool silent_inferred = false, notified_inferred = true;
    auto silent = states("callback-memory-silent", silent_inferred);
    auto notified = states("callback-memory-notified", notified_inferred);
    EXPECT_EQ(silent, notified);
    EXPECT_TRUE(silent_inferred);
    EXPECT_FALSE(notified_inferred) << "with the notifications nothing is inferred";
}
