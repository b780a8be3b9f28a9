// The dumps, one row per structure or container: its bytes as an
// application or a source hands them over, and its block as the log shows it
// (data/structures.txt, data/capabilities.txt). Values sit at the edges of
// their types (signs, widths, texts without NUL) and every field differs from
// its neighbours, so a swapped field shows. Then how far a dump reads: there
// the container ends where an unreadable page begins, so a read past its end
// faults in every build, sanitized or not. Both layouts run these tests.
#include <gtest/gtest.h>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "ContainerBytes.h"
#include "LogText.h"
#include "analyzer/ParaAnalyze.h"

namespace {

// The block `name` of data/<file>.txt: the lines after its head "== name" up
// to the next head, each ended by CR LF as in the log.
std::string Golden(const std::string& file, const std::string& name) {
    std::ifstream in(std::string(TRACELET_UNIT_DATA) + "/" + file + ".txt", std::ios::binary);
    std::string line, text;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.compare(0, 3, "== ") == 0) {
            if (inside) return text;
            inside = line.substr(3) == name;
        } else if (inside) {
            text += line + "\r\n";
        }
    }
    return inside ? text : "(no text " + name + " in " + file + ".txt)";
}

// The structure `v` rendered by `f`, from an odd address at the very end of a
// heap block, so an unaligned or over-long read shows under the sanitizers.
template <class T, class S>
std::string Render(const T& v, bool (CParaAnalyze::*f)(const S*), TW_UINT16 msg = MSG_GET, TW_UINT16 dat = 0) {
    std::unique_ptr<unsigned char[]> block(new unsigned char[sizeof v + 1]);
    memcpy(block.get() + 1, &v, sizeof v);
    CParaAnalyze a;
    a.m_MSG = msg;
    a.m_DAT = dat;
    char buf[kLogTextSize + 1] = {};
    a.SetOutput(buf, kLogTextSize);
    (a.*f)(reinterpret_cast<const S*>(block.get() + 1));
    return a.OutputCut() ? "(cut)" : buf;
}

template <class H>
H Wide(uint64_t v) {  // a handle or pointer that needs more than 32 bits
    return reinterpret_cast<H>(static_cast<uintptr_t>(v));
}

// `n` consecutive members of type T from `at` on, numbered from `first`
// (a TW_FIX32 with a half): each member shows its own value, in order.
template <class T>
void Count(void* at, int n, int first) {
    for (int k = 0; k < n; ++k) {
        T v;
        if constexpr (std::is_same<T, TW_FIX32>::value)
            v = Fix(static_cast<TW_INT16>(first + k), 0x8000);
        else
            v = static_cast<T>(first + k);
        memcpy(static_cast<char*>(at) + k * sizeof v, &v, sizeof v);
    }
}

// An Id of all ones but one: unsigned under native, a signed 64-bit number
// under macos; texts without NUL, and one that ends early.
TW_IDENTITY Scanner() {
    TW_IDENTITY id{static_cast<decltype(TW_IDENTITY::Id)>(-2), TW_VERSION{3, 12, 2, 1, "3.12 build 7"}, 2, 4, 0xFFFFFFFFu,
                   "", "Flat\0bed", ""};
    memset(id.Manufacturer, 'M', sizeof id.Manufacturer);
    memset(id.ProductName, 'N', sizeof id.ProductName);  // the last member
    memset(id.Version.Info, 'I', sizeof id.Version.Info);
    return id;
}

TW_EVENT Event(TW_UINT16 msg) { return TW_EVENT{Wide<TW_MEMREF>(0x7f00000012abull), msg}; }

TW_SETUPFILEXFER Unterminated(TW_SETUPFILEXFER f) {  // a name without NUL, the format right after it
    memset(f.FileName, 'b', sizeof f.FileName);
    return f;
}

struct ExtInfo {
    TW_EXTIMAGEINFO ext;
    TW_INFO more[2];  // entries past the first are never read
} const kExt{{3, {{0x1200, TWTY_STR255, 1, TWRC_INFONOTSUPPORTED, 0xFFFFFFFFu}}},
             {{0x1201, 0, 0, 0, 0}, {0x1201, 0, 0, 0, 0}}};

struct Response {
    TW_ELEMENT8 element[256];  // as long as the bit depth asks; only the first is shown
};
Response Responses() {
    Response r;
    memset(&r, 0x11, sizeof r);
    r.element[0] = TW_ELEMENT8{200, 128, 255, 0};
    return r;
}

TW_IMAGEINFO ImageInfo(TW_INT16 pixelType, TW_UINT16 compression) {  // eight BitsPerSample, whatever SamplesPerPixel
    return TW_IMAGEINFO{Fix(300), Fix(600, 32768), 2550, -1, 1, {8, 0, 0, 0, 0, 0, 0, -32768}, 8, 0x100, pixelType, compression};
}

TW_IMAGEMEMXFER MemXfer() {
    return TW_IMAGEMEMXFER{5, 7650, 2550, 64, 0, 3264, 0xFFFFFFFFu,
                           TW_MEMORY{TWMF_APPOWNS | TWMF_POINTER, 489600, Wide<TW_MEMREF>(0x7ffd0badf00dull)}};
}

TW_JPEGCOMPRESSION Jpeg() {
    TW_JPEGCOMPRESSION j{TWPT_GRAY, 0xFFFFFFFFu, 3, 65535, {0, 1, 1, 0}, {}, {0, 65535, 1, 2}, {}, {}};
    for (unsigned i = 0; i < 8; ++i)  // the quantization tables, then the DC and the AC tables
        (i < 4 ? j.QuantTable[i] : i < 6 ? j.HuffmanDC[i - 4] : j.HuffmanAC[i - 6]) =
            TW_MEMORY{i < 4 ? TWMF_DSOWNS : 0u, 64 + i, Wide<TW_MEMREF>(0x1000 + i)};
    return j;
}

struct Cie {
    TW_CIECOLOR c;
    TW_FIX32 more[2];  // further samples are never read
};
Cie CieColor() {
    Cie s{};
    s.c.ColorSpace = TWPT_CIEXYZ;
    s.c.LowEndian = -1;
    s.c.DeviceDependent = 32767;
    s.c.VersionNumber = static_cast<TW_INT32>(0x80000001u);
    Count<TW_FIX32>(&s.c.StageABC, 79, -40);  // both stages, the four points, the first sample
    s.more[0] = s.more[1] = Fix(77);
    return s;
}

TWNV_AUTOEXPOSURE Exposure(TW_UINT16 filmType, TW_UINT16 gamma) {
    // Handle, Left, Top, Right, Bottom, FilmType, PreScanGamma, ScreenGamma (-1 + 0.5), GrayBalance
    return TWNV_AUTOEXPOSURE{0xffffffff, -1, 20, 3000, -32768, filmType, gamma, Fix(-1, 0x8000), 0xFFFF};
}

TWNV_HARDWAREINFO Hardware() {
    TWNV_HARDWAREINFO v;
    memset(&v, 0, sizeof v);
    v.ModelID = 0xABCDEF12;
    memcpy(v.ProductName, "\x0c" "Vistrel 9000", 13);  // a length byte, then the characters
    memcpy(v.ModelName, "\x05" "ab\0cd", 6);  // a NUL among the characters ends the text
    Count<TW_UINT32>(&v.OptXResolution, 12, -6);  // the resolutions and the pixel sizes
    v.InterfaceSupport = 0xFFFF;
    v.Reserved1 = v.Reserved2[1] = 0xBEEF;  // reserved bytes print no line
    v.CommandType = 2;
    v.StandAloneModeSupport = 0x0200;  // the flag at offset 136, not the interface type
    // FullAutoModeSupport ... HTTETSupport, TableArrangement, OptionSupport, FocusSupport
    const TW_UINT16 flags[16] = {1, 0, 2, 0, 0xFFFF, 0, 1, 0, 1, 0, 1, 0, 0x100, 1, 0x1A, 2};
    memcpy(&v.FullAutoModeSupport, flags, sizeof flags);
    v.FocusArea[0] = 100;
    v.FocusArea[1] = 0x80000000u;
    strcpy(v.ProfileNameFB, "Reflective.icc");
    memset(v.ProfileNameTPU, 'T', sizeof v.ProfileNameTPU);  // no NUL: its 34 bytes only
    Count<TW_FIX32>(v.ColorCorrectionFB, 54, -27);           // the six matrices
    memcpy(v.ROMVersion, "2.10\0junk", 9);
    return v;
}

TWNV_USMPARAM Usm() { return TWNV_USMPARAM{-5, 32767, static_cast<TW_INT16>(0x8000)}; }

TWNV_LOCATIONDATA Skew() {
    TWNV_LOCATIONDATA v{-1, 0xBEEF, 0, 0, 0, 0, 0, 0, 0, 0, Fix(-3, 0xC000)};
    Count<TW_UINT32>(&v.topPoint, 8, -3);
    return v;
}

using P = CParaAnalyze;
const std::pair<const char*, std::function<std::string()>> kRows[] = {
    {"Identity", [] { return Render(Scanner(), &P::TwIdentityAnalyze); }},
    {"IdentityOpeningTheManager",
     [] { TW_IDENTITY id = Scanner(); id.Id = 4711; return Render(id, &P::TwIdentityAnalyze, MSG_OPENDSM); }},
    {"VersionAllOnes", [] { return Render(TW_VERSION{1, 0, 0xFFFF, 0xFFFF, "v"}, &P::TwVersionAnalyze); }},
    {"EventTransferReady", [] { return Render(Event(MSG_XFERREADY), &P::TwEventAnalyze); }},
    {"EventVendor", [] { return Render(Event(0x8002), &P::TwEventAnalyze); }},
    {"EventUnknown", [] { return Render(Event(0x8003), &P::TwEventAnalyze); }},
    {"EventNull", [] { return Render(Event(MSG_NULL), &P::TwEventAnalyze); }},
    {"PendingXfers", [] { return Render(TW_PENDINGXFERS{65535, 4294967294u}, &P::TwPendingXfersAnalyze); }},
    {"SetupMemXfer", [] { return Render(TW_SETUPMEMXFER{16384, 0x80000000u, 0xFFFFFFFFu}, &P::TwSetupMemXferAnalyze); }},
    {"SetupFileXfer", [] { return Render(TW_SETUPFILEXFER{"/tmp/scan 0001.tif", 9, -1}, &P::TwSetupFileXferAnalyze); }},
    {"SetupFileXferWithoutNul", [] { return Render(Unterminated({"", 0x4242, -1}), &P::TwSetupFileXferAnalyze); }},
    {"XferGroup", [] { return Render(TW_UINT32{DG_IMAGE}, &P::TwUint32, 0, DAT_XFERGROUP); }},
    {"NativeXfer", [] { return Render(Wide<TW_HANDLE>(0x7f3a9c0de5a8ull), &P::TwUint32, 0, DAT_IMAGENATIVEXFER); }},
    {"Uint32", [] { return Render(TW_UINT32{0xFFFFFFFEu}, &P::TwUint32, 0, DAT_STATUS); }},
    {"Status", [] { return Render(TW_STATUS{4, 0x1234}, &P::TwStatusAnalyze); }},
    {"UserInterface",
     [] { return Render(TW_USERINTERFACE{2, 0, Wide<TW_HANDLE>(0x123400000abcull)}, &P::TwUserInterfaceAnalyze); }},
    {"CustomDsData",
     [] { return Render(TW_CUSTOMDSDATA{0x80000000u, Wide<TW_HANDLE>(0xdeadbeefcafef00dull)}, &P::TwCustomDsDataAnalyze); }},
    {"ExtImageInfo", [] { return Render(kExt.ext, &P::TwExtImageInfoAnalyze); }},
    {"Memory",
     [] { return Render(TW_MEMORY{9, 0xFFFFFFFFu, Wide<TW_MEMREF>(0x5555000000f0ull)}, &P::TwMemoryAnalyze); }},
    {"ImageInfo", [] { return Render(ImageInfo(TWPT_RGB, TWCP_NONE), &P::TwImageInfoAnalyze); }},
    {"ImageInfoUnknownValues", [] { return Render(ImageInfo(-1, 0xFFFF), &P::TwImageInfoAnalyze); }},
    {"ImageLayout",
     [] {
         const TW_IMAGELAYOUT l{{Fix(0, 32768), Fix(-1, 32768), Fix(8, 32768), Fix(11)}, 1, 0x80000000u, 0xFFFFFFFFu};
         return Render(l, &P::TwImageLayoutAnalyze);
     }},
    {"ImageMemXfer", [] { return Render(MemXfer(), &P::TwImageMemXferAnalyze); }},
    {"JpegCompression", [] { return Render(Jpeg(), &P::TwJpegCompressionAnalyze); }},
    {"Palette8", [] { return Render(TW_PALETTE8{256, 0, {}}, &P::TwPalette8Analyze); }},
    {"GrayResponse", [] { return Render(Responses(), &P::TwGrayResponseAnalyze); }},
    {"RgbResponse", [] { return Render(Responses(), &P::TwRgbResponseAnalyze); }},
    {"CieColor", [] { return Render(CieColor(), &P::TwCieColorAnalyze); }},
    {"AutoExposure", [] { return Render(Exposure(1, 0), &P::TwNvAutoExposureAnalyze); }},
    {"AutoExposureUnknownValues", [] { return Render(Exposure(0xFFFF, 2), &P::TwNvAutoExposureAnalyze); }},
    {"RgbMatrix", [] { TWNV_RGBMATRIX v; Count<TW_FIX32>(v.ColorCoeff, 9, -4); return Render(v, &P::TwNvRgbMatrixAnalyze); }},
    {"ColorSmoothing",
     [] {
         return Render(TWNV_COLORSMOOTHING{0x12, 1, 2, 3, 4, 5, 6, 7, 0x80000000u, 0xFFFFFFFFu}, &P::TwNvColorSmoothingAnalyze);
     }},
    {"HardwareInfo", [] { return Render(Hardware(), &P::TwHardwareInfoAnalyze); }},
    {"HardwareInfoWithoutNul",  // lying lengths, no NUL in any text: each text its field, the block whole
     [] { TWNV_HARDWAREINFO v; memset(&v, 'Z', sizeof v); return Render(v, &P::TwHardwareInfoAnalyze); }},
    {"SkewInfo", [] { return Render(Skew(), &P::TwNvSkewInfoAnalyze); }},
    {"UnsharpMask", [] { return Render(Usm(), &P::TwUnsharpMaskAnalyze); }},
    {"SettingFrame", [] { return Render(TWNV_SETTINGFRAME{0xFFFF, 3}, &P::TwNvSettingFrameAnalyze); }},
    {"UsmInfo",
     [] {
         const TWNV_USMINFO v{0xFFFF, 2, 1, Usm(), {{10, 11, 12, 13}, {65532, 65533, 65534, 65535}, 0xFFFF}};
         return Render(v, &P::TwNvUsmInfoAnalyze);
     }},
};

#if defined(TRACELET_TWAIN_ABI_MACOS)
const std::string kLayout = "/macos";  // where a block differs under this layout
#else
const std::string kLayout = "/native";
#endif

TEST(StructureDump, EachStructurePrintsItsBlockLineForLine) {
    for (const auto& row : kRows) {
        const std::string own = Golden("structures", row.first + kLayout);
        EXPECT_EQ(row.second(), own[0] == '(' ? Golden("structures", row.first) : own) << row.first;
    }
}

// A null pData reaches the formatter of every data argument type: no block.
TEST(StructureDump, ANullStructureWritesNoBlock) {
    for (unsigned dat = 0; dat < 0x8040; dat = dat == 0x410 ? 0x8000 : dat + 1) {
        CParaAnalyze a;
        char buf[kLogTextSize + 1] = {};
        a.ParaAnalyze(nullptr, nullptr, DG_CONTROL, static_cast<TW_UINT16>(dat), MSG_OPENDSM, nullptr,
                      TWRC_SUCCESS, buf);
        EXPECT_EQ(std::string(buf).find('{'), std::string::npos) << dat;
    }
}

// ---------------------------------------------------------------------------
// Capabilities

using Bytes = std::vector<unsigned char>;

// Bytes whose end touches an unreadable page (PROT_NONE, or no mapping at all).
class Guarded {
public:
    explicit Guarded(const Bytes& bytes, bool unmapped = false) {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        length_ = ((bytes.size() + page_ - 1) / page_ + 1) * page_;
        void* m = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) throw std::runtime_error("mmap");
        base_ = static_cast<unsigned char*>(m);
        if (unmapped)
            munmap(base_ + length_ - page_, page_);
        else
            mprotect(base_ + length_ - page_, page_, PROT_NONE);
        data_ = base_ + length_ - page_ - bytes.size();
        if (!bytes.empty()) memcpy(data_, bytes.data(), bytes.size());
    }
    ~Guarded() { munmap(base_, length_); }
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;
    unsigned char* data() const { return data_; }

private:
    size_t page_ = 0, length_ = 0;
    unsigned char *base_ = nullptr, *data_ = nullptr;
};

// An analyzer that appends into its own log text buffer.
struct Dump {
    CParaAnalyze a;
    char buf[kLogTextSize + 1] = {};
    explicit Dump(TW_UINT16 rc = TWRC_SUCCESS) {
        a.SetOutput(buf, kLogTextSize);
        a.m_RC = rc;
    }
    // The container `conType` at `p`, of `block` bytes.
    std::string Container(TW_UINT16 conType, TW_UINT16 cap, const void* p, size_t block = SIZE_MAX) {
        switch (conType) {
            case TWON_ARRAY: a.TwArrayAnalyze(cap, static_cast<const TW_ARRAY*>(p), block); break;
            case TWON_ENUMERATION: a.TwEnumerationAnalyze(cap, static_cast<const TW_ENUMERATION*>(p), block); break;
            case TWON_ONEVALUE: a.TwOneValueAnalyze(cap, static_cast<const TW_ONEVALUE*>(p), block); break;
            default: a.TwRangeAnalyze(cap, static_cast<const TW_RANGE*>(p), block); break;
        }
        return buf;
    }
    // The whole TW_CAPABILITY block, its handle's value shown as <h>.
    std::string Capability(TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE h) {
        TW_CAPABILITY c{cap, conType, h};
        a.TwCapabilityAnalyze(&c);
        std::string text = buf;
        char shown[16];
        snprintf(shown, sizeof shown, "<0x%08x>", Handle(h));
        const size_t at = text.find(shown);
        return at == std::string::npos ? text : text.replace(at, strlen(shown), "<h>");
    }
};

template <class T>
Bytes Of(const T& x) {
    Bytes v;
    Put(v, x);
    return v;
}
Bytes Text(const char* text, size_t width) {
    Bytes v(width, 0);
    memcpy(v.data(), text, strnlen(text, width));
    return v;
}
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The fields of each container before its items, as the layout lays them out.
Bytes Enumeration(TW_UINT16 type, TW_UINT32 count, TW_UINT32 current = 0, TW_UINT32 deflt = 0) {
    return Head(TW_ENUMERATION{type, count, current, deflt, {0}}, offsetof(TW_ENUMERATION, ItemList));
}
Bytes Array(TW_UINT16 type, TW_UINT32 count) { return Head(TW_ARRAY{type, count, {0}}, offsetof(TW_ARRAY, ItemList)); }
// A TW_ONEVALUE whose item bytes start at Item (and may run past the structure).
Bytes OneValue(TW_UINT16 type, const Bytes& item) {
    Bytes v = Head(TW_ONEVALUE{type, 0}, offsetof(TW_ONEVALUE, Item)) + item;
    if (v.size() < sizeof(TW_ONEVALUE)) v.resize(sizeof(TW_ONEVALUE), 0);
    return v;
}
template <class T>
Bytes Range(TW_UINT16 type, T min, T max, T step, T deflt, T current) {
    TW_RANGE r{type, 0, 0, 0, 0, 0};
    const T values[5] = {min, max, step, deflt, current};
    memcpy(&r.MinValue, values, sizeof values);  // the five 32-bit fields in a row
    return Of(r);
}
Bytes Frame(TW_FIX32 l, TW_FIX32 t, TW_FIX32 r, TW_FIX32 b) { return Of(TW_FRAME{l, t, r, b}); }

// ---------------------------------------------------------------------------
// One item

TEST(ItemRendering, EachTypeByItsWidthAndSign) {
    constexpr TW_UINT16 U = TWTY_UINT16;
    const struct {
        TW_UINT16 type, cap;
        Bytes item;
        std::string text;
    } rows[] = {
        {TWTY_INT8, 0, Of<uint8_t>(0xFF), "0xffffffff"},  // widened with its sign, then hex
        {TWTY_INT8, 0, Of<uint8_t>(0x7F), "0x7f"},
        {TWTY_UINT8, 0, Of<uint8_t>(0x0A), "0x0a"},
        {TWTY_INT16, 0, Of<uint16_t>(0xFFFE), "-2"},
        {TWTY_INT16, 0, Of<uint32_t>(0x12340005), "5"},  // two bytes, not the word around them
        {TWTY_INT32, 0, Of<int32_t>(-5), "-5"},
        {TWTY_UINT32, 0, Of<uint32_t>(0xFFFFFFFF), "-1"},  // printed signed
        {TWTY_BOOL, 0, Of<uint16_t>(0x0100), "true"},
        {TWTY_BOOL, 0, Of<uint32_t>(0x00010000), "false"},
        {TWTY_FIX32, 0, Of(Fix(-1, 0x8000)), "-0.500"},
        {TWTY_FIX32, 0, Of(Fix(0, 0xFFFF)), "1.000"},
        {TWTY_FRAME, 0, Frame(Fix(1, 0x8000), Fix(2), Fix(8, 0x8000), Fix(-11)), "1.500,2.000,8.500,-11.000"},
        {TWTY_STR32, 0, Text("Hello\0junk", 34), "Hello"},
        {TWTY_STR32, 0, Bytes(34, 'x') + Bytes(1, 'y'), std::string(34, 'x')},  // no NUL: its slot
        {TWTY_STR64, 0, Bytes(66, 'x') + Bytes(1, 'y'), std::string(66, 'x')},
        {TWTY_STR128, 0, Bytes(130, 'x') + Bytes(1, 'y'), std::string(130, 'x')},
        {TWTY_STR255, 0, Bytes(256, 'x') + Bytes(1, 'y'), std::string(256, 'x')},
        {13, 0, Of<uint32_t>(0x00010005), "65541"},  // an unknown type: the whole 32-bit field
        {0xFFFF, 0, Of<uint32_t>(0xFFFFFFFE), "-2"},
        // TW_UINT16 values named by their capability
        {U, ICAP_PIXELTYPE, Of<TW_UINT16>(2), "TWPT_RGB"},   {U, 0x112C, Of<TW_UINT16>(3), "TWBR_DIFFUSION"},  // first row
        {U, 0x1149, Of<TW_UINT16>(4), "TWOV_ALL"},          {U, 0x1110, Of<TW_UINT16>(3), "TWOR_ROT270"},  // last; earlier of two
        {U, ICAP_SUPPORTEDSIZES, Of<TW_UINT16>(1), "TWSS_A4LETTER"}, {U, 0x1201, Of<TW_UINT16>(3), "TWAF_AU"},  // no cap name
        {U, ICAP_PIXELTYPE, Of<TW_UINT16>(0xFFFF), "ERROR!(65535)"}, {U, ICAP_SUPPORTEDSIZES, Of<TW_UINT16>(8), "ERROR!(8)"},
        {U, ICAP_NV_FILMTYPE, Of<TW_UINT16>(1), "TWNV_FT_NEGA"}, {U, CAP_NV_UIMODE, Of<TW_UINT16>(2), "TWNV_UI_EASY"},
        {U, 0x803B, Of<TW_UINT16>(1), "TWNV_FT_MPF"},      {U, 0x8081, Of<TW_UINT16>(1), "TWNV_AUTOSIZE_LONG"},
        {U, ICAP_NV_FILMTYPE, Of<TW_UINT16>(7), "ERROR!(7)"}, {U, CAP_LANGUAGE, Of<TW_UINT16>(65535), "65535"},  // no table
        {U, CAP_NV_TPUENABLED, Of<TW_UINT16>(3), "3"},      {U, 0x8000, Of<TW_UINT16>(0x0102), "258"},
        {U, CAP_SUPPORTEDCAPS, Of<TW_UINT16>(0x1005), "CAP_SUPPORTEDCAPS"},
        {U, CAP_SUPPORTEDCAPS, Of<TW_UINT16>(ICAP_PIXELTYPE), "ICAP_PIXELTYPE"},
        {U, CAP_SUPPORTEDCAPS, Of<TW_UINT16>(0x8001), "CAP_NV_VERSION"},
        {U, CAP_SUPPORTEDCAPS, Of<TW_UINT16>(0x8004), "ICAP_NV_DRAFTSCAN"},
        {U, CAP_SUPPORTEDCAPS, Of<TW_UINT16>(0x8000), "CAP_CUSTOMBASE"},
        {U, CAP_SUPPORTEDCAPS, Of<TW_UINT16>(0x1201), "ERROR!(4609)"}, {U, CAP_SUPPORTEDCAPS, Of<TW_UINT16>(0), ""},
        {U, CAP_NV_VERSION, Of<TW_UINT16>(0x0A0B), "a.b"},  {U, CAP_NV_VERSION, Of<TW_UINT16>(0xFFFF), "ff.ff"},
    };
    for (const auto& r : rows) {
        Bytes raw = r.item;
        raw.resize(sizeof(TW_STR255) + 1, 0);
        CParaAnalyze a;
        char text[512];
        memset(text, '#', sizeof text);
        a.ValToStr(r.cap, r.type, raw.data(), text);
        EXPECT_EQ(std::string(text), r.text) << r.type;
    }
    char text[16] = "previous";
    CParaAnalyze().ValToStr(0, TWTY_INT32, nullptr, text);
    EXPECT_STREQ(text, "");
}

// ---------------------------------------------------------------------------
// Each container, through its handle

struct ContainerRow {
    const char* name;
    TW_UINT16 cap, conType;
    Bytes bytes;  // none: a null handle
    TW_UINT16 rc;
};

const ContainerRow kContainers[] = {
    {"EnumerationOfPixelTypes", ICAP_PIXELTYPE, TWON_ENUMERATION,
     Enumeration(TWTY_UINT16, 3, 2, 2) + Of<TW_UINT16>(0) + Of<TW_UINT16>(1) + Of<TW_UINT16>(2), TWRC_SUCCESS},
    {"EnumerationCountsUnsigned", CAP_XFERCOUNT, TWON_ENUMERATION,
     Enumeration(TWTY_UINT32, 0, 0xFFFFFFFF, 0x80000000), TWRC_SUCCESS},
    {"EnumerationOfFix32", ICAP_XRESOLUTION, TWON_ENUMERATION,
     Enumeration(TWTY_FIX32, 2, 1, 0) + Of(Fix(72)) + Of(Fix(-2, 0x4000)), TWRC_CHECKSTATUS},
    {"EnumerationOfTexts", 0x1000, TWON_ENUMERATION,
     Enumeration(TWTY_STR32, 3) + Text("first", 34) + Text("second", 34) + Text("third", 34), TWRC_SUCCESS},
    {"ArrayOfSupportedCaps", CAP_SUPPORTEDCAPS, TWON_ARRAY,
     Array(TWTY_UINT16, 4) + Of<TW_UINT16>(0x1005) + Of<TW_UINT16>(0x8001) + Of<TW_UINT16>(0x1201) + Of<TW_UINT16>(0),
     TWRC_SUCCESS},
    {"ArrayOfInt32", 0, TWON_ARRAY, Array(TWTY_INT32, 2) + Of<TW_INT32>(-7) + Of<TW_INT32>(70000), TWRC_SUCCESS},
    {"ArrayOfFrames", ICAP_FRAMES, TWON_ARRAY, Array(TWTY_FRAME, 2) + Bytes(32, 1), TWRC_SUCCESS},
    {"ArrayOfAnUnknownType", 0, TWON_ARRAY, Array(13, 1) + Of<TW_UINT32>(1), TWRC_SUCCESS},
    {"EmptyArray", ICAP_PIXELTYPE, TWON_ARRAY, Array(TWTY_UINT16, 0), TWRC_SUCCESS},
    {"OneValueText", 0x1000, TWON_ONEVALUE, OneValue(TWTY_STR255, Text("A. Scanner", 256)), TWRC_SUCCESS},
    {"OneValueFrame", ICAP_FRAMES, TWON_ONEVALUE, OneValue(TWTY_FRAME, Frame(Fix(0), Fix(0, 0x8000), Fix(8, 0x8000), Fix(11))),
     TWRC_SUCCESS},
    {"OneValueOfAnUnknownType", 0x1201, TWON_ONEVALUE, OneValue(13, Of<TW_UINT32>(0x00020001)), TWRC_SUCCESS},
    {"RangeOfFix32", ICAP_XRESOLUTION, TWON_RANGE, Range(TWTY_FIX32, Fix(-1000), Fix(1200, 0x8000), Fix(1), Fix(300), Fix(600)),
     TWRC_SUCCESS},
    {"RangeOfAnUnknownType", ICAP_XRESOLUTION, TWON_RANGE, Range<TW_UINT32>(14, 0x10000, 0xFFFFFFFF, 1, 2, 3),
     TWRC_SUCCESS},
    {"RangeOfPixelTypes", ICAP_PIXELTYPE, TWON_RANGE, Range<TW_UINT32>(TWTY_UINT16, 0, 8, 1, 2, 1), TWRC_SUCCESS},
    {"RangeOfFrames", ICAP_FRAMES, TWON_RANGE, Range(TWTY_FRAME, Fix(1), Fix(2), Fix(3), Fix(4), Fix(5)), TWRC_SUCCESS},
    {"AFailedCall", ICAP_PIXELTYPE, TWON_ENUMERATION, Enumeration(TWTY_UINT16, 1) + Of<TW_UINT16>(2), TWRC_FAILURE},
    {"ANullHandle", ICAP_PIXELTYPE, TWON_ONEVALUE, {}, TWRC_SUCCESS},
    {"DontCare", ICAP_PIXELTYPE, TWON_DONTCARE16, OneValue(TWTY_UINT16, Of<TW_UINT32>(2)), TWRC_SUCCESS},
    {"UnknownContainer", ICAP_PIXELTYPE, 7, OneValue(TWTY_UINT16, Of<TW_UINT32>(2)), TWRC_SUCCESS},
};

TEST(CapabilityDump, EachContainerPrintsItsBlockLineForLine) {
    for (const ContainerRow& r : kContainers) {
        TW_HANDLE h = r.bytes.empty() ? nullptr : HandleOf(r.bytes);
        EXPECT_EQ(Dump(r.rc).Capability(r.cap, r.conType, h), Golden("capabilities", r.name)) << r.name;
        if (h) TwainDisposeHandle(h);
    }
}

// ---------------------------------------------------------------------------
// How far a dump reads

// Containers that end where memory ends (at a page that is PROT_NONE or not
// mapped at all), of a size given or not: whatever the counts say, nothing
// faults, a list ends at the last whole item, a container whose own fields
// do not fit is not shown.
TEST(Bounds, ContainersAreReadNoFurtherThanTheirBlockOrReadableMemory) {
    const struct {
        const char* name;
        TW_UINT16 conType, cap;
        Bytes bytes;
        size_t cut;  // bytes taken off the end
        bool sized;  // the block's size is given
    } rows[] = {
        {"ALyingArrayEndingInHalfAnItem", TWON_ARRAY, 0, Array(TWTY_UINT32, 1000) + Of<TW_UINT32>(7) + Bytes(2, 0xEE), 0, false},
        {"ALyingListOfTexts", TWON_ENUMERATION, 0, Enumeration(TWTY_STR32, 0xFFFFFFFF) + Text("first", 34) + Bytes(20, 'x'),
         0, false},
        {"TextsWithoutNul", TWON_ARRAY, 0, Array(TWTY_STR32, 2) + Bytes(34, 'a') + Bytes(34, 'b'), 0, false},
        {"AOneValueTextWithoutNul", TWON_ONEVALUE, 0, OneValue(TWTY_STR255, Bytes(256, 'Q')), 0, false},
        {"AOneValueTextCutOffByItsKnownBlock", TWON_ONEVALUE, 0, OneValue(TWTY_STR255, Text("0123456789", 10)), 0, true},
        {"AOneValueTextCutByItsBlock", TWON_ONEVALUE, 0, OneValue(TWTY_STR255, Text("0123456789", 10)), 0, false},
        {"AOneValueTextEndingInsideItsKnownBlock", TWON_ONEVALUE, 0, OneValue(TWTY_STR255, Text("01234", 10)), 0, true},
        {"ATextListCutOffInsideAnItem", TWON_ARRAY, 0, Array(TWTY_STR32, 2) + Text("first", 34) + Text("secondsecond", 12), 0,
         true},
        {"ATextListCutOffInsideAnItemThatClaimsMore", TWON_ARRAY, 0, Array(TWTY_STR32, 5) + Text("first", 34) + Text("secondsecond", 12), 0,
         true},
        {"ATextListWhoseLastTextEndsBeforeItsBlock", TWON_ARRAY, 0, Array(TWTY_STR32, 2) + Text("first", 34) + Text("second", 7),
         0, true},
        {"ALyingEnumerationInsideItsBlock", TWON_ENUMERATION, ICAP_PIXELTYPE,
         Enumeration(TWTY_UINT16, 1000000) + Of<TW_UINT16>(0) + Of<TW_UINT16>(1) + Of<TW_UINT16>(2) + Bytes(1, 1), 0, true},
        {"ALyingListOfFramesInsideItsBlock", TWON_ARRAY, ICAP_FRAMES, Array(TWTY_FRAME, 1000) + Bytes(40, 1), 0, true},
        {"Nothing", TWON_ENUMERATION, 0, Enumeration(TWTY_UINT16, 3), 2, false},
        {"Nothing", TWON_RANGE, 0, Range<TW_UINT32>(TWTY_UINT32, 1, 2, 3, 4, 5), 4, false},
        {"AnEnumerationOfExactlyItsFields", TWON_ENUMERATION, 0, Enumeration(TWTY_UINT16, 3), 0, true},
    };
    for (const auto& r : rows)
        for (bool unmapped : {false, true}) {
            SCOPED_TRACE(std::string(r.name) + (unmapped ? ", unmapped page" : ", PROT_NONE page"));
            const Bytes bytes(r.bytes.begin(), r.bytes.end() - r.cut);
            Guarded g(bytes, unmapped);
            EXPECT_EQ(Dump().Container(r.conType, r.cap, g.data(), r.sized ? bytes.size() : SIZE_MAX),
                      Golden("capabilities", r.name));
        }
}

// A block known to be too short for its container's own fields: the
// container's line, the note with the block's bytes, nothing read.
TEST(Bounds, AKnownBlockTooShortForItsFieldsSaysSo) {
    const struct {
        TW_UINT16 conType;
        const char* type;
        Bytes bytes;
    } rows[] = {
        {TWON_ENUMERATION, "TW_ENUMERATION", Enumeration(TWTY_UINT16, 3)},
        {TWON_ARRAY, "TW_ARRAY", Array(TWTY_UINT16, 3)},
        {TWON_ONEVALUE, "TW_ONEVALUE", OneValue(TWTY_UINT16, {})},
        {TWON_RANGE, "TW_RANGE", Range<TW_UINT32>(TWTY_UINT32, 1, 2, 3, 4, 5)},
    };
    for (const auto& r : rows)
        for (size_t shortBy : {size_t{1}, r.bytes.size()}) {  // one byte short; an empty block
            const Bytes bytes(r.bytes.begin(), r.bytes.end() - shortBy);
            Guarded g(bytes);
            EXPECT_EQ(Dump().Container(r.conType, 0, g.data(), bytes.size()),
                      Lines({Format("    %s = {", r.type),
                             Format("        !!! the container holds %zu bytes, too few for its header !!!", bytes.size()),
                             "    }"}))
                << r.type << " of " << bytes.size() << " bytes";
        }
}

TEST(Bounds, AListOfFourBillionItemsCostsOneLogTextBuffer) {
    // 400 items present, the page after them unreadable: a full buffer holds
    // fewer lines, so the list ends before reading past them.
    Bytes v = Array(TWTY_UINT32, 0xFFFFFFFF);
    for (TW_UINT32 i = 0; i < 400; ++i) Put(v, i);
    Guarded g(v);
    Dump d;
    const std::string text = d.Container(TWON_ARRAY, 0, g.data());
    EXPECT_TRUE(d.a.OutputCut());
    std::string whole = Lines({"    TW_ARRAY = {", "      ItemType = [TWTY_UINT32]", "      NumItems = [4294967295]",
                               "      ItemList = {"});
    for (size_t i = 0; whole.size() < kLogTextSize; ++i) whole += "        " + std::string(i < 10 ? "  " : i < 100 ? " " : "") +
                                                                 std::to_string(i) + ":" + std::to_string(i) + ",\r\n";
    EXPECT_EQ(text, whole.substr(0, kLogTextSize));
    // With no output buffer no item is read at all.
    CParaAnalyze a;
    a.SetOutput(nullptr, 0);
    a.MakeItemList(0, TWTY_UINT32, 0xFFFFFFFF, Guarded({}).data());
}

TEST(Bounds, ListsOverSeveralPagesAreReadWholeUpToTheUnreadablePage) {
    Bytes v = Array(TWTY_UINT32, 0xFFFFFFFF);
    const size_t present = (2 * static_cast<size_t>(sysconf(_SC_PAGESIZE)) + 2048 - v.size()) / sizeof(TW_UINT32);
    for (size_t i = 0; i < present; ++i) Put(v, static_cast<TW_UINT32>(i));
    Guarded g(v);
    Dump d;
    static char big[128 * 1024];
    d.a.SetOutput(big, sizeof big - 1);
    d.a.TwArrayAnalyze(0, reinterpret_cast<const TW_ARRAY*>(g.data()));
    const std::string n = std::to_string(present - 1), text = big;
    const std::string tail = "        " + n + ":" + n + ",\r\n        !!! list cut short: item " +
                             std::to_string(present) + " is not readable memory !!!\r\n      }\r\n    }\r\n";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
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
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    Guarded g(Bytes(2 * page, 0));
    const Bytes head = Array(TWTY_UINT16, 3000);
    memcpy(g.data() + page - 8, head.data(), head.size());
    Dump first, second;
    const std::string note = "        !!! memory checks refused by the system: reads are not checked !!!\r\n";
    const bool once = first.Container(TWON_ARRAY, ICAP_PIXELTYPE, g.data() + page - 8).find(note) != std::string::npos &&
                      second.Container(TWON_ARRAY, ICAP_PIXELTYPE, g.data() + page - 8).find(note) == std::string::npos;
    return once && first.a.OutputCut() ? 0 : 1;
}

TEST(Bounds, RefusedChecksFallBackToBoundedReadsAndSaySoOnce) {
    EXPECT_EXIT(_exit(ListsWithTheChecksRefused()), ::testing::ExitedWithCode(0), "");
}

#if defined(TRACELET_TWAIN_ABI_MACOS)

// A handle over memory the test owns, whose size the memory manager knows.
struct Borrowed {
    TwMasterPointerRecord record{};
    Borrowed(unsigned char* block, size_t size) {
        record.master = reinterpret_cast<char*>(block);
        record.magic = kTwMasterPointerMagic;
        record.size = size;
    }
    TW_HANDLE get() { return &record.master; }
};

TEST(Bounds, MacosReadsStopAtTheEndOfTheLockedBlock) {
    const Bytes list = Enumeration(TWTY_UINT16, 0xFFFFFFFF, 1, 1) + Of<TW_UINT16>(2) + Of<TW_UINT16>(1);
    Guarded g(list);
    Borrowed h(g.data(), list.size());
    EXPECT_EQ(Dump().Capability(ICAP_PIXELTYPE, TWON_ENUMERATION, h.get()), Golden("capabilities", "MacosLyingCount"));
    EXPECT_EQ(h.record.lockCount, 0u);  // unlocked again
}

TEST(Bounds, MacosAnEmptyOrUnknownHandleIsNeitherLockedNorRead) {
    const std::string none = Golden("capabilities", "ANullHandle");
    TW_HANDLE empty = NewHandleClear(0);
    EXPECT_EQ(Dump().Capability(ICAP_PIXELTYPE, TWON_ONEVALUE, empty), none);
    DisposeHandle(empty);
    Bytes v = OneValue(TWTY_UINT16, Of<TW_UINT32>(2));
    Borrowed unknown(v.data(), v.size());
    unknown.record.magic = 0;
    unknown.record.lockCount = 5;
    EXPECT_EQ(Dump().Capability(ICAP_PIXELTYPE, TWON_ONEVALUE, unknown.get()), none);
    EXPECT_EQ(unknown.record.lockCount, 5u);
}

#endif

}  // namespace
