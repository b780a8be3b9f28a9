// Capability dumps as a data source manager gets them: through DS_Entry,
// with the scripted companion answering each DAT_CAPABILITY call with a
// container it allocates, and the log read back byte for byte.
#include <gtest/gtest.h>

#include <stddef.h>
#include <string.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "ContainerBytes.h"
#include "DataSourceHarness.h"
#include "LogText.h"
#include "tracelet/twain_memory.h"

namespace {

constexpr size_t kLogText = 5120;
const char kOverflowNote[] = "Size of CAP_xxx too long";

// What the companion answers: a container type and the bytes of the
// container, put into a new handle of the layout being built. The
// application (the test) disposes of the handle, as TWAIN has it.
struct Answer {
    TW_UINT16 conType = TWON_ONEVALUE;
    std::vector<unsigned char> bytes;
    std::vector<TW_HANDLE> handles;
    ~Answer() {
        for (TW_HANDLE h : handles) TwainDisposeHandle(h);
    }
};

void FillCapability(void* context, TW_UINT32, TW_UINT16 DAT, TW_UINT16, TW_MEMREF pData) {
    Answer* answer = static_cast<Answer*>(context);
    if (DAT != DAT_CAPABILITY || !pData) return;
    TW_HANDLE h = HandleOf(answer->bytes);
    answer->handles.push_back(h);
    TW_CAPABILITY cap;
    memcpy(&cap, pData, sizeof cap);
    cap.ConType = answer->conType;
    cap.hContainer = h;
    memcpy(pData, &cap, sizeof cap);
}

void Script(LoadedDataSource& ds, Answer& answer, TW_UINT16 rc = TWRC_SUCCESS) {
    ds.control->rc = rc;
    ds.control->fill = FillCapability;
    ds.control->context = &answer;
}

std::string Triplet(long seq, const char* names) { return Format("[%05ld] [APP] %s\r\n", seq, names); }

unsigned Low32(TW_HANDLE h) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(h) & 0xFFFFFFFFu); }

std::string CapabilityHead(const char* cap, const char* conType, TW_HANDLE h) {
    return Lines({"  TW_CAPABILITY = {", Format("    Cap        = [%s]", cap),
                  Format("    ConType    = [%s]", conType), Format("    hContainer = <0x%08x>", Low32(h))});
}

TW_CAPABILITY Request(TW_UINT16 cap) {
    TW_CAPABILITY c;
    memset(&c, 0, sizeof c);
    c.Cap = cap;
    c.ConType = TWON_DONTCARE16;
    return c;
}

std::vector<unsigned char> EnumerationHead(TW_UINT16 type, TW_UINT32 count, TW_UINT32 current,
                                           TW_UINT32 deflt) {
    TW_ENUMERATION e{};
    e.ItemType = type;
    e.NumItems = count;
    e.CurrentIndex = current;
    e.DefaultIndex = deflt;
    return Head(e, offsetof(TW_ENUMERATION, ItemList));
}

std::vector<unsigned char> OneValue(TW_UINT16 type, const void* item, size_t bytes) {
    TW_ONEVALUE o;
    memset(&o, 0, sizeof o);
    o.ItemType = type;
    std::vector<unsigned char> v(std::max(sizeof o, offsetof(TW_ONEVALUE, Item) + bytes), 0);
    memcpy(v.data(), &o, sizeof o);
    memcpy(v.data() + offsetof(TW_ONEVALUE, Item), item, bytes);
    return v;
}

std::string EnumerationBlock(const char* itemType, TW_UINT32 count, TW_UINT32 current, TW_UINT32 deflt,
                             const std::vector<std::string>& items, bool listEnds = true) {
    std::string s = Lines({"    TW_ENUMERATION = {", Format("      ItemType     = [%s]", itemType),
                           Format("      NumItems     = [%u]", count), Format("      CurrentIndex = [%u]", current),
                           Format("      DefaultIndex = [%u]", deflt), "      ItemList = {"});
    for (size_t i = 0; i < items.size(); ++i)
        s += Format("        %3zu:%s%s\r\n", i, items[i].c_str(), i + 1 < items.size() || !listEnds ? "," : "");
    return s + Lines({"      }", "    }"});
}

// An enumeration of TW_STR255 texts of ICAP_PIXELTYPE: bytes and the
// result text it gets, its state line included.
std::vector<unsigned char> TextEnumeration(const std::vector<std::string>& texts) {
    std::vector<unsigned char> v = EnumerationHead(TWTY_STR255, static_cast<TW_UINT32>(texts.size()), 0, 0);
    for (const std::string& t : texts) {
        std::vector<unsigned char> slot(sizeof(TW_STR255), 0);
        memcpy(slot.data(), t.data(), t.size());
        v.insert(v.end(), slot.begin(), slot.end());
    }
    return v;
}
std::string TextEnumerationResult(const TW_CAPABILITY* pData, TW_HANDLE h, const std::vector<std::string>& texts) {
    return ResultLines("TWRC_SUCCESS", pData) + CapabilityHead("ICAP_PIXELTYPE", "TWON_ENUMERATION", h) +
           EnumerationBlock("TWTY_STR255", static_cast<TW_UINT32>(texts.size()), 0, 0, texts) + Lines({"  }"}) +
           StateLine(3);
}

// Texts for `n` items whose result text is exactly `total` bytes long.
std::vector<std::string> TextsForResultOf(size_t total, size_t n, const TW_CAPABILITY* pData, TW_HANDLE h) {
    std::vector<std::string> texts(n);
    const size_t base = TextEnumerationResult(pData, h, texts).size();
    const size_t extra = total - base;
    for (size_t i = 0; i < n; ++i) texts[i].assign(extra / n + (i < extra % n ? 1 : 0), static_cast<char>('a' + i % 26));
    return texts;
}

// ---------------------------------------------------------------------------

TEST(CapabilityTrace, TheWorkedEnumerationExampleIsWrittenByteForByte) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    Answer answer;
    answer.conType = TWON_ENUMERATION;
    answer.bytes = EnumerationHead(TWTY_UINT16, 3, 2, 2);
    for (TW_UINT16 x : {0, 1, 2}) Put(answer.bytes, x);
    Script(ds, answer);

    TW_CAPABILITY cap = Request(ICAP_PIXELTYPE);
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS);
    ds.Unload();
    ASSERT_EQ(answer.handles.size(), 1u);
    const TW_HANDLE h = answer.handles[0];
    EXPECT_EQ(LoadedDataSource::Log(),
              Triplet(1, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (ICAP_PIXELTYPE)") + ResultLines("TWRC_SUCCESS", &cap) +
                  Lines({"  TW_CAPABILITY = {", "    Cap        = [ICAP_PIXELTYPE]",
                         "    ConType    = [TWON_ENUMERATION]", Format("    hContainer = <0x%08x>", Low32(h)),
                         "    TW_ENUMERATION = {", "      ItemType     = [TWTY_UINT16]", "      NumItems     = [3]",
                         "      CurrentIndex = [2]", "      DefaultIndex = [2]", "      ItemList = {",
                         "          0:TWPT_BW,", "          1:TWPT_GRAY,", "          2:TWPT_RGB", "      }", "    }",
                         "  }"}) +
                  StateLine(3));
}

TEST(CapabilityTrace, EachContainerTypeIsTracedWithItsItems) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    Answer answer;
    Script(ds, answer);
    std::string expected;

    // A vendor one-value named through its capability's value table.
    answer.conType = TWON_ONEVALUE;
    const TW_UINT32 easy = 2;
    answer.bytes = OneValue(TWTY_UINT16, &easy, sizeof easy);
    TW_CAPABILITY uiMode = Request(CAP_NV_UIMODE);
    ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &uiMode);
    expected += Triplet(1, "DG_CONTROL/DAT_CAPABILITY/MSG_GETCURRENT (CAP_NV_UIMODE)") +
                ResultLines("TWRC_SUCCESS", &uiMode) +
                CapabilityHead("CAP_NV_UIMODE", "TWON_ONEVALUE", answer.handles.back()) +
                Lines({"    TW_ONEVALUE = {", "      ItemType = [TWTY_UINT16]", "      Item     = [TWNV_UI_EASY]",
                       "    }", "  }"}) +
                StateLine(3);

    // A range of TW_FIX32.
    answer.conType = TWON_RANGE;
    TW_RANGE range;
    memset(&range, 0, sizeof range);
    range.ItemType = TWTY_FIX32;
    range.MinValue = 0xFC18u;          // Whole -1000, Frac 0
    range.MaxValue = 0x80000000u | 1200;  // 1200.5
    range.StepSize = 1;
    range.DefaultValue = 300;
    range.CurrentValue = 0x4000FFFFu;  // -1 + 0.25
    answer.bytes.assign(reinterpret_cast<unsigned char*>(&range), reinterpret_cast<unsigned char*>(&range) + sizeof range);
    TW_CAPABILITY xres = Request(ICAP_XRESOLUTION);
    ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &xres);
    expected += Triplet(2, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (ICAP_XRESOLUTION)") +
                ResultLines("TWRC_SUCCESS", &xres) +
                CapabilityHead("ICAP_XRESOLUTION", "TWON_RANGE", answer.handles.back()) +
                Lines({"    TW_RANGE = {", "      ItemType     = [TWTY_FIX32]", "      MinValue     = [-1000.000]",
                       "      MaxValue     = [1200.500]", "      StepSize     = [1.000]",
                       "      DefaultValue = [300.000]", "      CurrentValue = [-0.750]", "    }", "  }"}) +
                StateLine(3);

    // An array of supported capabilities.
    answer.conType = TWON_ARRAY;
    TW_ARRAY array;
    memset(&array, 0, sizeof array);
    array.ItemType = TWTY_UINT16;
    array.NumItems = 3;
    answer.bytes.assign(reinterpret_cast<unsigned char*>(&array),
                        reinterpret_cast<unsigned char*>(&array) + offsetof(TW_ARRAY, ItemList));
    for (TW_UINT16 c : {TW_UINT16(0x1005), TW_UINT16(0x8001), TW_UINT16(0x1201)}) Put(answer.bytes, c);
    TW_CAPABILITY supported = Request(CAP_SUPPORTEDCAPS);
    ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &supported);
    expected += Triplet(3, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (CAP_SUPPORTEDCAPS)") +
                ResultLines("TWRC_SUCCESS", &supported) +
                CapabilityHead("CAP_SUPPORTEDCAPS", "TWON_ARRAY", answer.handles.back()) +
                Lines({"    TW_ARRAY = {", "      ItemType = [TWTY_UINT16]", "      NumItems = [3]",
                       "      ItemList = {", "          0:CAP_SUPPORTEDCAPS,", "          1:CAP_NV_VERSION,",
                       "          2:ERROR!(4609)", "      }", "    }", "  }"}) +
                StateLine(3);

    // An enumeration of signed bytes and one of booleans.
    answer.conType = TWON_ENUMERATION;
    answer.bytes = EnumerationHead(TWTY_INT8, 2, 1, 0);
    Put<uint8_t>(answer.bytes, 0xFF);
    Put<uint8_t>(answer.bytes, 0x10);
    TW_CAPABILITY bytes = Request(0x1201);
    ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &bytes);
    expected += Triplet(4, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (ERROR!(4609))") +
                ResultLines("TWRC_SUCCESS", &bytes) +
                CapabilityHead("ERROR!(4609)", "TWON_ENUMERATION", answer.handles.back()) +
                EnumerationBlock("TWTY_INT8", 2, 1, 0, {"0xffffffff", "0x10"}) + Lines({"  }"}) + StateLine(3);

    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(), expected);
}

TEST(CapabilityTrace, AFailedCallShowsNoContainerThenTheMarkerBlock) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    Answer answer;
    answer.conType = TWON_ENUMERATION;
    answer.bytes = EnumerationHead(TWTY_UINT16, 1, 0, 0);
    Put<TW_UINT16>(answer.bytes, 2);
    Script(ds, answer, TWRC_FAILURE);

    TW_CAPABILITY cap = Request(ICAP_PIXELTYPE);
    EXPECT_EQ(ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_FAILURE);
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(),
              Triplet(1, "DG_CONTROL/DAT_CAPABILITY/MSG_SET (ICAP_PIXELTYPE)") + ResultLines("TWRC_FAILURE", &cap) +
                  CapabilityHead("ICAP_PIXELTYPE", "TWON_ENUMERATION", answer.handles[0]) + Lines({"  }"}) +
                  MarkerBlock());
}

TEST(CapabilityTrace, AResultLongerThanTheBufferIsCutAndTheNextTripletFollowsOnTheSameLine) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    Answer answer;
    Script(ds, answer);

    std::vector<std::string> texts;
    for (int i = 0; i < 30; ++i) texts.push_back(std::string(200, static_cast<char>('A' + i % 26)));
    answer.conType = TWON_ENUMERATION;
    answer.bytes = TextEnumeration(texts);
    TW_CAPABILITY first = Request(ICAP_PIXELTYPE);
    ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &first);
    const std::string whole = TextEnumerationResult(&first, answer.handles[0], texts);
    ASSERT_GT(whole.size(), kLogText);

    answer.conType = TWON_ONEVALUE;
    const TW_UINT32 rgb = 2;
    answer.bytes = OneValue(TWTY_UINT16, &rgb, sizeof rgb);
    TW_CAPABILITY next = Request(ICAP_PIXELTYPE);
    ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &next);
    ds.Unload();

    EXPECT_EQ(LoadedDataSource::Log(),
              Triplet(1, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (ICAP_PIXELTYPE)") + whole.substr(0, kLogText) +
                  kOverflowNote + Triplet(2, "DG_CONTROL/DAT_CAPABILITY/MSG_GETCURRENT (ICAP_PIXELTYPE)") +
                  ResultLines("TWRC_SUCCESS", &next) +
                  CapabilityHead("ICAP_PIXELTYPE", "TWON_ONEVALUE", answer.handles[1]) +
                  Lines({"    TW_ONEVALUE = {", "      ItemType = [TWTY_UINT16]", "      Item     = [TWPT_RGB]",
                         "    }", "  }"}) +
                  StateLine(3));
}

TEST(CapabilityTrace, AResultOfExactly5120BytesIsWrittenWholeAndOneMoreByteIsCut) {
    for (size_t total : {kLogText, kLogText + 1}) {
        LoadedDataSource ds;
        ASSERT_NE(ds.control, nullptr);
        Answer answer;
        Script(ds, answer);
        answer.conType = TWON_ENUMERATION;
        // The handle's text has a fixed width, so its value does not change the length.
        TW_CAPABILITY cap = Request(ICAP_PIXELTYPE);
        const std::vector<std::string> texts = TextsForResultOf(total, 30, &cap, nullptr);
        answer.bytes = TextEnumeration(texts);
        ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
        ds.Unload();
        const std::string whole = TextEnumerationResult(&cap, answer.handles[0], texts);
        ASSERT_EQ(whole.size(), total);
        const std::string triplet = Triplet(1, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (ICAP_PIXELTYPE)");
        if (total == kLogText)
            EXPECT_EQ(LoadedDataSource::Log(), triplet + whole);
        else
            EXPECT_EQ(LoadedDataSource::Log(), triplet + whole.substr(0, kLogText) + kOverflowNote);
    }
}

TEST(CapabilityTrace, AnUnterminatedTextIsReadNoFurtherThanItsSlot) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    Answer answer;
    Script(ds, answer);
    // A TW_STR32 item of 34 'Z' with no NUL, and more text after it in the block.
    std::vector<unsigned char> item(34, 'Z');
    item.insert(item.end(), 40, 'Y');
    item.push_back(0);
    answer.conType = TWON_ONEVALUE;
    answer.bytes = OneValue(TWTY_STR32, item.data(), item.size());
    TW_CAPABILITY cap = Request(0x1000);
    ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(),
              Triplet(1, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (CAP_AUTHOR)") + ResultLines("TWRC_SUCCESS", &cap) +
                  CapabilityHead("CAP_AUTHOR", "TWON_ONEVALUE", answer.handles[0]) +
                  Lines({"    TW_ONEVALUE = {", "      ItemType = [TWTY_STR32]",
                         "      Item     = [" + std::string(34, 'Z') + "]", "    }", "  }"}) +
                  StateLine(3));
}

TEST(CapabilityTrace, ALyingItemCountNeitherCrashesNorReadsPastWhatTheLayoutCanBound) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    Answer answer;
    Script(ds, answer);
    answer.conType = TWON_ENUMERATION;
    answer.bytes = EnumerationHead(TWTY_UINT16, 0xFFFFFFFF, 0, 0);
    TW_CAPABILITY cap = Request(ICAP_PIXELTYPE);
    const std::string triplet = Triplet(1, "DG_CONTROL/DAT_CAPABILITY/MSG_GET (ICAP_PIXELTYPE)");
#if defined(TRACELET_TWAIN_ABI_MACOS)
    // The block holds three items: only they are read and listed.
    for (TW_UINT16 x : {0, 1, 2}) Put(answer.bytes, x);
    ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(),
              triplet + ResultLines("TWRC_SUCCESS", &cap) +
                  CapabilityHead("ICAP_PIXELTYPE", "TWON_ENUMERATION", answer.handles[0]) +
                  EnumerationBlock("TWTY_UINT16", 0xFFFFFFFF, 0, 0, {"TWPT_BW", "TWPT_GRAY", "TWPT_RGB"}, false) +
                  Lines({"  }"}) + StateLine(3));
#else
    // The block's size cannot be known: the list runs until the log text
    // buffer is full. The block holds more items than a full buffer shows,
    // so a sanitized build proves that nothing past them is read.
    for (TW_UINT16 x = 0; x < 400; ++x) Put<TW_UINT16>(answer.bytes, x % 3);
    ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
    ds.Unload();
    std::vector<std::string> items;
    for (int i = 0; i < 400; ++i) items.push_back(i % 3 == 0 ? "TWPT_BW" : i % 3 == 1 ? "TWPT_GRAY" : "TWPT_RGB");
    const std::string whole = ResultLines("TWRC_SUCCESS", &cap) +
                              CapabilityHead("ICAP_PIXELTYPE", "TWON_ENUMERATION", answer.handles[0]) +
                              EnumerationBlock("TWTY_UINT16", 0xFFFFFFFF, 0, 0, items, false);
    ASSERT_GT(whole.size(), kLogText);
    EXPECT_EQ(LoadedDataSource::Log(), triplet + whole.substr(0, kLogText) + kOverflowNote);
#endif
}

}  // namespace
