// Capability dumps as a data source manager gets them: through DS_Entry,
// with the scripted companion answering each DAT_CAPABILITY call with a
// container in a handle of the layout being built, and the log read back
// byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ContainerBytes.h"
#include "DataSourceHarness.h"

namespace {

constexpr size_t kLogText = 5120;
const char kOverflowNote[] = "Size of CAP_xxx too long";
const std::string kGet = "[%05d] [APP] DG_CONTROL/DAT_CAPABILITY/MSG_GET (%s)\r\n";

// Has the companion answer the next calls with `cap` holding `h`.
TW_CAPABILITY Answer(LoadedDataSource& ds, TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE h) {
    TW_CAPABILITY answer{};
    answer.Cap = cap, answer.ConType = conType, answer.hContainer = h;
    ds.AnswerWith(&answer, sizeof answer);
    TW_CAPABILITY request{};
    request.Cap = cap;
    request.ConType = TWON_DONTCARE16;
    return request;
}

// An enumeration block's lines up to its item list.
std::string EnumerationLines(const char* type, const char* count, int current, int deflt) {
    return Lines({"    TW_ENUMERATION = {", Format("      ItemType     = [%s]", type),
                  Format("      NumItems     = [%s]", count), Format("      CurrentIndex = [%d]", current),
                  Format("      DefaultIndex = [%d]", deflt), "      ItemList = {"});
}
const std::string kListClose = Lines({"      }", "    }"});
const std::string kListEnd = kListClose + Lines({"  }"});

std::vector<unsigned char> With(std::vector<unsigned char> head, std::initializer_list<TW_UINT16> items) {
    for (TW_UINT16 x : items) Put(head, x);
    return head;
}

TEST(CapabilityTrace, EachContainerTypeIsTracedWithItsItems) {
    std::vector<unsigned char> text(34, 'Z');  // a TW_STR32 with no NUL, more text after its slot
    text.insert(text.end(), 40, 'Y');
    text.push_back(0);
    const struct {
        TW_UINT16 cap;
        const char* capName;
        TW_UINT16 conType;
        const char* conName;
        TW_UINT16 rc;
        std::vector<unsigned char> bytes;
        std::string block;
    } cases[] = {
        {ICAP_PIXELTYPE, "ICAP_PIXELTYPE", TWON_ENUMERATION, "TWON_ENUMERATION", TWRC_SUCCESS,
         With(EnumerationHead(TWTY_UINT16, 3, 2, 2), {0, 1, 2}),
         EnumerationLines("TWTY_UINT16", "3", 2, 2) +
             Lines({"          0:TWPT_BW,", "          1:TWPT_GRAY,", "          2:TWPT_RGB"}) + kListClose},
        // A vendor capability's value named through its own table.
        {CAP_NV_UIMODE, "CAP_NV_UIMODE", TWON_ONEVALUE, "TWON_ONEVALUE", TWRC_SUCCESS,
         OneValueOf<TW_UINT32>(TWTY_UINT16, 2),
         Lines({"    TW_ONEVALUE = {", "      ItemType = [TWTY_UINT16]", "      Item     = [TWNV_UI_EASY]", "    }"})},
        // Signed wholes, fractions that round.
        {ICAP_XRESOLUTION, "ICAP_XRESOLUTION", TWON_RANGE, "TWON_RANGE", TWRC_SUCCESS,
         Range(TWTY_FIX32, 0xFC18u, 0x80000000u | 1200, 1, 300, 0x4000FFFFu),
         Lines({"    TW_RANGE = {", "      ItemType     = [TWTY_FIX32]", "      MinValue     = [-1000.000]",
                "      MaxValue     = [1200.500]", "      StepSize     = [1.000]", "      DefaultValue = [300.000]",
                "      CurrentValue = [-0.750]", "    }"})},
        {CAP_SUPPORTEDCAPS, "CAP_SUPPORTEDCAPS", TWON_ARRAY, "TWON_ARRAY", TWRC_SUCCESS,
         With(ArrayHead(TWTY_UINT16, 3), {0x1005, 0x8001, 0x1201}),
         Lines({"    TW_ARRAY = {", "      ItemType = [TWTY_UINT16]", "      NumItems = [3]", "      ItemList = {",
                "          0:CAP_SUPPORTEDCAPS,", "          1:CAP_NV_VERSION,", "          2:ERROR!(4609)"}) + kListClose},
        {0x1201, "ERROR!(4609)", TWON_ENUMERATION, "TWON_ENUMERATION", TWRC_SUCCESS,
         With(EnumerationHead(TWTY_INT8, 2, 1, 0), {0x10FF}),  // the bytes 0xFF, 0x10
         EnumerationLines("TWTY_INT8", "2", 1, 0) + Lines({"          0:0xffffffff,", "          1:0x10"}) + kListClose},
        {0x1000, "CAP_AUTHOR", TWON_ONEVALUE, "TWON_ONEVALUE", TWRC_SUCCESS, OneValue(TWTY_STR32, text.data(), text.size()),
         Lines({"    TW_ONEVALUE = {", "      ItemType = [TWTY_STR32]", "      Item     = [" + std::string(34, 'Z') + "]", "    }"})},
        // A failed call shows no container.
        {ICAP_PIXELTYPE, "ICAP_PIXELTYPE", TWON_ENUMERATION, "TWON_ENUMERATION", TWRC_FAILURE,
         With(EnumerationHead(TWTY_UINT16, 1, 0, 0), {2}), ""},
    };
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    std::string expected;
    int seq = 0;
    for (const auto& c : cases) {
        Handle h(c.bytes);
        TW_CAPABILITY cap = Answer(ds, c.cap, c.conType, h.get());
        ds.control->rc = c.rc;
        EXPECT_EQ(ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), c.rc);
        const bool failed = c.rc == TWRC_FAILURE;
        expected += Format(kGet.c_str(), ++seq, c.capName) + ResultLines(failed ? "TWRC_FAILURE" : "TWRC_SUCCESS", &cap) +
                    CapabilityHead(c.capName, c.conName, h.get()) + c.block + Lines({"  }"}) +
                    (failed ? MarkerBlock() : StateLine(3));
    }
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(), expected);
}

// A result text of exactly the buffer is written whole; one byte more is cut
// there and followed by the note, with the next triplet on the same line.
TEST(CapabilityTrace, AResultOfExactly5120BytesIsWrittenWholeAndOneMoreByteIsCut) {
    for (size_t total : {kLogText, kLogText + 1}) {
        std::vector<std::string> texts(30);
        auto result = [&](TW_HANDLE h, const TW_CAPABILITY* p) {
            std::string s = ResultLines("TWRC_SUCCESS", p) + CapabilityHead("ICAP_PIXELTYPE", "TWON_ENUMERATION", h) +
                            EnumerationLines("TWTY_STR255", "30", 0, 0);
            for (size_t i = 0; i < texts.size(); ++i)
                s += Format("        %3zu:%s%s\r\n", i, texts[i].c_str(), i + 1 < texts.size() ? "," : "");
            return s + kListEnd + StateLine(3);
        };
        TW_CAPABILITY cap{};
        const size_t extra = total - result(nullptr, &cap).size();  // the handle's text has a fixed width
        for (size_t i = 0; i < texts.size(); ++i) texts[i].assign(extra / 30 + (i < extra % 30), char('A' + i));
        std::vector<unsigned char> bytes = EnumerationHead(TWTY_STR255, 30, 0, 0);
        for (const std::string& t : texts) PutText(bytes, t, sizeof(TW_STR255));
        Handle h(bytes);
        LoadedDataSource ds;
        cap = Answer(ds, ICAP_PIXELTYPE, TWON_ENUMERATION, h.get());
        ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
        ds.StopAnswering();
        ds.Call(DG_CONTROL, DAT_STATUS, MSG_GET, nullptr);
        ds.Unload();
        const std::string whole = result(h.get(), &cap);
        ASSERT_EQ(whole.size(), total);
        EXPECT_EQ(LoadedDataSource::Log(),
                  Format(kGet.c_str(), 1, "ICAP_PIXELTYPE") +
                      (total == kLogText ? whole : whole.substr(0, kLogText) + kOverflowNote) +
                      "[00002] [APP] DG_CONTROL/DAT_STATUS/MSG_GET\r\n" + ResultLines("TWRC_SUCCESS", nullptr) +
                      StateLine(3));
    }
}

TEST(CapabilityTrace, ALyingItemCountNeitherCrashesNorReadsPastWhatTheLayoutCanBound) {
#if defined(TRACELET_TWAIN_ABI_MACOS)
    const int items = 3;  // the block's size is known: only its three items are read
#else
    // The block's size cannot be known: the list runs until the log text
    // buffer is full. The block holds more items than a full buffer shows,
    // so a sanitized build proves that nothing past them is read.
    const int items = 400;
#endif
    std::vector<unsigned char> bytes = EnumerationHead(TWTY_UINT16, 0xFFFFFFFF, 0, 0);
    for (int i = 0; i < items; ++i) Put<TW_UINT16>(bytes, i % 3);
    Handle h(bytes);
    LoadedDataSource ds;
    TW_CAPABILITY cap = Answer(ds, ICAP_PIXELTYPE, TWON_ENUMERATION, h.get());
    ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
    ds.Unload();
    std::string whole = ResultLines("TWRC_SUCCESS", &cap) + CapabilityHead("ICAP_PIXELTYPE", "TWON_ENUMERATION", h.get()) +
                        EnumerationLines("TWTY_UINT16", "4294967295", 0, 0);
    const char* names[] = {"TWPT_BW", "TWPT_GRAY", "TWPT_RGB"};
    for (int i = 0; i < items; ++i) whole += Format("        %3d:%s,\r\n", i, names[i % 3]);
    const std::string triplet = Format(kGet.c_str(), 1, "ICAP_PIXELTYPE");
#if defined(TRACELET_TWAIN_ABI_MACOS)
    EXPECT_EQ(LoadedDataSource::Log(), triplet + whole + kListEnd + StateLine(3));
#else
    ASSERT_GT(whole.size(), kLogText);
    EXPECT_EQ(LoadedDataSource::Log(), triplet + whole.substr(0, kLogText) + kOverflowNote);
#endif
}

}  // namespace
