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

// Each row: a text gives its value; unless `one_way`, the value gives back
// the text the data source prints.
TEST(Names, NamesAndErrorTextsGiveTheirValuesAndBack) {
    struct Case {
        NameKind kind;
        const char* text;
        long long want;
        bool one_way = false;
    } cases[] = {
        {NameKind::Dat, "DAT_IMAGEINFO", 0x0101},
        {NameKind::Dat, "DAT_ENTRYPOINT", 0x0403},  // TWAIN 2
        {NameKind::Dat, "ERROR!(1027)", 0x0403, true},
        {NameKind::Msg, "MSG_RESETALL", 0x0a01},  // TWAIN 2
        // Vendor values come from the vendor tables, standard ones never do.
        {NameKind::Dat, "DAT_NV_AUTOEXPOSURE", 0x8001},
        {NameKind::Msg, "MSG_NV_TIMERRESET", 0x8001},
        {NameKind::Cap, "CAP_NV_VERSION", 0x8001},
        {NameKind::Cap, "ICAP_NV_FILMTYPE", 0x8003},
        {NameKind::Msg, "MSG_CUSTOMBASE", 0x8000},
        {NameKind::Rc, "ERROR!(32769)", 0x8001},
        {NameKind::Dat, "ERROR!(39321)", 0x9999},
        {NameKind::Dg, "DG_IMAGE", 2},
        {NameKind::Cap, "ICAP_PIXELTYPE", 0x0101},
        {NameKind::Cap, "CAP_FEEDERLOADED", 0x1003},
        {NameKind::Cap, "ERROR!(32768)", 0x8000, true},
        {NameKind::Rc, "TWRC_BUSY", 10},
        {NameKind::Cc, "TWCC_NOMEDIA", 29},
        // Where two rows name a value, the older one wins.
        {NameKind::Cap, "CAP_CAMERASIDE", 4148},
        {NameKind::Cap, "CAP_POWERDOWNTIME", 4148, true},
        // A 16-bit value printed as a signed number reads back as the same value.
        {NameKind::Msg, "ERROR!(-1)", 0xffff, true},
        // Names of another kind, and texts that are no name, are unknown.
        {NameKind::Dat, "MSG_GET", -1},
        {NameKind::Msg, "DAT_CAPABILITY", -1},
        {NameKind::Dat, "ERROR!(x)", -1},
        {NameKind::Dat, "ERROR!()", -1},
        {NameKind::Dat, "ERROR!(12", -1},
        {NameKind::Dat, "", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.want, code(c.kind, c.text)) << c.text;
        if (c.want >= 0 && !c.one_way) {
            EXPECT_EQ(c.text, name_of(c.kind, static_cast<std::uint32_t>(c.want)));
        }
    }
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
// it: every DG, DAT, MSG, capability and return code as "ERROR!(n)".
// `changed` counts the names replaced.
std::string numbered(const std::string& text, int& changed) {
    static const std::regex name(R"(\b(DG|DAT|MSG|I?CAP|TWRC)_[A-Z0-9_]+)");
    const std::pair<const char*, NameKind> kinds[] = {
        {"DG_", NameKind::Dg}, {"DAT_", NameKind::Dat}, {"MSG_", NameKind::Msg}, {"TWRC_", NameKind::Rc}};
    std::string out;
    std::size_t last = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), name), end; it != end; ++it) {
        NameKind kind = NameKind::Cap;
        for (const auto& [prefix, k] : kinds)
            if (it->str().rfind(prefix, 0) == 0) kind = k;
        const long long v = code(kind, it->str());
        changed += v >= 0;
        out += text.substr(last, it->position() - last) +
               (v < 0 ? it->str() : "ERROR!(" + std::to_string(static_cast<std::int32_t>(v)) + ")");
        last = it->position() + it->length();
    }
    return out + text.substr(last);
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
