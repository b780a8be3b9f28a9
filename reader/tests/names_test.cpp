// The reader's names: both directions, the TWAIN 2 names, "ERROR!(n)" texts,
// and the tables the data source picks by a value's range.
#include <gtest/gtest.h>

#include "trace/names.hpp"

using namespace tracelet::trace;

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
