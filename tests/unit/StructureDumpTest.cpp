// The structure dumps, one row per structure: the structure as an application
// or a source fills it, and its block as the log shows it (data/structures.txt).
// Values sit at the edges of their types (signs, widths, first-row names, texts
// without NUL) and every field differs from its neighbours, so a swapped field
// shows. Each structure is copied to an odd address at the very end of a heap
// block, so an unaligned or over-long read shows under the sanitizers.
#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "Golden.h"
#include "LogText.h"
#include "analyzer/ParaAnalyze.h"

namespace {

template <class T, class S>
std::string Dump(const T& v, bool (CParaAnalyze::*f)(const S*), TW_UINT16 msg = MSG_GET, TW_UINT16 dat = 0) {
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

TW_SETUPFILEXFER FileXfer(bool terminated) {
    TW_SETUPFILEXFER f{"/tmp/scan 0001.tif", 9, -1};
    if (!terminated) memset(f.FileName, 'b', sizeof f.FileName);
    if (!terminated) f.Format = 0x4242;  // right after the name
    return f;
}

struct ExtInfo {
    TW_EXTIMAGEINFO ext;
    TW_INFO more[2];  // entries past the first are never read
};

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
    {"Identity", [] { return Dump(Scanner(), &P::TwIdentityAnalyze); }},
    {"IdentityOpeningTheManager",
     [] { TW_IDENTITY id = Scanner(); id.Id = 4711; return Dump(id, &P::TwIdentityAnalyze, MSG_OPENDSM); }},
    {"VersionAllOnes", [] { return Dump(TW_VERSION{1, 0, 0xFFFF, 0xFFFF, "v"}, &P::TwVersionAnalyze); }},
    {"EventTransferReady", [] { return Dump(Event(MSG_XFERREADY), &P::TwEventAnalyze); }},
    {"EventVendor", [] { return Dump(Event(0x8002), &P::TwEventAnalyze); }},
    {"EventUnknown", [] { return Dump(Event(0x8003), &P::TwEventAnalyze); }},
    {"EventNull", [] { return Dump(Event(MSG_NULL), &P::TwEventAnalyze); }},
    {"PendingXfers", [] { return Dump(TW_PENDINGXFERS{65535, 4294967295u}, &P::TwPendingXfersAnalyze); }},
    {"SetupMemXfer", [] { return Dump(TW_SETUPMEMXFER{16384, 0x80000000u, 0xFFFFFFFFu}, &P::TwSetupMemXferAnalyze); }},
    {"SetupFileXfer", [] { return Dump(FileXfer(true), &P::TwSetupFileXferAnalyze); }},
    {"SetupFileXferWithoutNul", [] { return Dump(FileXfer(false), &P::TwSetupFileXferAnalyze); }},
    {"XferGroup", [] { return Dump(TW_UINT32{DG_IMAGE}, &P::TwUint32, 0, DAT_XFERGROUP); }},
    {"NativeXfer", [] { return Dump(Wide<TW_HANDLE>(0x7f3a9c0de5a8ull), &P::TwUint32, 0, DAT_IMAGENATIVEXFER); }},
    {"Uint32", [] { return Dump(TW_UINT32{0xFFFFFFFEu}, &P::TwUint32, 0, DAT_STATUS); }},
    {"Status", [] { return Dump(TW_STATUS{4, 0x1234}, &P::TwStatusAnalyze); }},
    {"UserInterface",
     [] { return Dump(TW_USERINTERFACE{2, 0, Wide<TW_HANDLE>(0x123400000abcull)}, &P::TwUserInterfaceAnalyze); }},
    {"CustomDsData",
     [] { return Dump(TW_CUSTOMDSDATA{0x80000000u, Wide<TW_HANDLE>(0xdeadbeefcafef00dull)}, &P::TwCustomDsDataAnalyze); }},
    {"ExtImageInfo",
     [] { return Dump(ExtInfo{{3, {{0x1200, TWTY_STR255, 1, TWRC_INFONOTSUPPORTED, 0xFFFFFFFFu}}}, {{0x1201, 0, 0, 0, 0}, {0x1201, 0, 0, 0, 0}}}.ext, &P::TwExtImageInfoAnalyze); }},
    {"Memory",
     [] { return Dump(TW_MEMORY{9, 0xFFFFFFFFu, Wide<TW_MEMREF>(0x5555000000f0ull)}, &P::TwMemoryAnalyze); }},
    {"ImageInfo", [] { return Dump(ImageInfo(TWPT_RGB, TWCP_NONE), &P::TwImageInfoAnalyze); }},
    {"ImageInfoUnknownValues", [] { return Dump(ImageInfo(-1, 0xFFFF), &P::TwImageInfoAnalyze); }},
    {"ImageLayout",
     [] { return Dump(TW_IMAGELAYOUT{{Fix(0, 32768), Fix(-1, 32768), Fix(8, 32768), Fix(11)}, 1, 0x80000000u, 0xFFFFFFFFu}, &P::TwImageLayoutAnalyze); }},
    {"ImageMemXfer", [] { return Dump(MemXfer(), &P::TwImageMemXferAnalyze); }},
    {"JpegCompression", [] { return Dump(Jpeg(), &P::TwJpegCompressionAnalyze); }},
    {"Palette8", [] { return Dump(TW_PALETTE8{256, 0, {}}, &P::TwPalette8Analyze); }},
    {"GrayResponse", [] { return Dump(Responses(), &P::TwGrayResponseAnalyze); }},
    {"RgbResponse", [] { return Dump(Responses(), &P::TwRgbResponseAnalyze); }},
    {"CieColor", [] { return Dump(CieColor(), &P::TwCieColorAnalyze); }},
    {"AutoExposure", [] { return Dump(Exposure(1, 0), &P::TwNvAutoExposureAnalyze); }},
    {"AutoExposureUnknownValues", [] { return Dump(Exposure(0xFFFF, 2), &P::TwNvAutoExposureAnalyze); }},
    {"RgbMatrix", [] { TWNV_RGBMATRIX v; Count<TW_FIX32>(v.ColorCoeff, 9, -4); return Dump(v, &P::TwNvRgbMatrixAnalyze); }},
    {"ColorSmoothing",
     [] { return Dump(TWNV_COLORSMOOTHING{0x12, 1, 2, 3, 4, 5, 6, 7, 0x80000000u, 0xFFFFFFFFu}, &P::TwNvColorSmoothingAnalyze); }},
    {"HardwareInfo", [] { return Dump(Hardware(), &P::TwHardwareInfoAnalyze); }},
    {"HardwareInfoWithoutNul",  // lying lengths, no NUL in any text: each text its field, the block whole
     [] { TWNV_HARDWAREINFO v; memset(&v, 'Z', sizeof v); return Dump(v, &P::TwHardwareInfoAnalyze); }},
    {"SkewInfo", [] { return Dump(Skew(), &P::TwNvSkewInfoAnalyze); }},
    {"UnsharpMask", [] { return Dump(Usm(), &P::TwUnsharpMaskAnalyze); }},
    {"SettingFrame", [] { return Dump(TWNV_SETTINGFRAME{0xFFFF, 3}, &P::TwNvSettingFrameAnalyze); }},
    {"UsmInfo",
     [] { return Dump(TWNV_USMINFO{0xFFFF, 2, 1, Usm(), {{10, 11, 12, 13}, {65532, 65533, 65534, 65535}, 0xFFFF}}, &P::TwNvUsmInfoAnalyze); }},
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

}  // namespace
