// The lookups: the first row holding a value names it (the TWAIN 2 names are
// appended, so an older row wins), a value no row holds prints its number in
// the error text, and a capability is looked up in its CAP table first.
#include <gtest/gtest.h>

#include <string>

#include "analyzer/ParaAnalyze.h"

namespace {

template <size_t N>
std::string Named(const TwNameRow (&table)[N], uint64_t v) {
    char out[kNameSize];
    ValToName(table, N, v, out);
    return out;
}

std::string Cap(TW_UINT16 cap) {
    char out[kNameSize];
    CapToName(cap, out);
    return out;
}

TEST(NameTables, LookupsNameTheFirstRowOrPrintTheErrorTextWithTheNumber) {
    const std::pair<std::string, const char*> cases[] = {
        {Named(twlg_macros, 0), "TWLG_DAN"},
        {Named(twlg_macros, 2), "TWLG_ENG"},
        {Named(twss_macros, 1), "TWSS_A4LETTER"},
        {Named(twif_macros, 4), "TWIF_HIGHPASS"},
        {Named(twcy_macros, 39), "TWCY_ITALY"},
        {Named(dat_macros, 0x0403), "DAT_ENTRYPOINT"},
        {Named(msg_macros, 0x0902), "MSG_REGISTER_CALLBACK"},
        {Named(twrc_macros, 10), "TWRC_BUSY"},
        // CAP_CAMERASIDE and the deprecated CAP_POWERDOWNTIME share 0x1034.
        {Named(cap_macros, 0x1034), "CAP_CAMERASIDE"},
        // The all-ones row of the languages is never matched by a 16-bit
        // field, nor the ERROR! row by value; the number prints signed.
        {Named(twlg_macros, 0xFFFF), "ERROR!(65535)"},
        {Named(dat_macros, 0x0404), "ERROR!(1028)"},
        {Named(dg_macros, 0xFFFFFFFFu), "ERROR!(-1)"},
        {Named(twpt_macros, static_cast<uint64_t>(int64_t{-2147483647 - 1})), "ERROR!(-2147483648)"},
        {Named(twrc_macros, 0xFFFFFFFFFFFFFFFFull), "ERROR!(-1)"},
        {Cap(0x8000), "CAP_CUSTOMBASE"},
        {Cap(0x8004), "ICAP_NV_DRAFTSCAN"},
        {Cap(0x8043), "ICAP_NV_ADE"},
        {Cap(0x0101), "ICAP_PIXELTYPE"},
        {Cap(0x0001), "CAP_XFERCOUNT"},
        {Cap(0x1065), "ERROR!(4197)"},
        {Cap(0xFFFF), "ERROR!(65535)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.first, c.second);
}

}  // namespace
