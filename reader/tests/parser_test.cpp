// The reader in the process: logs read in pieces, mangled and generated logs,
// the order of a session's files, the states of a session whose log shows no
// notification, the valid-states table, and the real logs in tests/data/real.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>

#include "test_support.hpp"
#include "trace/check.hpp"
#include "trace/diff.hpp"
#include "trace/generator.hpp"
#include "trace/reader.hpp"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;

namespace {

std::string findings(const Session& s) {
    std::string out;
    Checker checker([&](const Finding& f) { out += f.call + "  " + f.rule + "  " + f.message + "\n"; });
    for (const Call& c : s.calls) checker.feed(c);
    checker.finish();
    return out;
}

}  // namespace

TEST(Reader, ChunkSizeDoesNotChangeWhatIsRead) {
    std::string text = read_file(data_path("session-memory.txt"));
    Session whole = Session::from_text(text);
    for (std::size_t chunk : {1u, 2u, 7u, 4096u}) {
        Session pieces;
        Parser p(pieces, ParseOptions{true});
        p.begin_file(0, "x");
        for (std::size_t off = 0; off < text.size(); off += chunk) p.feed(std::string_view(text).substr(off, chunk));
        p.end_file();
        ASSERT_EQ(pieces.calls.size(), whole.calls.size()) << "chunk " << chunk;
        for (std::size_t i = 0; i < whole.calls.size(); ++i) EXPECT_EQ(pieces.calls[i].text, whole.calls[i].text);
        EXPECT_TRUE(pieces.problems.empty());
    }
}

TEST(Reader, RandomBytesAndMangledLinesNeverStopTheReader) {
    std::string clean = read_file(data_path("irregular.txt"));
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        std::string text = clean;
        for (int e = 0, edits = 1 + static_cast<int>(rng() % 40); e < edits; ++e) {
            std::size_t at = rng() % text.size();
            switch (rng() % 4) {
            case 0: text[at] = static_cast<char>(rng() % 256); break;
            case 1: text.erase(at, rng() % 200); break;
            case 2: text.insert(at, "Size of CAP_xxx too long"); break;
            case 3: text.insert(at, std::string(1 + rng() % 3, "{}=[]<>\n\r"[rng() % 9])); break;
            }
            if (text.empty()) text = "x";
        }
        Session s = Session::from_text(text);
        std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        for (const Problem& p : s.problems) ASSERT_LE(p.line, lines);
        ASSERT_LE(s.calls.size(), 60u);
        findings(s);
    }
}

TEST(Reader, GeneratedSessionsReadBackAndKeepEveryRule) {
    for (bool native : {false, true}) {
        GeneratorOptions o;
        o.calls = 2000;
        o.native = native;
        Session s = Session::from_text(generate_session(o), ParseOptions{false});
        EXPECT_TRUE(s.problems.empty());
        EXPECT_GE(s.calls.size(), 2000u);
        EXPECT_EQ(s.calls.back().triplet(), "DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS");
        EXPECT_EQ(s.steps.back().after, 3);
        EXPECT_EQ(findings(s), "");
    }
}

TEST(Reader, FilesOfASessionAreReadInTheOrderOfTheirTimeStamps) {
    auto files = session_files({data_path("two_loads/Twainlog_20240131_094510_0120.txt"),
                                data_path("two_loads/Twainlog_20240131_094502_0008.txt")});
    ASSERT_EQ(files.size(), 2u);
    EXPECT_NE(files[0].find("094502_0008"), std::string::npos);
    EXPECT_TRUE(is_log_file_name("Twainlog_20240131_094502_1000.txt"));
    EXPECT_FALSE(is_log_file_name("Twainlog_20240131-094502_0008.txt"));
    EXPECT_THROW(session_files({data_path("no-such-file.txt")}), std::runtime_error);
}

// Without the source's notifications (state lines stuck at 5) the states of
// the application's calls are restored to what the notified log shows.
TEST(Reader, StatesWithoutNotificationsComeOutAsWithThem) {
    auto states = [](const std::string& name, std::string& inferred) {
        Session s = Session::load({data_path("reconstructed/" + name)}, ParseOptions{false});
        SessionStates tracker(tracelet::logmodel::Reading::Standard);
        std::vector<int> out;
        for (const Call& c : s.calls) {
            SessionStates::Step st = tracker.step(c);
            if (st.inferred) inferred += c.id() + " ";
            if (!c.from_source()) out.push_back(st.sent_in);
        }
        return out;
    };
    std::string silent_inferred, notified_inferred;
    EXPECT_EQ(states("callback-memory-silent", silent_inferred), states("callback-memory-notified", notified_inferred));
    EXPECT_EQ(silent_inferred, "2:00007 ") << "transfer ready before the first page; the second follows MSG_ENDXFER";
    EXPECT_EQ(notified_inferred, "") << "with the notifications nothing is inferred";
}

TEST(Reader, ValidStatesTableRefusesMalformedRows) {
    EXPECT_THROW(ValidStates("DG_X\tDAT_Y\tMSG_Z\t9\t-\tapp>ds\t\n"), std::runtime_error);
    EXPECT_THROW(ValidStates("DG_X\tDAT_Y\n"), std::runtime_error);
    ValidStates ok("# comment\nDG_X\tDAT_Y\tMSG_Z\t4,6\t-\tapp>ds\tnote\nDG_X\tDAT_Y\tMSG_Z\t7\t-\tapp>ds\t\n");
    EXPECT_EQ(describe_states(ok.find("DG_X", "DAT_Y", "MSG_Z")->mask), "4, 6 or 7") << "two rows add up";
}

// Logs of real sessions in tests/data/real: every line readable but for the
// 5120-byte cut, every call but the last complete, exactly the findings kept
// beside the log in <name>.findings (none where there is no such file), and
// no difference from the session itself.
TEST(Reader, RealLogsReadCleanlyAndKeepEveryRule) {
    std::size_t with_findings = 0;
    for (const auto& e : std::filesystem::directory_iterator(data_path("real"))) {
        if (!e.is_directory() && !is_log_file_name(e.path().filename().string())) continue;
        SCOPED_TRACE(e.path().string());
        Session s = Session::load({e.path().string()});
        ASSERT_FALSE(s.calls.empty());
        for (const Problem& p : s.problems)
            EXPECT_NE(p.what.find("cut at 5120 bytes"), std::string::npos) << p.line << ": " << p.what;
        for (std::size_t i = 0; i + 1 < s.calls.size(); ++i) EXPECT_FALSE(s.calls[i].incomplete) << s.calls[i].id();
        const std::string expected = e.path().string() + ".findings";
        with_findings += std::filesystem::exists(expected);
        EXPECT_EQ(findings(s), std::filesystem::exists(expected) ? read_file(expected) : "");
        std::ostringstream diff;
        EXPECT_EQ(diff_sessions(s, s, diff), 0u) << diff.str();
    }
    EXPECT_GE(with_findings, 2u) << "the findings files are read";
}

// A name and the ERROR!(n) text of its value are the same call or constant;
// another value is not; addresses do not count. Each row changes one text of
// call 00005 (an enumeration of ICAP_PIXELTYPE).
TEST(Reader, DiffComparesTripletsAndConstantsByValue) {
    const std::string text = read_file(data_path("session-memory.txt"));
    struct Row {
        std::string from, to, differs;
    } rows[] = {
        {"DAT_CAPABILITY/MSG_GET (ICAP_PIXELTYPE)", "ERROR!(1)/ERROR!(1) (ERROR!(257))", ""},
        {"[TWRC_SUCCESS]", "[ERROR!(0)]", ""},
        {"1:TWPT_GRAY", "1:ERROR!(1)", ""},
        {"1:TWPT_GRAY", "1:ERROR!(2)", "TW_CAPABILITY.TW_ENUMERATION.ItemList[1] "},
        {"[TWTY_UINT16]", "[TWTY_INT16]", "TW_CAPABILITY.TW_ENUMERATION.ItemType "},
        {"<0x0012a520>", "<0x0099a520>", ""},
        {"[TWRC_SUCCESS]", "[TWRC_CHECKSTATUS]", "Return Code "},
        {"(ICAP_PIXELTYPE)", "(ICAP_BITDEPTH)", "only in A, only in B, "},
    };
    const Session a = Session::from_text(text);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.to);
        std::string changed = text;
        changed.replace(changed.find(row.from, changed.find("[00005]")), row.from.size(), row.to);
        std::string differs;
        for (const Aligned& st : align(a, Session::from_text(changed)))
            differs += st.kind == Aligned::Same      ? ""
                       : st.kind == Aligned::Changed ? st.diffs[0].path + " "
                                                     : st.kind == Aligned::OnlyA ? "only in A, " : "only in B, ";
        EXPECT_EQ(differs, row.differs);
    }
}
