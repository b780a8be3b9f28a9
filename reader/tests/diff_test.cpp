// Structural comparison of two sessions.
#include <gtest/gtest.h>

#include <sstream>

#include "test_support.hpp"
#include "trace/diff.hpp"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;

namespace {

std::size_t count(const std::vector<Aligned>& steps, Aligned::Kind kind) {
    std::size_t n = 0;
    for (const Aligned& s : steps) n += s.kind == kind;
    return n;
}

// Removes the call whose triplet line carries the given number, renumbering nothing.
std::string without_call(const std::string& text, const std::string& seq) {
    std::size_t from = text.find("[" + seq + "]");
    std::size_t to = text.find("\r\n[", from + 1);
    return text.substr(0, from) + text.substr(to + 2);
}

}  // namespace

TEST(Diff, SessionsThatDifferInOneCapabilityValue) {
    Session a = load("session-memory.txt");
    Session b = load("session-memory-600dpi.txt");
    ASSERT_NE(a.calls[0].pdata, b.calls[0].pdata) << "the two runs have different addresses";

    auto steps = align(a, b);
    EXPECT_EQ(count(steps, Aligned::Changed), 2u);
    EXPECT_EQ(count(steps, Aligned::OnlyA) + count(steps, Aligned::OnlyB), 0u);

    const Call& set = *find_call(a, "00007");
    auto diffs = compare_calls(set, *find_call(b, "00007"));
    ASSERT_EQ(diffs.size(), 1u);
    EXPECT_EQ(diffs[0].path, "TW_CAPABILITY.TW_ONEVALUE.Item");
    EXPECT_EQ(diffs[0].a, "[300.000]");
    EXPECT_EQ(diffs[0].b, "[600.000]");

    std::ostringstream out;
    EXPECT_EQ(diff_sessions(a, b, out), 2u);
    std::string report = out.str();
    std::size_t first = report.find("! A 00007 / B 00007  DG_CONTROL/DAT_CAPABILITY/MSG_SET (ICAP_XRESOLUTION)");
    ASSERT_NE(first, std::string::npos) << report;
    EXPECT_LT(report.find("= A 00006 / B 00006"), first) << "the equal call before it is shown";
    EXPECT_NE(report.find("TW_CAPABILITY.TW_ONEVALUE.Item: A [300.000]  B [600.000]"), std::string::npos);
    EXPECT_NE(report.find("Further differences: 0 (in all 2 changed calls"), std::string::npos) << report;
}

TEST(Diff, SameSessionWithOtherAddressesHandlesAndIdsIsEqual) {
    std::string text = read_file(data_path("session-memory.txt"));
    std::string other = text;
    for (auto [from, to] : {std::pair<std::string, std::string>{"<0x0d100000>", "<0x7f001000>"},
                            {"<0x0012a4e0>", "<0x00aa0000>"},
                            {"    Id              = [1]", "    Id              = [77]"}}) {
        for (std::size_t p = other.find(from); p != std::string::npos; p = other.find(from, p + to.size()))
            other.replace(p, from.size(), to);
    }
    ASSERT_NE(text, other);
    Session a = Session::from_text(text);
    Session b = Session::from_text(other);
    std::ostringstream out;
    EXPECT_EQ(diff_sessions(a, b, out), 0u) << out.str();
    EXPECT_NE(out.str().find("do not differ"), std::string::npos);
}

TEST(Diff, MissingCallIsAlignedAroundAndLaterNumbersIgnored) {
    std::string text = read_file(data_path("session-memory.txt"));
    Session a = Session::from_text(text);
    Session b = Session::from_text(without_call(text, "00011"));
    ASSERT_EQ(b.calls.size(), a.calls.size() - 1);
    auto steps = align(a, b);
    ASSERT_EQ(count(steps, Aligned::OnlyA), 1u);
    EXPECT_EQ(count(steps, Aligned::Changed), 0u);
    EXPECT_EQ(count(steps, Aligned::OnlyB), 0u);
    for (const Aligned& s : steps) {
        if (s.kind == Aligned::OnlyA) {
            EXPECT_EQ(a.calls[s.a].triplet(), "DG_CONTROL/DAT_STATUS/MSG_GET");
        }
    }
}

TEST(Diff, DifferentStateAndReturnCodeAreDifferences) {
    std::string text = read_file(data_path("session-memory.txt"));
    std::string other = text;
    std::string rc = "        Return Code = [TWRC_XFERDONE]";
    other.replace(other.find(rc), rc.size(), "        Return Code = [TWRC_CANCEL]");
    auto diffs = compare_calls(*find_call(Session::from_text(text), "00020"),
                               *find_call(Session::from_text(other), "00020"));
    ASSERT_EQ(diffs.size(), 1u);
    EXPECT_EQ(diffs[0].path, "Return Code");
}
