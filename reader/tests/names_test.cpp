// The reader's names: both directions, the TWAIN 2 names, "ERROR!(n)" texts,
// the tables the data source picks by a value's range, and logs that print
// numbers where other logs print names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

#include "test_support.hpp"
#include "trace/check.hpp"
#include "trace/names.hpp"
#include "trace/session.hpp"
#include "trace/states.hpp"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;

TEST(Names, NamesAndErrorTextsGiveTheirValues) {
    struct Case {
        NameKind kind;
        const char* text;
        long long want;
    } cases[] = {
        {NameKind::Dat, "DAT_IMAGEINFO", 0x0101},
        {NameKind::Dat, "DAT_ENTRYPOINT", 0x0403},  // TWAIN 2
        {NameKind::Dat, "ERROR!(1027)", 0x0403},
        {NameKind::Dat, "DAT_NV_AUTOEXPOSURE", 0x8001},
        {NameKind::Msg, "MSG_RESETALL", 0x0a01},  // TWAIN 2
        {NameKind::Msg, "MSG_NV_TIMERRESET", 0x8001},
        {NameKind::Dg, "DG_IMAGE", 2},
        {NameKind::Cap, "ICAP_PIXELTYPE", 0x0101},
        {NameKind::Cap, "CAP_FEEDERLOADED", 0x1003},
        {NameKind::Cap, "ERROR!(32768)", 0x8000},
        {NameKind::Rc, "TWRC_BUSY", 10},
        {NameKind::Cc, "TWCC_NOMEDIA", 29},
        // A 16-bit value printed as a signed number reads back as the same value.
        {NameKind::Msg, "ERROR!(-1)", 0xffff},
        // Names of another kind, and texts that are no name, are unknown.
        {NameKind::Dat, "MSG_GET", -1},
        {NameKind::Msg, "DAT_CAPABILITY", -1},
        {NameKind::Dat, "ERROR!(x)", -1},
        {NameKind::Dat, "ERROR!()", -1},
        {NameKind::Dat, "ERROR!(12", -1},
        {NameKind::Dat, "", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.want, code(c.kind, c.text)) << c.text;
}

TEST(Names, ValuesGiveTheNamesTheDataSourcePrints) {
    EXPECT_EQ("DAT_ENTRYPOINT", name_of(NameKind::Dat, 0x0403));
    EXPECT_EQ("MSG_RESETALL", name_of(NameKind::Msg, 0x0a01));
    // Vendor values come from the vendor tables, standard ones never do.
    EXPECT_EQ("DAT_NV_AUTOEXPOSURE", name_of(NameKind::Dat, 0x8001));
    EXPECT_EQ("CAP_NV_VERSION", name_of(NameKind::Cap, 0x8001));
    EXPECT_EQ("ICAP_NV_FILMTYPE", name_of(NameKind::Cap, 0x8003));
    EXPECT_EQ("MSG_CUSTOMBASE", name_of(NameKind::Msg, 0x8000));
    EXPECT_EQ("ERROR!(32769)", name_of(NameKind::Rc, 0x8001));
    EXPECT_EQ("ERROR!(39321)", name_of(NameKind::Dat, 0x9999));
    // Where two rows name a value, the older one wins.
    EXPECT_EQ("CAP_CAMERASIDE", name_of(NameKind::Cap, 4148));
    EXPECT_EQ(4148, cap_code("CAP_POWERDOWNTIME"));
    EXPECT_EQ(4148, cap_code("CAP_CAMERASIDE"));
}

TEST(Names, AnyConstantByNameAndByTable) {
    EXPECT_EQ(1, constant_value("TWPT_GRAY"));
    EXPECT_EQ(3, constant_value("TWON_ARRAY"));
    EXPECT_EQ(4, constant_value("TWTY_UINT16"));
    EXPECT_EQ(16, constant_value("TWQC_RESET"));
    EXPECT_EQ(7, constant_value("ERROR!(7)"));
    EXPECT_FALSE(constant_value("TWPT_PURPLE"));
    EXPECT_EQ("TWPT_RGB", constant_name("twpt_macros", 2));
    EXPECT_EQ("", constant_name("twpt_macros", 99));
    EXPECT_EQ("", constant_name("no_such_macros", 2));
    EXPECT_TRUE(same_constant("TWPT_GRAY", "ERROR!(1)"));
    EXPECT_FALSE(same_constant("TWPT_GRAY", "TWPT_RGB"));
    EXPECT_FALSE(same_constant("[odd]", "[even]"));
    EXPECT_TRUE(same_constant("[odd]", "[odd]"));
}

namespace {

// The log as a data source whose tables knew none of its names would print
// it: every DG, DAT, MSG, capability, return code and event message as
// "ERROR!(n)". `changed` counts the names replaced.
std::string numbered(const std::string& text, int& changed) {
    auto as_error = [&](NameKind kind, const std::string& name) {
        long long v = code(kind, name);
        if (v < 0) return name;
        ++changed;
        return "ERROR!(" + std::to_string(static_cast<std::int32_t>(v)) + ")";
    };
    auto triplet = [&](const std::string& t) {
        std::smatch m;
        static const std::regex parts(R"(([^/]+)/([^/]+)/([^/ ]+)(?: \((.+)\))?)");
        if (!std::regex_match(t, m, parts)) return t;
        std::string out = as_error(NameKind::Dg, m[1]) + "/" + as_error(NameKind::Dat, m[2]) + "/" +
                          as_error(NameKind::Msg, m[3]);
        return m[4].matched ? out + " (" + as_error(NameKind::Cap, m[4]) + ")" : out;
    };
    static const std::regex call_line(R"(^(\[\d+\] \[\w+\] )(.*)$)");
    static const std::regex field(R"(^(\s+(Return Code|During|TWMessage|Cap)\s*= \[)(.*)\]$)");
    std::istringstream in(text);
    std::string out, line;
    while (std::getline(in, line)) {
        bool cr = !line.empty() && line.back() == '\r';
        if (cr) line.pop_back();
        std::smatch m;
        if (std::regex_match(line, m, call_line)) {
            line = m.str(1) + triplet(m.str(2));
        } else if (std::regex_match(line, m, field)) {
            const std::string what = m.str(2), value = m.str(3);
            line = m.str(1) +
                   (what == "During"       ? triplet(value)
                    : what == "Return Code" ? as_error(NameKind::Rc, value)
                    : what == "TWMessage"   ? as_error(NameKind::Msg, value)
                                            : as_error(NameKind::Cap, value)) +
                   "]";
        }
        out += line + (cr ? "\r\n" : "\n");
    }
    return out;
}

// What a reading gives that does not depend on how the log printed a name:
// each call's states and the rules it breaks.
std::string reading(const Session& s) {
    std::ostringstream out;
    SessionStates states;
    Checker checker([&](const Finding& f) { out << "  finding " << f.call << " " << f.rule << "\n"; });
    for (const Call& c : s.calls) {
        SessionStates::Step st = states.step(c);
        out << c.id() << " " << st.previous << ">" << st.before << ">" << st.after << " sent in " << st.sent_in
            << (st.inferred ? " inferred" : "") << (st.corrected ? " corrected" : "") << "\n";
        checker.feed(c);
    }
    checker.finish();
    return out.str();
}

}  // namespace

TEST(Names, LogsPrintedWithNumbersReadAsTheSameLogsWithNames) {
    std::vector<std::string> logs = {data_path("session-memory.txt"), data_path("session-native.txt"),
                                     data_path("reconstructed/callback-memory-notified/Twainlog_20261206_231502_0417.txt")};
    for (const char* dir : {"check", "real"})
        for (const auto& e : std::filesystem::directory_iterator(data_path(dir)))
            if (e.path().extension() == ".txt") logs.push_back(e.path().string());
    std::sort(logs.begin(), logs.end());
    int findings = 0;
    for (const std::string& path : logs) {
        SCOPED_TRACE(path);
        const std::string text = read_file(path);
        int changed = 0;
        const std::string numbers = numbered(text, changed);
        ASSERT_GT(changed, 0);
        const std::string want = reading(Session::from_text(text));
        EXPECT_EQ(want, reading(Session::from_text(numbers)));
        findings += want.find("finding") != std::string::npos;
    }
    EXPECT_GT(findings, 5) << "the logs break rules for the comparison to mean something";
}
