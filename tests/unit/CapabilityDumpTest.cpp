// Capability dumps: how one item, an item list and each capability
// container is rendered, and how far the rendering reads.
//
// Containers are built field by field through the layout being built (both
// layouts run these tests). Where a test is about how far a read goes, the
// container ends where an unreadable page begins, so a read past its end
// faults in every build, sanitized or not.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <stddef.h>
#include <string.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "analyzer/ForeignReader.h"
#include "analyzer/ParaAnalyze.h"
#include "tracelet/twain_memory.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers

constexpr TW_UINT16 kCapAuthor = 0x1000;  // CAP_AUTHOR

// An analyzer that appends into its own log text buffer.
struct Dump {
    CParaAnalyze a;
    char buf[kLogTextSize + 1] = {};
    explicit Dump(TW_UINT16 rc = TWRC_SUCCESS) {
        a.SetOutput(buf, kLogTextSize);
        a.m_RC = rc;
    }
    std::string Text() const { return buf; }
};

// Lines, each ended by CR LF.
std::string Lines(std::initializer_list<std::string> lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\r\n";
    return s;
}

std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char* format, ...) {
    char b[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(b, sizeof b, format, args);
    va_end(args);
    return b;
}

// Bytes whose end touches an unreadable page (PROT_NONE, or no mapping at
// all): reading one byte past the end faults.
class Guarded {
public:
    explicit Guarded(size_t size, bool unmapped = false) {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        length_ = ((size + page_ - 1) / page_ + 1) * page_;
        void* m = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) throw std::runtime_error("mmap");
        base_ = static_cast<unsigned char*>(m);
        if (unmapped)
            munmap(base_ + length_ - page_, page_);
        else
            mprotect(base_ + length_ - page_, page_, PROT_NONE);
        data_ = base_ + length_ - page_ - size;
    }
    Guarded(const std::vector<unsigned char>& bytes, bool unmapped = false) : Guarded(bytes.size(), unmapped) {
        if (!bytes.empty()) memcpy(data_, bytes.data(), bytes.size());
    }
    ~Guarded() { munmap(base_, length_); }  // an unmapped page in the range is no error
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;
    unsigned char* data() const { return data_; }

private:
    size_t page_ = 0, length_ = 0;
    unsigned char* base_ = nullptr;
    unsigned char* data_ = nullptr;
};

template <class T>
void Put(std::vector<unsigned char>& v, T x) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&x);
    v.insert(v.end(), b, b + sizeof x);
}

void PutText(std::vector<unsigned char>& v, const std::string& text, size_t width) {
    std::vector<unsigned char> slot(width, 0);
    memcpy(slot.data(), text.data(), std::min(text.size(), width));
    v.insert(v.end(), slot.begin(), slot.end());
}

TW_FIX32 Fix(TW_INT16 whole, TW_UINT16 frac = 0) {
    TW_FIX32 f;
    f.Whole = whole;
    f.Frac = frac;
    return f;
}

// The fields of each container before its items, as the layout lays them out.
std::vector<unsigned char> EnumerationHead(TW_UINT16 type, TW_UINT32 count, TW_UINT32 current,
                                           TW_UINT32 deflt) {
    TW_ENUMERATION e;
    memset(&e, 0, sizeof e);
    e.ItemType = type;
    e.NumItems = count;
    e.CurrentIndex = current;
    e.DefaultIndex = deflt;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&e);
    return std::vector<unsigned char>(b, b + offsetof(TW_ENUMERATION, ItemList));
}

std::vector<unsigned char> ArrayHead(TW_UINT16 type, TW_UINT32 count) {
    TW_ARRAY a;
    memset(&a, 0, sizeof a);
    a.ItemType = type;
    a.NumItems = count;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&a);
    return std::vector<unsigned char>(b, b + offsetof(TW_ARRAY, ItemList));
}

// A TW_ONEVALUE whose item bytes start at Item (and may run past the structure).
std::vector<unsigned char> OneValue(TW_UINT16 type, const void* item, size_t bytes) {
    TW_ONEVALUE o;
    memset(&o, 0, sizeof o);
    o.ItemType = type;
    std::vector<unsigned char> v(std::max(sizeof o, offsetof(TW_ONEVALUE, Item) + bytes), 0);
    memcpy(v.data(), &o, sizeof o);
    memcpy(v.data() + offsetof(TW_ONEVALUE, Item), item, bytes);
    return v;
}
template <class T>
std::vector<unsigned char> OneValueOf(TW_UINT16 type, T item) {
    return OneValue(type, &item, sizeof item);
}

std::vector<unsigned char> Range(TW_UINT16 type, TW_UINT32 min, TW_UINT32 max, TW_UINT32 step,
                                 TW_UINT32 deflt, TW_UINT32 current) {
    TW_RANGE r;
    memset(&r, 0, sizeof r);
    r.ItemType = type;
    r.MinValue = min;
    r.MaxValue = max;
    r.StepSize = step;
    r.DefaultValue = deflt;
    r.CurrentValue = current;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&r);
    return std::vector<unsigned char>(b, b + sizeof r);
}

template <class T>
TW_UINT32 Word(T x) {
    TW_UINT32 w = 0;
    memcpy(&w, &x, sizeof x);
    return w;
}

// A container handle of the layout being built, holding a copy of `bytes`.
class Handle {
public:
    explicit Handle(const std::vector<unsigned char>& bytes)
        : h_(TwainNewHandle(static_cast<TW_UINT32>(bytes.size()))) {
        if (!bytes.empty()) memcpy(TwainLockHandle(h_), bytes.data(), bytes.size());
        TwainUnlockHandle(h_);
    }
    ~Handle() { TwainDisposeHandle(h_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    TW_HANDLE get() const { return h_; }

private:
    TW_HANDLE h_;
};

// A handle of the layout being built over memory the test owns.
class BorrowedHandle {
public:
    BorrowedHandle(unsigned char* block, size_t size) {
#if defined(TRACELET_TWAIN_ABI_MACOS)
        record_.master = reinterpret_cast<char*>(block);
        record_.magic = kTwMasterPointerMagic;
        record_.size = size;
        h_ = &record_.master;
#else
        (void)size;
        h_ = block;
#endif
    }
    TW_HANDLE get() const { return h_; }
#if defined(TRACELET_TWAIN_ABI_MACOS)
    TwMasterPointerRecord record_{};
#endif

private:
    TW_HANDLE h_;
};

std::string CapabilityDump(TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE h, TW_UINT16 rc = TWRC_SUCCESS) {
    Dump d(rc);
    TW_CAPABILITY c;
    memset(&c, 0, sizeof c);
    c.Cap = cap;
    c.ConType = conType;
    c.hContainer = h;
    d.a.TwCapabilityAnalyze(&c);
    return d.Text();
}

std::string CapabilityHead(const char* cap, const char* conType, TW_HANDLE h) {
    return Lines({"  TW_CAPABILITY = {", Fmt("    Cap        = [%s]", cap),
                  Fmt("    ConType    = [%s]", conType), Fmt("    hContainer = <0x%08x>", Low32(h))});
}

// One item rendered by ValToStr from a zero-padded copy of `x`.
template <class T>
std::string ItemText(TW_UINT16 type, const T& x, TW_UINT16 cap = 0) {
    unsigned char raw[sizeof(TW_STR255) + 1] = {};
    memcpy(raw, &x, sizeof x);
    CParaAnalyze a;
    char text[512];
    memset(text, '#', sizeof text);
    a.ValToStr(cap, type, raw, text);
    return text;
}

std::string CapValue(TW_UINT16 cap, TW_UINT16 value) {
    CParaAnalyze a;
    char text[512];
    memset(text, '#', sizeof text);
    a.ValToCap(cap, value, text);
    return text;
}

// ---------------------------------------------------------------------------
// One item by its type

TEST(ItemRendering, SignedByteIsWidenedWithItsSignBeforePrintingInHex) {
    EXPECT_EQ(ItemText(TWTY_INT8, static_cast<uint8_t>(0xFF)), "0xffffffff");
    EXPECT_EQ(ItemText(TWTY_INT8, static_cast<uint8_t>(0x80)), "0xffffff80");
    EXPECT_EQ(ItemText(TWTY_INT8, static_cast<uint8_t>(0x7F)), "0x7f");
    EXPECT_EQ(ItemText(TWTY_INT8, static_cast<uint8_t>(0x05)), "0x05");
}

TEST(ItemRendering, UnsignedByteKeepsTwoHexDigits) {
    EXPECT_EQ(ItemText(TWTY_UINT8, static_cast<uint8_t>(0xFF)), "0xff");
    EXPECT_EQ(ItemText(TWTY_UINT8, static_cast<uint8_t>(0x0A)), "0x0a");
}

TEST(ItemRendering, IntegersOf16And32BitsPrintAsSignedDecimals) {
    EXPECT_EQ(ItemText(TWTY_INT16, static_cast<uint16_t>(0xFFFE)), "-2");
    EXPECT_EQ(ItemText(TWTY_INT16, static_cast<int16_t>(32767)), "32767");
    EXPECT_EQ(ItemText(TWTY_INT32, static_cast<int32_t>(-5)), "-5");
    EXPECT_EQ(ItemText(TWTY_INT32, static_cast<int32_t>(2147483647)), "2147483647");
    // An unsigned 32-bit item prints as signed.
    EXPECT_EQ(ItemText(TWTY_UINT32, static_cast<uint32_t>(0xFFFFFFFF)), "-1");
    EXPECT_EQ(ItemText(TWTY_UINT32, static_cast<uint32_t>(123456)), "123456");
    // A 16-bit item reads two bytes, not the word around it.
    EXPECT_EQ(ItemText(TWTY_INT16, static_cast<uint32_t>(0x12340005)), "5");
}

TEST(ItemRendering, BoolIsTrueForAnyNonZeroWord) {
    EXPECT_EQ(ItemText(TWTY_BOOL, static_cast<uint16_t>(0)), "false");
    EXPECT_EQ(ItemText(TWTY_BOOL, static_cast<uint16_t>(1)), "true");
    EXPECT_EQ(ItemText(TWTY_BOOL, static_cast<uint16_t>(0x0100)), "true");
    EXPECT_EQ(ItemText(TWTY_BOOL, static_cast<uint32_t>(0x00010000)), "false");  // two bytes only
}

TEST(ItemRendering, Fix32IsWholePlusFracOver65536WithThreeDecimals) {
    EXPECT_EQ(ItemText(TWTY_FIX32, Fix(300)), "300.000");
    EXPECT_EQ(ItemText(TWTY_FIX32, Fix(-1, 0x8000)), "-0.500");
    EXPECT_EQ(ItemText(TWTY_FIX32, Fix(1, 0x4000)), "1.250");
    EXPECT_EQ(ItemText(TWTY_FIX32, Fix(-1000)), "-1000.000");
    EXPECT_EQ(ItemText(TWTY_FIX32, Fix(0, 0xFFFF)), "1.000");  // 0.99998 rounds up
}

TEST(ItemRendering, FrameIsLeftTopRightBottom) {
    TW_FRAME f;
    f.Left = Fix(1, 0x8000);
    f.Top = Fix(2);
    f.Right = Fix(8, 0x8000);
    f.Bottom = Fix(-11);
    EXPECT_EQ(ItemText(TWTY_FRAME, f), "1.500,2.000,8.500,-11.000");
}

TEST(ItemRendering, TextItemsStopAtTheirNul) {
    char s[34] = "Hello";
    memcpy(s + 6, "junk", 4);
    EXPECT_EQ(ItemText(TWTY_STR32, s), "Hello");
    char empty[66] = {};
    EXPECT_EQ(ItemText(TWTY_STR64, empty), "");
}

TEST(ItemRendering, TextItemsWithoutNulStopAtTheirSlotWidth) {
    const struct {
        TW_UINT16 type;
        size_t width;
    } slots[] = {{TWTY_STR32, 34}, {TWTY_STR64, 66}, {TWTY_STR128, 130}, {TWTY_STR255, 256}};
    for (const auto& s : slots) {
        Guarded g(s.width);
        memset(g.data(), 'x', s.width);
        CParaAnalyze a;
        char text[512];
        a.ValToStr(0, s.type, g.data(), text);
        EXPECT_EQ(std::string(text), std::string(s.width, 'x')) << s.type;
    }
}

TEST(ItemRendering, UnknownTypesPrintTheWhole32BitFieldAsSignedDecimal) {
    EXPECT_EQ(ItemText(13, static_cast<uint32_t>(0x00010005)), "65541");
    EXPECT_EQ(ItemText(0xFFFF, static_cast<uint32_t>(0xFFFFFFFE)), "-2");
}

TEST(ItemRendering, NullItemGivesAnEmptyText) {
    CParaAnalyze a;
    char text[16] = "previous";
    a.ValToStr(0, TWTY_INT32, nullptr, text);
    EXPECT_STREQ(text, "");
}

// ---------------------------------------------------------------------------
// TW_UINT16 values named by their capability

TEST(NamedValues, StandardCapabilityValuesAreNamedThroughVALTOCAP) {
    EXPECT_EQ(CapValue(ICAP_PIXELTYPE, 2), "TWPT_RGB");
    EXPECT_EQ(CapValue(0x112C, 3), "TWBR_DIFFUSION");       // first row of the table
    EXPECT_EQ(CapValue(0x1149, 4), "TWOV_ALL");             // last row
    EXPECT_EQ(CapValue(0x1110, 3), "TWOR_ROT270");          // earlier of two rows wins
    EXPECT_EQ(CapValue(ICAP_SUPPORTEDSIZES, 1), "TWSS_A4LETTER");
    EXPECT_EQ(CapValue(0x1147, 4), "TWIF_HIGHPASS");
    EXPECT_EQ(CapValue(0x1201, 3), "TWAF_AU");              // a value table without a capability name
    // Through the item renderer.
    EXPECT_EQ(ItemText(TWTY_UINT16, static_cast<uint16_t>(1), ICAP_PIXELTYPE), "TWPT_GRAY");
}

TEST(NamedValues, AValueNoRowNamesIsItsErrorText) {
    EXPECT_EQ(CapValue(ICAP_PIXELTYPE, 9), "ERROR!(9)");
    EXPECT_EQ(CapValue(ICAP_PIXELTYPE, 0xFFFF), "ERROR!(65535)");
    EXPECT_EQ(CapValue(ICAP_SUPPORTEDSIZES, 8), "ERROR!(8)");
}

TEST(NamedValues, VendorCapabilityValuesAreNamedThroughVALTOCAPNV) {
    EXPECT_EQ(CapValue(ICAP_NV_FILMTYPE, 1), "TWNV_FT_NEGA");
    EXPECT_EQ(CapValue(CAP_NV_UIMODE, 2), "TWNV_UI_EASY");  // first row
    EXPECT_EQ(CapValue(0x803B, 1), "TWNV_FT_MPF");          // feeder type, FT infix
    EXPECT_EQ(CapValue(0x8081, 1), "TWNV_AUTOSIZE_LONG");   // last row
    EXPECT_EQ(CapValue(ICAP_NV_FILMTYPE, 7), "ERROR!(7)");
}

TEST(NamedValues, CapabilitiesWithoutAValueTablePrintTheNumber) {
    EXPECT_EQ(CapValue(CAP_LANGUAGE, 2), "2");
    EXPECT_EQ(CapValue(CAP_LANGUAGE, 65535), "65535");
    EXPECT_EQ(CapValue(CAP_NV_TPUENABLED, 3), "3");
    // 0x8000 is not a vendor capability: no version text.
    EXPECT_EQ(CapValue(0x8000, 0x0102), "258");
}

TEST(NamedValues, TheNameBufferHoldsTheLastTableText) {
    CParaAnalyze a;
    char text[64];
    a.ValToCap(ICAP_PIXELTYPE, 1, text);
    EXPECT_STREQ(a.m_szName, "TWPT_GRAY");
    a.ValToCap(ICAP_PIXELTYPE, 12, text);
    EXPECT_STREQ(a.m_szName, "ERROR!(12)");
    EXPECT_STREQ(text, "ERROR!(12)");
}

// ---------------------------------------------------------------------------
// CAP_SUPPORTEDCAPS items and the vendor version word

TEST(SupportedCaps, ItemsAreCapabilityNames) {
    EXPECT_EQ(CapValue(CAP_SUPPORTEDCAPS, 0x1005), "CAP_SUPPORTEDCAPS");
    EXPECT_EQ(CapValue(CAP_SUPPORTEDCAPS, 0x8001), "CAP_NV_VERSION");
    EXPECT_EQ(CapValue(CAP_SUPPORTEDCAPS, 0x1201), "ERROR!(4609)");
    EXPECT_EQ(CapValue(CAP_SUPPORTEDCAPS, 0), "");
    EXPECT_EQ(CapValue(CAP_SUPPORTEDCAPS, ICAP_PIXELTYPE), "ICAP_PIXELTYPE");  // the ICAP table
    EXPECT_EQ(CapValue(CAP_SUPPORTEDCAPS, 0x8000), "CAP_CUSTOMBASE");
    EXPECT_EQ(CapValue(CAP_SUPPORTEDCAPS, 0x8004), "ICAP_NV_DRAFTSCAN");
    EXPECT_EQ(CapValue(CAP_SUPPORTEDCAPS, 0x8043), "ICAP_NV_ADE");
}

TEST(SupportedCaps, MakeCapSupportedCapsWritesTheNameOrNothing) {
    CParaAnalyze a;
    char text[64];
    memset(text, '#', sizeof text);
    a.MakeCapSupportedCaps(0, text);
    EXPECT_STREQ(text, "");
    a.MakeCapSupportedCaps(0x800F, text);
    EXPECT_STREQ(text, "CAP_NV_UIMODE");
}

TEST(VendorVersion, VersionWordIsHighByteDotLowByteInHex) {
    CParaAnalyze a;
    char text[64];
    const struct {
        TW_UINT16 word;
        const char* text;
    } cases[] = {{0x0102, "1.2"}, {0x0A0B, "a.b"}, {0x0100, "1.0"}, {0xFFFF, "ff.ff"}, {0, "0.0"}};
    for (const auto& c : cases) {
        a.MakeCapNvVersion(c.word, text);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(CapValue(CAP_NV_VERSION, c.word), c.text);
    }
    EXPECT_EQ(ItemText(TWTY_UINT16, static_cast<uint16_t>(0x0A0B), CAP_NV_VERSION), "a.b");
}

// ---------------------------------------------------------------------------
// Item lists

std::string ItemList(TW_UINT16 cap, TW_UINT16 type, TW_UINT32 count, const void* items,
                     size_t bytes = SIZE_MAX) {
    Dump d;
    d.a.MakeItemList(cap, type, count, items, bytes);
    return d.Text();
}

TEST(ItemList, ThreeItemsHaveAThreeCharacterIndexAndCommasBetween) {
    const TW_UINT16 items[] = {0, 1, 2};
    EXPECT_EQ(ItemList(ICAP_PIXELTYPE, TWTY_UINT16, 3, items),
              Lines({"      ItemList = {", "          0:TWPT_BW,", "          1:TWPT_GRAY,",
                     "          2:TWPT_RGB", "      }"}));
}

TEST(ItemList, AnEmptyListHasOnlyItsOpeningAndClosingLines) {
    EXPECT_EQ(ItemList(ICAP_PIXELTYPE, TWTY_UINT16, 0, nullptr), Lines({"      ItemList = {", "      }"}));
}

TEST(ItemList, FramesAndUnknownTypesAreNotReadButMarkedNotImplemented) {
    // The items pointer is at the very end of readable memory: reading any
    // byte of an item would fault.
    Guarded g(0);
    const std::string two = Lines({"      ItemList = {", "          0:!!! not implemented.!!!,",
                                   "          1:!!! not implemented.!!!", "      }"});
    EXPECT_EQ(ItemList(ICAP_FRAMES, TWTY_FRAME, 2, g.data()), two);
    EXPECT_EQ(ItemList(ICAP_FRAMES, 13, 2, g.data()), two);
}

TEST(ItemList, ItemsAreReadAtTheirOwnWidthWhateverTheirAlignment) {
    // Items start at an odd address, back to back.
    std::vector<unsigned char> v(1, 0xEE);
    Put<TW_INT32>(v, -7);
    Put<TW_INT32>(v, 70000);
    EXPECT_EQ(ItemList(0, TWTY_INT32, 2, v.data() + 1),
              Lines({"      ItemList = {", "          0:-7,", "          1:70000", "      }"}));

    v.assign(1, 0xEE);
    Put(v, Fix(72));
    Put(v, Fix(-2, 0x4000));
    EXPECT_EQ(ItemList(ICAP_XRESOLUTION, TWTY_FIX32, 2, v.data() + 1),
              Lines({"      ItemList = {", "          0:72.000,", "          1:-1.750", "      }"}));

    v.assign(1, 0xEE);
    Put<uint8_t>(v, 0xFF);
    Put<uint8_t>(v, 0x01);
    EXPECT_EQ(ItemList(0, TWTY_INT8, 2, v.data() + 1),
              Lines({"      ItemList = {", "          0:0xffffffff,", "          1:0x01", "      }"}));

    v.clear();
    PutText(v, "first", 34);
    PutText(v, "second", 34);
    PutText(v, "third", 34);
    EXPECT_EQ(ItemList(kCapAuthor, TWTY_STR32, 3, v.data()),
              Lines({"      ItemList = {", "          0:first,", "          1:second,",
                     "          2:third", "      }"}));
}

TEST(ItemList, SupportedCapsArrayListsOneCapabilityNamePerItem) {
    std::vector<unsigned char> v = ArrayHead(TWTY_UINT16, 4);
    for (TW_UINT16 c : {TW_UINT16(0x1005), TW_UINT16(0x8001), TW_UINT16(0x1201), TW_UINT16(0)}) Put(v, c);
    Handle h(v);
    EXPECT_EQ(CapabilityDump(CAP_SUPPORTEDCAPS, TWON_ARRAY, h.get()),
              CapabilityHead("CAP_SUPPORTEDCAPS", "TWON_ARRAY", h.get()) +
                  Lines({"    TW_ARRAY = {", "      ItemType = [TWTY_UINT16]", "      NumItems = [4]",
                         "      ItemList = {", "          0:CAP_SUPPORTEDCAPS,", "          1:CAP_NV_VERSION,",
                         "          2:ERROR!(4609),", "          3:", "      }", "    }", "  }"}));
}

// ---------------------------------------------------------------------------
// The four containers

TEST(Containers, EnumerationOfPixelTypesMatchesTheWorkedExample) {
    std::vector<unsigned char> v = EnumerationHead(TWTY_UINT16, 3, 2, 2);
    for (TW_UINT16 x : {0, 1, 2}) Put(v, x);
    Handle h(v);
    EXPECT_EQ(CapabilityDump(ICAP_PIXELTYPE, TWON_ENUMERATION, h.get()),
              CapabilityHead("ICAP_PIXELTYPE", "TWON_ENUMERATION", h.get()) +
                  Lines({"    TW_ENUMERATION = {", "      ItemType     = [TWTY_UINT16]",
                         "      NumItems     = [3]", "      CurrentIndex = [2]", "      DefaultIndex = [2]",
                         "      ItemList = {", "          0:TWPT_BW,", "          1:TWPT_GRAY,",
                         "          2:TWPT_RGB", "      }", "    }", "  }"}));
}

TEST(Containers, EnumerationCountsPrintAsUnsignedDecimals) {
    std::vector<unsigned char> v = EnumerationHead(TWTY_UINT32, 0, 0xFFFFFFFF, 0x80000000);
    Handle h(v);
    const std::string text = CapabilityDump(CAP_XFERCOUNT, TWON_ENUMERATION, h.get());
    EXPECT_NE(text.find("      CurrentIndex = [4294967295]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("      DefaultIndex = [2147483648]\r\n"), std::string::npos) << text;
}

TEST(Containers, OneValueOfTheUiModeNamesItsVendorValue) {
    Handle h(OneValueOf<TW_UINT32>(TWTY_UINT16, 2));
    EXPECT_EQ(CapabilityDump(CAP_NV_UIMODE, TWON_ONEVALUE, h.get()),
              CapabilityHead("CAP_NV_UIMODE", "TWON_ONEVALUE", h.get()) +
                  Lines({"    TW_ONEVALUE = {", "      ItemType = [TWTY_UINT16]", "      Item     = [TWNV_UI_EASY]",
                         "    }", "  }"}));
}

TEST(Containers, OneValueOfTheVendorVersionPrintsTheDottedVersion) {
    Handle h(OneValueOf<TW_UINT32>(TWTY_UINT16, 0x0100));
    const std::string text = CapabilityDump(CAP_NV_VERSION, TWON_ONEVALUE, h.get());
    EXPECT_NE(text.find("    Cap        = [CAP_NV_VERSION]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("      Item     = [1.0]\r\n"), std::string::npos) << text;
}

TEST(Containers, OneValueTextAndFrameItemsStartAtItem) {
    char author[256] = "A. Scanner";
    Handle text(OneValue(TWTY_STR255, author, sizeof author));
    EXPECT_EQ(CapabilityDump(kCapAuthor, TWON_ONEVALUE, text.get()),
              CapabilityHead("CAP_AUTHOR", "TWON_ONEVALUE", text.get()) +
                  Lines({"    TW_ONEVALUE = {", "      ItemType = [TWTY_STR255]", "      Item     = [A. Scanner]",
                         "    }", "  }"}));

    TW_FRAME f;
    f.Left = Fix(0);
    f.Top = Fix(0, 0x8000);
    f.Right = Fix(8, 0x8000);
    f.Bottom = Fix(11);
    Handle frame(OneValueOf(TWTY_FRAME, f));
    const std::string dump = CapabilityDump(ICAP_FRAMES, TWON_ONEVALUE, frame.get());
    EXPECT_NE(dump.find("      Item     = [0.000,0.500,8.500,11.000]\r\n"), std::string::npos) << dump;
}

TEST(Containers, OneValueOfAnUnknownTypeShowsItsTypeErrorAndTheWholeItemField) {
    Handle h(OneValueOf<TW_UINT32>(13, 0x00020001));
    EXPECT_EQ(CapabilityDump(0x1201, TWON_ONEVALUE, h.get()),
              CapabilityHead("ERROR!(4609)", "TWON_ONEVALUE", h.get()) +
                  Lines({"    TW_ONEVALUE = {", "      ItemType = [ERROR!(13)]", "      Item     = [131073]",
                         "    }", "  }"}));
}

TEST(Containers, RangeOfFix32PrintsItsFiveFieldsInOrder) {
    Handle h(Range(TWTY_FIX32, Word(Fix(-1000)), Word(Fix(1200, 0x8000)), Word(Fix(1)), Word(Fix(300)),
                   Word(Fix(600))));
    EXPECT_EQ(CapabilityDump(ICAP_XRESOLUTION, TWON_RANGE, h.get()),
              CapabilityHead("ICAP_XRESOLUTION", "TWON_RANGE", h.get()) +
                  Lines({"    TW_RANGE = {", "      ItemType     = [TWTY_FIX32]", "      MinValue     = [-1000.000]",
                         "      MaxValue     = [1200.500]", "      StepSize     = [1.000]",
                         "      DefaultValue = [300.000]", "      CurrentValue = [600.000]", "    }", "  }"}));
}

TEST(Containers, RangeOfAnUnknownTypePrintsEachFieldAs32BitDecimal) {
    Handle h(Range(14, 0x10000, 0xFFFFFFFF, 1, 2, 3));
    const std::string text = CapabilityDump(ICAP_XRESOLUTION, TWON_RANGE, h.get());
    EXPECT_NE(text.find("      ItemType     = [ERROR!(14)]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("      MinValue     = [65536]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("      MaxValue     = [-1]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("      CurrentValue = [3]\r\n"), std::string::npos) << text;
}

TEST(Containers, RangeOfUint16NamesEachFieldByItsCapability) {
    Handle h(Range(TWTY_UINT16, 0, 8, 1, 2, 1));
    const std::string text = CapabilityDump(ICAP_PIXELTYPE, TWON_RANGE, h.get());
    EXPECT_NE(text.find("      MinValue     = [TWPT_BW]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("      MaxValue     = [TWPT_CIEXYZ]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("      DefaultValue = [TWPT_RGB]\r\n"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------
// A failed call, odd handles and odd container types

TEST(OddCapabilities, AFailedCallPrintsNoContainerBlockEvenWithAContainer) {
    std::vector<unsigned char> v = EnumerationHead(TWTY_UINT16, 1, 0, 0);
    Put<TW_UINT16>(v, 2);
    Handle h(v);
    EXPECT_EQ(CapabilityDump(ICAP_PIXELTYPE, TWON_ENUMERATION, h.get(), TWRC_FAILURE),
              CapabilityHead("ICAP_PIXELTYPE", "TWON_ENUMERATION", h.get()) + Lines({"  }"}));
    // Other return codes still show the container.
    EXPECT_NE(CapabilityDump(ICAP_PIXELTYPE, TWON_ENUMERATION, h.get(), TWRC_CHECKSTATUS).find("TW_ENUMERATION"),
              std::string::npos);
}

TEST(OddCapabilities, ANullHandlePrintsZeroAndNoContainerBlock) {
    EXPECT_EQ(CapabilityDump(ICAP_PIXELTYPE, TWON_ONEVALUE, nullptr),
              Lines({"  TW_CAPABILITY = {", "    Cap        = [ICAP_PIXELTYPE]", "    ConType    = [TWON_ONEVALUE]",
                     "    hContainer = <0x00000000>", "  }"}));
}

TEST(OddCapabilities, AContainerTypeOutsideTheFourPrintsItsNameAndNoContainerBlock) {
    Handle h(OneValueOf<TW_UINT32>(TWTY_UINT16, 2));
    EXPECT_EQ(CapabilityDump(ICAP_PIXELTYPE, TWON_DONTCARE16, h.get()),
              CapabilityHead("ICAP_PIXELTYPE", "TWON_DONTCARE16", h.get()) + Lines({"  }"}));
    EXPECT_EQ(CapabilityDump(ICAP_PIXELTYPE, 9, h.get()),
              CapabilityHead("ICAP_PIXELTYPE", "TWON_PROTOCOLMINOR", h.get()) + Lines({"  }"}));
    EXPECT_EQ(CapabilityDump(ICAP_PIXELTYPE, 7, h.get()),
              CapabilityHead("ICAP_PIXELTYPE", "ERROR!(7)", h.get()) + Lines({"  }"}));
}

TEST(OddCapabilities, AHandleAbove4GiBPrintsItsLow32Bits) {
    // Never dereferenced: the container type is none of the four, or the call failed.
    const TW_HANDLE high = reinterpret_cast<TW_HANDLE>(static_cast<uintptr_t>(0x0000001234ABCDEFull));
    EXPECT_EQ(CapabilityDump(ICAP_PIXELTYPE, TWON_DONTCARE16, high),
              Lines({"  TW_CAPABILITY = {", "    Cap        = [ICAP_PIXELTYPE]", "    ConType    = [TWON_DONTCARE16]",
                     "    hContainer = <0x34abcdef>", "  }"}));
    EXPECT_NE(CapabilityDump(ICAP_PIXELTYPE, TWON_ENUMERATION, high, TWRC_FAILURE).find("<0x34abcdef>"),
              std::string::npos);
}

TEST(OddCapabilities, NullStructuresWriteNothing) {
    Dump d;
    d.a.TwCapabilityAnalyze(nullptr);
    d.a.TwContainerAnalyaze(nullptr);
    d.a.TwArrayAnalyze(0, nullptr);
    d.a.TwEnumerationAnalyze(0, nullptr);
    d.a.TwOneValueAnalyze(0, nullptr);
    d.a.TwRangeAnalyze(0, nullptr);
    d.a.TwCapExtAnalyze(nullptr);
    EXPECT_EQ(d.Text(), "");
}

// ---------------------------------------------------------------------------
// TW_CAPEXT

std::string PropertiesText(TW_UINT16 properties) {
    Dump d;
    TW_CAPEXT x;
    x.Cap = ICAP_PIXELTYPE;
    x.Properties = properties;
    d.a.TwCapExtAnalyze(&x);
    const std::string text = d.Text();
    const std::string key = "    Properties = [";
    const size_t at = text.find(key);
    if (at == std::string::npos) return "<no Properties line>";
    return text.substr(at + key.size(), text.find("]\r\n", at) - at - key.size());
}

TEST(CapExt, BlockShowsTheCapabilityAndItsQueryFlags) {
    Dump d;
    TW_CAPEXT x;
    x.Cap = CAP_NV_UIMODE;
    x.Properties = TWQC_GET | TWQC_GETCURRENT;
    d.a.TwCapExtAnalyze(&x);
    EXPECT_EQ(d.Text(), Lines({"  TW_CAPEXT = {", "    Cap        = [CAP_NV_UIMODE]",
                               "    Properties = [TWQC_GET|TWQC_GETCURRENT]", "  }"}));
}

TEST(CapExt, PropertiesAreFlagNamesJoinedByBarThenLeftoverBitsInHex) {
    EXPECT_EQ(PropertiesText(0), "0x0");
    EXPECT_EQ(PropertiesText(TWQC_RESET), "TWQC_RESET");
    EXPECT_EQ(PropertiesText(0x001F), "TWQC_GET|TWQC_SET|TWQC_GETDEFAULT|TWQC_GETCURRENT|TWQC_RESET");
    EXPECT_EQ(PropertiesText(0x0021), "TWQC_GET|0x20");
    EXPECT_EQ(PropertiesText(0xFFE0), "0xffe0");
    EXPECT_EQ(PropertiesText(0xFFFF), "TWQC_GET|TWQC_SET|TWQC_GETDEFAULT|TWQC_GETCURRENT|TWQC_RESET|0xffe0");
}

// ---------------------------------------------------------------------------
// How far a dump reads and writes

TEST(Bounds, ATextItemWithoutNulInAListStopsAtItsSlot) {
    std::vector<unsigned char> v;
    v.insert(v.end(), 34, 'a');
    v.insert(v.end(), 34, 'b');  // the last slot ends where readable memory ends
    Guarded g(v);
    EXPECT_EQ(ItemList(0, TWTY_STR32, 2, g.data()),
              Lines({"      ItemList = {", "          0:" + std::string(34, 'a') + ",",
                     "          1:" + std::string(34, 'b'), "      }"}));
}

TEST(Bounds, AOneValueTextWithoutNulStopsAtItsSlot) {
    std::vector<unsigned char> item(256, 'Q');
    Guarded g(OneValue(TWTY_STR255, item.data(), item.size()));
    Dump d;
    d.a.TwOneValueAnalyze(0, reinterpret_cast<const TW_ONEVALUE*>(g.data()));
    EXPECT_NE(d.Text().find("      Item     = [" + std::string(256, 'Q') + "]\r\n"), std::string::npos);
}

TEST(Bounds, AOneValueTextStopsAtTheEndOfItsBlock) {
    // The block holds ten bytes of a TW_STR255 that has no NUL.
    std::vector<unsigned char> v = OneValue(TWTY_STR255, "0123456789", 10);
    v.resize(std::max(sizeof(TW_ONEVALUE), offsetof(TW_ONEVALUE, Item) + 10));
    Guarded g(v);
    Dump d;
    d.a.TwOneValueAnalyze(0, reinterpret_cast<const TW_ONEVALUE*>(g.data()), v.size());
    EXPECT_NE(d.Text().find("      Item     = [0123456789]\r\n"), std::string::npos) << d.Text();
}

TEST(Bounds, ARangeFrameReadsNothingPastTheRange) {
    // A frame read from CurrentValue runs past the structure: those bytes are zeros.
    Guarded g(Range(TWTY_FRAME, Word(Fix(1)), Word(Fix(2)), Word(Fix(3)), Word(Fix(4)), Word(Fix(5))));
    Dump d;
    d.a.TwRangeAnalyze(ICAP_FRAMES, reinterpret_cast<const TW_RANGE*>(g.data()));
    const std::string text = d.Text();
    EXPECT_NE(text.find("      MinValue     = [1.000,2.000,3.000,4.000]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("      CurrentValue = [5.000,0.000,0.000,0.000]\r\n"), std::string::npos) << text;
}

TEST(Bounds, ALyingCountListsOnlyTheWholeItemsInsideTheBlock) {
    std::vector<unsigned char> v = EnumerationHead(TWTY_UINT16, 1000000, 0, 0);
    for (TW_UINT16 x : {0, 1, 2}) Put(v, x);
    v.push_back(0x01);  // half an item
    Guarded g(v);
    Dump d;
    d.a.TwEnumerationAnalyze(ICAP_PIXELTYPE, reinterpret_cast<const TW_ENUMERATION*>(g.data()), v.size());
    // The last item shown keeps its comma: the count says more follow.
    EXPECT_EQ(d.Text(), Lines({"    TW_ENUMERATION = {", "      ItemType     = [TWTY_UINT16]",
                               "      NumItems     = [1000000]", "      CurrentIndex = [0]",
                               "      DefaultIndex = [0]", "      ItemList = {", "          0:TWPT_BW,",
                               "          1:TWPT_GRAY,", "          2:TWPT_RGB,", "      }", "    }"}));
    EXPECT_FALSE(d.a.OutputCut());
}

TEST(Bounds, AnItemListStopsReadingWhenTheLogTextBufferIsFull) {
    // Four billion items claimed, 400 present: a full buffer holds fewer
    // than 400 lines, so the list must end before reading past them.
    const size_t present = 400;
    std::vector<unsigned char> v = ArrayHead(TWTY_UINT32, 0xFFFFFFFF);
    for (size_t i = 0; i < present; ++i) Put<TW_UINT32>(v, static_cast<TW_UINT32>(i));
    Guarded g(v);
    Dump d;
    d.a.TwArrayAnalyze(0, reinterpret_cast<const TW_ARRAY*>(g.data()));
    EXPECT_TRUE(d.a.OutputCut());
    EXPECT_EQ(strlen(d.buf), kLogTextSize);
    // What was written is the start of the whole list, byte for byte.
    std::string whole = Lines({"    TW_ARRAY = {", "      ItemType = [TWTY_UINT32]", "      NumItems = [4294967295]",
                               "      ItemList = {"});
    for (size_t i = 0; whole.size() < kLogTextSize; ++i) whole += Fmt("        %3zu:%zu,\r\n", i, i);
    EXPECT_EQ(d.Text(), whole.substr(0, kLogTextSize));
}

TEST(Bounds, ANoOutputBufferMeansNoItemIsRead) {
    Guarded g(0);
    CParaAnalyze a;
    a.SetOutput(nullptr, 0);
    a.MakeItemList(0, TWTY_UINT32, 0xFFFFFFFF, g.data());  // would fault on the first item read
    SUCCEED();
}

TEST(Bounds, ABlockTooSmallForTheContainerFieldsWritesNoContainerBlock) {
    Dump d;
    const std::vector<unsigned char> e = EnumerationHead(TWTY_UINT16, 3, 0, 0);
    Guarded ge(std::vector<unsigned char>(e.begin(), e.end() - 1));
    d.a.TwEnumerationAnalyze(0, reinterpret_cast<const TW_ENUMERATION*>(ge.data()), e.size() - 1);
    const std::vector<unsigned char> a = ArrayHead(TWTY_UINT16, 3);
    Guarded ga(std::vector<unsigned char>(a.begin(), a.end() - 1));
    d.a.TwArrayAnalyze(0, reinterpret_cast<const TW_ARRAY*>(ga.data()), a.size() - 1);
    Guarded go(sizeof(TW_ONEVALUE) - 1);
    d.a.TwOneValueAnalyze(0, reinterpret_cast<const TW_ONEVALUE*>(go.data()), sizeof(TW_ONEVALUE) - 1);
    Guarded gr(sizeof(TW_RANGE) - 1);
    d.a.TwRangeAnalyze(0, reinterpret_cast<const TW_RANGE*>(gr.data()), sizeof(TW_RANGE) - 1);
    EXPECT_EQ(d.Text(), "");

    // A block of exactly the fields: an empty list.
    Guarded exact(e);
    d.a.TwEnumerationAnalyze(ICAP_PIXELTYPE, reinterpret_cast<const TW_ENUMERATION*>(exact.data()), e.size());
    EXPECT_NE(d.Text().find("      ItemList = {\r\n      }\r\n    }\r\n"), std::string::npos) << d.Text();
}

// Containers whose size is not known (as under native) that end where
// memory ends, at a page that is PROT_NONE or not mapped at all: whatever
// the counts say, nothing faults, a list ends at the last whole item with
// its note, a container whose own fields run into the page is not shown.
TEST(Bounds, ContainersEndingWhereMemoryEndsAreCutThereAndNeverFault) {
    const std::string arrayHead = Lines({"    TW_ARRAY = {", "      ItemType = [TWTY_UINT32]", "      NumItems = [1000]",
                                         "      ItemList = {"});
    std::vector<unsigned char> array14 = ArrayHead(TWTY_UINT32, 1000);
    Put<TW_UINT32>(array14, 7);
    array14.resize(array14.size() + 2, 0xEE);  // half of item 1
    std::vector<unsigned char> strings = EnumerationHead(TWTY_STR32, 0xFFFFFFFF, 0, 0);
    PutText(strings, "first", sizeof(TW_STR32));
    strings.insert(strings.end(), 20, 'x');  // item 1 runs into the page
    std::vector<unsigned char> text = OneValue(TWTY_STR255, "0123456789", 10);
    text.resize(std::max(sizeof(TW_ONEVALUE), offsetof(TW_ONEVALUE, Item) + 10));
    const std::vector<unsigned char> enumeration = EnumerationHead(TWTY_UINT16, 3, 0, 0);
    const std::vector<unsigned char> range = Range(TWTY_UINT32, 1, 2, 3, 4, 5);

    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        size_t cut;  // bytes taken off the end, so that the fields run into the page
        std::string expected;
        std::string (*dump)(const unsigned char*);
    } cases[] = {
        {"a 14-byte array claiming 1000 items", array14, 0,
         arrayHead + Lines({"          0:7,", "        !!! list cut short: item 1 is not readable memory !!!",
                            "      }", "    }"}),
         [](const unsigned char* p) {
             Dump d;
             d.a.TwArrayAnalyze(0, reinterpret_cast<const TW_ARRAY*>(p));
             return d.Text();
         }},
        {"text items, the second one running into the page", strings, 0,
         Lines({"    TW_ENUMERATION = {", "      ItemType     = [TWTY_STR32]", "      NumItems     = [4294967295]",
                "      CurrentIndex = [0]", "      DefaultIndex = [0]", "      ItemList = {", "          0:first,",
                "        !!! list cut short: item 1 is not readable memory !!!", "      }", "    }"}),
         [](const unsigned char* p) {
             Dump d;
             d.a.TwEnumerationAnalyze(0, reinterpret_cast<const TW_ENUMERATION*>(p));
             return d.Text();
         }},
        {"a single text without NUL", text, 0,
         Lines({"    TW_ONEVALUE = {", "      ItemType = [TWTY_STR255]", "      Item     = [0123456789]", "    }"}),
         [](const unsigned char* p) {
             Dump d;
             d.a.TwOneValueAnalyze(0, reinterpret_cast<const TW_ONEVALUE*>(p));
             return d.Text();
         }},
        {"an enumeration whose fields run into the page", enumeration, 2, "",
         [](const unsigned char* p) {
             Dump d;
             d.a.TwEnumerationAnalyze(0, reinterpret_cast<const TW_ENUMERATION*>(p));
             return d.Text();
         }},
        {"a range whose fields run into the page", range, 4, "",
         [](const unsigned char* p) {
             Dump d;
             d.a.TwRangeAnalyze(0, reinterpret_cast<const TW_RANGE*>(p));
             return d.Text();
         }},
    };
    for (const Case& c : cases)
        for (bool unmapped : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (unmapped ? ", unmapped page" : ", PROT_NONE page"));
            const std::vector<unsigned char> bytes(c.bytes.begin(), c.bytes.end() - c.cut);
            Guarded g(bytes, unmapped);
            EXPECT_EQ(c.dump(g.data()), c.expected);
        }
}

TEST(Bounds, ListsOverSeveralPagesAreReadWholeUpToTheUnreadablePage) {
    // Items over two pages and a half, a count that says more.
    std::vector<unsigned char> v = ArrayHead(TWTY_UINT32, 0xFFFFFFFF);
    const size_t present = (2 * static_cast<size_t>(sysconf(_SC_PAGESIZE)) + 2048 - v.size()) / sizeof(TW_UINT32);
    for (size_t i = 0; i < present; ++i) Put<TW_UINT32>(v, static_cast<TW_UINT32>(i));
    Guarded g(v);
    Dump d;
    static char big[128 * 1024];
    d.a.SetOutput(big, sizeof big - 1);
    d.a.TwArrayAnalyze(0, reinterpret_cast<const TW_ARRAY*>(g.data()));
    const std::string text = big;
    EXPECT_NE(text.find(Fmt("        %3zu:%zu,\r\n", present - 1, present - 1)), std::string::npos);
    EXPECT_NE(text.find(Fmt("        !!! list cut short: item %zu is not readable memory !!!\r\n      }\r\n    }\r\n",
                            present)),
              std::string::npos)
        << text.substr(text.size() - 200);
}

// Where the system refuses the check (a seccomp sandbox), reads are bounded
// as without it, and the log says so once. Run in a child process: 0 when
// it did.
int ListsWithTheChecksRefused() {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_process_vm_readv, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        return 3;
    // Items that cross into the next page, readable: two lists, one note.
    const std::vector<unsigned char> head = ArrayHead(TWTY_UINT16, 3000);
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    Guarded g(2 * page);
    unsigned char* array = g.data() + page - 8;
    memcpy(array, head.data(), head.size());
    Dump first, second;
    first.a.TwArrayAnalyze(ICAP_PIXELTYPE, reinterpret_cast<const TW_ARRAY*>(array));
    second.a.TwArrayAnalyze(ICAP_PIXELTYPE, reinterpret_cast<const TW_ARRAY*>(array));
    const std::string note = "        !!! memory checks refused by the system: reads are not checked !!!\r\n";
    const bool once =
        first.Text().find(note) != std::string::npos && second.Text().find(note) == std::string::npos;
    return once && first.a.OutputCut() ? 0 : 1;
}

TEST(Bounds, RefusedChecksFallBackToBoundedReadsAndSaySoOnce) {
    EXPECT_EXIT(_exit(ListsWithTheChecksRefused()), ::testing::ExitedWithCode(0), "");
}

#if defined(TRACELET_TWAIN_ABI_MACOS)

TEST(Bounds, MacosContainerReadsStopAtTheEndOfTheLockedBlock) {
    std::vector<unsigned char> v = EnumerationHead(TWTY_UINT16, 0xFFFFFFFF, 1, 1);
    for (TW_UINT16 x : {2, 1}) Put(v, x);
    Guarded g(v);
    BorrowedHandle h(g.data(), v.size());
    EXPECT_EQ(CapabilityDump(ICAP_PIXELTYPE, TWON_ENUMERATION, h.get()),
              CapabilityHead("ICAP_PIXELTYPE", "TWON_ENUMERATION", h.get()) +
                  Lines({"    TW_ENUMERATION = {", "      ItemType     = [TWTY_UINT16]",
                         "      NumItems     = [4294967295]", "      CurrentIndex = [1]", "      DefaultIndex = [1]",
                         "      ItemList = {", "          0:TWPT_RGB,", "          1:TWPT_GRAY,", "      }", "    }",
                         "  }"}));
    EXPECT_EQ(h.record_.lockCount, 0u);  // unlocked again
}

TEST(Bounds, MacosOneValueTextStopsAtTheEndOfTheLockedBlock) {
    std::vector<unsigned char> v = OneValue(TWTY_STR255, "abcdefgh", 8);
    Guarded g(v);
    BorrowedHandle h(g.data(), v.size());
    const std::string text = CapabilityDump(kCapAuthor, TWON_ONEVALUE, h.get());
    EXPECT_NE(text.find("      Item     = [abcdefgh]\r\n"), std::string::npos) << text;
}

TEST(Bounds, MacosHandleTheMemoryManagerDoesNotKnowIsNeitherLockedNorRead) {
    std::vector<unsigned char> v = OneValueOf<TW_UINT32>(TWTY_UINT16, 2);
    BorrowedHandle h(v.data(), v.size());
    h.record_.magic = 0;
    h.record_.lockCount = 5;
    EXPECT_EQ(CapabilityDump(ICAP_PIXELTYPE, TWON_ONEVALUE, h.get()),
              CapabilityHead("ICAP_PIXELTYPE", "TWON_ONEVALUE", h.get()) + Lines({"  }"}));
    EXPECT_EQ(h.record_.lockCount, 5u);
}

TEST(Bounds, MacosEmptyBlockWritesNoContainerBlock) {
    TW_HANDLE h = NewHandleClear(0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(CapabilityDump(ICAP_PIXELTYPE, TWON_ENUMERATION, h),
              CapabilityHead("ICAP_PIXELTYPE", "TWON_ENUMERATION", h) + Lines({"  }"}));
    DisposeHandle(h);
}

#else

TEST(Bounds, NativeContainerListsAreBoundedByTheLogTextBuffer) {
    // The block's size is unknown here: a lying count is read as far as a
    // full log text buffer goes, and no further.
    std::vector<unsigned char> v = EnumerationHead(TWTY_UINT16, 0xFFFFFFFF, 0, 0);
    v.resize(v.size() + 400 * sizeof(TW_UINT16), 0);
    Guarded g(v);
    BorrowedHandle h(g.data(), v.size());
    const std::string text = CapabilityDump(ICAP_PIXELTYPE, TWON_ENUMERATION, h.get());
    EXPECT_EQ(text.size(), kLogTextSize);
    EXPECT_EQ(text.find(CapabilityHead("ICAP_PIXELTYPE", "TWON_ENUMERATION", h.get())), 0u);
    EXPECT_NE(text.find("          1:TWPT_BW,\r\n"), std::string::npos);
}

#endif

}  // namespace
