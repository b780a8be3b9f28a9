// Each conformance rule with a log that breaks it and one that keeps it, and
// the valid-states table the state rule reads.
#include <gtest/gtest.h>

#include "test_support.hpp"
#include "trace/check.hpp"
#include "trace/generator.hpp"
#include "trace/reader.hpp"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;

namespace {

std::vector<Finding> check_text(std::string_view text) {
    std::vector<Finding> out;
    Checker checker([&](const Finding& f) { out.push_back(f); });
    struct Feed : Sink {
        Checker& c;
        explicit Feed(Checker& ch) : c(ch) {}
        void call(Call&& call) override { c.feed(call); }
    } feed(checker);
    Parser::parse_text(text, feed);
    checker.finish();
    return out;
}

std::vector<Finding> check_file(const std::string& name) { return check_text(read_file(data_path(name))); }

std::string dump(const std::vector<Finding>& fs) {
    std::string s;
    for (const Finding& f : fs) s += f.call + " " + f.rule + " " + f.message + "\n";
    return s;
}

}  // namespace

class EachRule : public ::testing::TestWithParam<const char*> {};

TEST_P(EachRule, BrokenLogBreaksOnlyThisRule) {
    std::string rule = GetParam();
    auto findings = check_file("check/" + rule + "-broken.txt");
    ASSERT_FALSE(findings.empty());
    for (const Finding& f : findings) EXPECT_EQ(f.rule, rule) << dump(findings);
}

TEST_P(EachRule, KeptLogHasNoFinding) {
    std::string rule = GetParam();
    auto findings = check_file("check/" + rule + "-kept.txt");
    EXPECT_TRUE(findings.empty()) << dump(findings);
}

INSTANTIATE_TEST_SUITE_P(Rules, EachRule,
                         ::testing::Values("wrong-state", "dsm-only", "event-state", "memxfer-overrun", "memxfer-rows",
                                           "endxfer-count", "no-status"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

TEST(RuleFindings, EveryRuleInTheFilesIsAListedRule) {
    std::vector<std::string> ids;
    for (const Rule& r : check_rules()) ids.push_back(r.id);
    EXPECT_EQ(ids.size(), 7u);
    for (const Rule& r : check_rules()) EXPECT_GT(std::string(r.title).size(), 20u) << r.id;
}

TEST(RuleFindings, WrongStateNamesStateAllowedStatesAndTheSourcesAnswer) {
    auto f = check_file("check/wrong-state-broken.txt");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].call, "00003");
    EXPECT_EQ(f[0].message,
              "DG_IMAGE/DAT_IMAGELAYOUT/MSG_SET sent in state 5; the TWAIN standard allows it only in state 4 (the "
              "source accepted it with TWRC_SUCCESS; it should have failed with TWCC_SEQERROR)");
}

TEST(RuleFindings, SourceManagerTripletThatReachedTheSource) {
    auto f = check_file("check/dsm-only-broken.txt");
    ASSERT_EQ(f.size(), 1u) << dump(f);
    EXPECT_EQ(f[0].call, "00001");
    EXPECT_EQ(f[0].message, "DG_CONTROL/DAT_PARENT/MSG_OPENDSM reached the data source; the source manager answers it "
                            "itself and never passes it on");
}

TEST(RuleFindings, EventsBeforeEnableAndRepeatedTransferReady) {
    auto f = check_file("check/event-state-broken.txt");
    ASSERT_EQ(f.size(), 2u) << dump(f);
    EXPECT_EQ(f[0].call, "00001+ev");
    EXPECT_NE(f[0].message.find("in state 4"), std::string::npos);
    EXPECT_EQ(f[1].call, "00002+ev");
    EXPECT_NE(f[1].message.find("MSG_XFERREADY in state 6"), std::string::npos);
}

TEST(RuleFindings, MemoryTransferOverrunAndMissingRows) {
    auto over = check_file("check/memxfer-overrun-broken.txt");
    ASSERT_EQ(over.size(), 1u);
    EXPECT_EQ(over[0].call, "00005");
    EXPECT_NE(over[0].message.find("BytesWritten 70000"), std::string::npos);
    EXPECT_NE(over[0].message.find("Length 65536"), std::string::npos);

    auto rows = check_file("check/memxfer-rows-broken.txt");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].call, "00006") << "reported at the buffer that said TWRC_XFERDONE";
    EXPECT_NE(rows[0].message.find("290 rows"), std::string::npos);
    EXPECT_NE(rows[0].message.find("ImageLength is 300"), std::string::npos);
}

TEST(RuleFindings, StripThatSkipsRowsIsReportedAtItsBuffer) {
    std::string text = read_file(data_path("check/memxfer-rows-kept.txt"));
    std::string from = "    YOffset      = [200]";
    text.replace(text.find(from), from.size(), "    YOffset      = [210]");
    auto f = check_text(text);
    ASSERT_EQ(f.size(), 1u) << dump(f);
    EXPECT_EQ(f[0].rule, "memxfer-rows");
    EXPECT_EQ(f[0].call, "00006");
    EXPECT_NE(f[0].message.find("YOffset 210 but 200 rows"), std::string::npos);
}

TEST(RuleFindings, EndTransferCountThatDoesNotDropAndOneAboveTheTransferCount) {
    auto f = check_file("check/endxfer-count-broken.txt");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].call, "00007");
    EXPECT_NE(f[0].message.find("Count at 1 with 1 transfer pending"), std::string::npos);

    // CAP_XFERCOUNT 1, yet the first MSG_ENDXFER leaves one pending.
    std::string text = read_file(data_path("check/endxfer-count-kept.txt"));
    std::string set = "      Item     = [2]";
    text.replace(text.find(set), set.size(), "      Item     = [1]");
    auto g = check_text(text);
    ASSERT_GE(g.size(), 1u) << dump(g);
    EXPECT_EQ(g[0].rule, "endxfer-count");
    EXPECT_NE(g[0].message.find("CAP_XFERCOUNT"), std::string::npos);

    std::string neg = read_file(data_path("check/endxfer-count-kept.txt"));
    std::string c0 = "    Count = [1]";
    neg.replace(neg.find(c0), c0.size(), "    Count = [-2]");
    auto h = check_text(neg);
    ASSERT_GE(h.size(), 1u) << dump(h);
    EXPECT_NE(h[0].message.find("Count -2"), std::string::npos);
}

TEST(RuleFindings, FailureAtTheEndOfTheLogStillNeedsStatus) {
    std::string text = read_file(data_path("check/no-status-kept.txt"));
    text = text.substr(0, text.find("[00003]"));  // the log ends after the failure
    auto f = check_text(text);
    ASSERT_EQ(f.size(), 1u) << dump(f);
    EXPECT_EQ(f[0].rule, "no-status");
    EXPECT_EQ(f[0].call, "00002");
    EXPECT_NE(f[0].message.find("the log ends"), std::string::npos);
}

TEST(WellBehavedSessions, FullSessionsAndGeneratedLogHaveNoFinding) {
    for (const char* name : {"session-memory.txt", "session-native.txt", "irregular.txt", "overflow.txt",
                             "real/Twainlog_20261206_224743_0343.txt", "real/Twainlog_20261206_224749_0519.txt",
                             "real/Twainlog_20261206_224752_0555.txt"}) {
        auto f = check_file(name);
        EXPECT_TRUE(f.empty()) << name << "\n" << dump(f);
    }
    GeneratorOptions o;
    o.calls = 2000;
    EXPECT_TRUE(check_text(generate_session(o)).empty());
    o.native = true;
    EXPECT_TRUE(check_text(generate_session(o)).empty());
}

TEST(WellBehavedSessions, DisableAfterCloseRequestIsInStateFive) {
    // The log's own tracker puts MSG_CLOSEDSREQ at state 4; the standard keeps
    // the source enabled until MSG_DISABLEDS, so that call is in order.
    Session s = load("session-native.txt");
    const Call* ev = find_call(s, "00012+ev");
    ASSERT_NE(ev, nullptr);
    EXPECT_EQ(ev->state_after, 4);
    EXPECT_TRUE(check_file("session-native.txt").empty());
}

TEST(ValidStatesTable, BuiltInTableAnswersForKnownTriplets) {
    const ValidStates& t = ValidStates::builtin();
    EXPECT_GT(t.size(), 90u);
    const TripletStates* layout = t.find("DG_IMAGE", "DAT_IMAGELAYOUT", "MSG_SET");
    ASSERT_NE(layout, nullptr);
    EXPECT_TRUE(layout->allows(4));
    EXPECT_FALSE(layout->allows(5));
    const TripletStates* status = t.find("DG_CONTROL", "DAT_STATUS", "MSG_GET");
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->allows(2)) << "two rows for one triplet: their states add up";
    EXPECT_TRUE(status->allows(7));
    const TripletStates* entry = t.find("DG_CONTROL", "DAT_ENTRYPOINT", "MSG_SET");
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->allows(1)) << "no state named: never reported";
    EXPECT_EQ(t.find("DG_CONTROL", "DAT_NV_USMINFO", "MSG_GET"), nullptr);
    EXPECT_EQ(describe_states(layout->mask), "4");
    EXPECT_EQ(describe_states((1u << 4) | (1u << 5) | (1u << 7)), "4, 5 or 7");
    EXPECT_EQ(describe_states((1u << 4) | (1u << 5) | (1u << 6) | (1u << 7)), "4 to 7");
}

TEST(ValidStatesTable, MalformedRowsAreRefused) {
    EXPECT_THROW(ValidStates("dg\tdat\tmsg\tvalid_states\tnext_state\tsent_by\tnotes\nDG_X\tDAT_Y\tMSG_Z\t9\t-\tapp>ds\t\n"),
                 std::runtime_error);
    EXPECT_THROW(ValidStates("DG_X\tDAT_Y\n"), std::runtime_error);
    ValidStates ok("# comment\nDG_X\tDAT_Y\tMSG_Z\t4,6\t-\tapp>ds\tnote\n");
    EXPECT_TRUE(ok.find("DG_X", "DAT_Y", "MSG_Z")->allows(6));
    EXPECT_FALSE(ok.find("DG_X", "DAT_Y", "MSG_Z")->allows(5));
}
