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

TW_IDENTITY Scanner() {
    TW_IDENTITY id{};
    id.Id = 4711;
    id.Version = TW_VERSION{3, 12, 2, 1, "3.12 build 7"};
    id.ProtocolMajor = 2;
    id.ProtocolMinor = 4;
    id.SupportedGroups = 0xFFFFFFFFu;
    strcpy(id.Manufacturer, "Example Imaging");
    strcpy(id.ProductFamily, "Flatbed");
    strcpy(id.ProductName, "Model 9000");
    return id;
}

TW_IDENTITY Unterminated() {  // no NUL in three texts; one that ends early
    TW_IDENTITY id = Scanner();
    memset(id.Manufacturer, 'M', sizeof id.Manufacturer);
    memcpy(id.ProductFamily, "Flat\0bed", 9);
    memset(id.ProductName, 'N', sizeof id.ProductName);  // the last member
    memset(id.Version.Info, 'I', sizeof id.Version.Info);
    return id;
}

TW_VERSION Version(TW_UINT16 language, TW_UINT16 country) { return TW_VERSION{1, 0, language, country, "v"}; }

TW_EVENT Event(TW_UINT16 msg) { return TW_EVENT{Wide<TW_MEMREF>(0x7f00000012abull), msg}; }

TW_SETUPFILEXFER FileXfer(bool terminated) {
    TW_SETUPFILEXFER f{};
    if (terminated)
        strcpy(f.FileName, "/tmp/scan 0001.tif");
    else
        memset(f.FileName, 'b', sizeof f.FileName);
    f.Format = terminated ? 9 : 0x4242;  // right after the name
    f.VRefNum = -1;
    return f;
}

struct ExtInfo {
    TW_EXTIMAGEINFO ext;
    TW_INFO more[2];  // entries past the first are never read
};
ExtInfo Ext() {
    ExtInfo r{};
    r.ext.NumInfos = 3;
    r.ext.Info[0] = TW_INFO{0x1200, TWTY_STR255, 1, TWRC_INFONOTSUPPORTED, 0xFFFFFFFFu};
    r.more[0].InfoID = r.more[1].InfoID = 0x1201;
    return r;
}

TW_IMAGEINFO ImageInfo(TW_INT16 pixelType, TW_UINT16 compression) {
    TW_IMAGEINFO info{};
    info.XResolution = Fix(300);
    info.YResolution = Fix(600, 32768);
    info.ImageWidth = 2550;
    info.ImageLength = -1;
    info.SamplesPerPixel = 1;  // still eight values
    info.BitsPerSample[0] = 8;
    info.BitsPerSample[7] = -32768;
    info.BitsPerPixel = 8;
    info.Planar = 0x100;
    info.PixelType = pixelType;
    info.Compression = compression;
    return info;
}

TW_IMAGELAYOUT Layout() {
    return TW_IMAGELAYOUT{{Fix(0, 32768), Fix(-1, 32768), Fix(8, 32768), Fix(11)}, 1, 0x80000000u, 0xFFFFFFFFu};
}

TW_IMAGEMEMXFER MemXfer() {
    TW_IMAGEMEMXFER x{5, 7650, 2550, 64, 0, 3264, 0xFFFFFFFFu, {}};
    x.Memory = TW_MEMORY{TWMF_APPOWNS | TWMF_POINTER, 489600, Wide<TW_MEMREF>(0x7ffd0badf00dull)};
    return x;
}

TW_JPEGCOMPRESSION Jpeg() {
    TW_JPEGCOMPRESSION j{};
    j.ColorSpace = TWPT_GRAY;
    j.SubSampling = 0xFFFFFFFFu;
    j.NumComponents = 3;
    j.RestartFrequency = 65535;
    const TW_UINT16 quant[4] = {0, 1, 1, 0}, huff[4] = {0, 65535, 1, 2};
    for (int i = 0; i < 4; ++i) {
        j.QuantMap[i] = quant[i];
        j.HuffmanMap[i] = huff[i];
        j.QuantTable[i] = TW_MEMORY{TWMF_DSOWNS, 64u + i, Wide<TW_MEMREF>(0x1000 + i)};
    }
    for (int i = 0; i < 2; ++i) {
        j.HuffmanDC[i] = TW_MEMORY{0, 28u + i, Wide<TW_MEMREF>(0x2000 + i)};
        j.HuffmanAC[i] = TW_MEMORY{0, 178u + i, Wide<TW_MEMREF>(0x3000 + i)};
    }
    return j;
}

struct Response {
    TW_ELEMENT8 element[256];  // as long as the bit depth asks; only the first is shown
};
Response Responses() {
    Response r;
    for (int i = 0; i < 256; ++i) r.element[i] = TW_ELEMENT8{static_cast<TW_UINT8>(i), 1, 2, 3};
    r.element[0] = TW_ELEMENT8{200, 128, 255, 0};
    return r;
}

void Fill(TW_DECODEFUNCTION& d, int base) {  // eight values, each its own
    TW_FIX32 f[8];
    for (int k = 0; k < 8; ++k) f[k] = Fix(static_cast<TW_INT16>(base + k));
    memcpy(&d, f, sizeof f);
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
    for (int i = 0; i < 3; ++i) {
        Fill(s.c.StageABC.Decode[i], 100 * i);
        Fill(s.c.StageLMN.Decode[i], -100 * i - 10);
        for (int j = 0; j < 3; ++j) s.c.StageABC.Mix[i][j] = Fix(static_cast<TW_INT16>(10 * i + j));
    }
    s.c.StageLMN.Decode[2].Gamma = Fix(2, 13107);
    s.c.WhitePoint = TW_CIEPOINT{Fix(95, 2753), Fix(100), Fix(108, 58982)};
    s.c.BlackPoint = TW_CIEPOINT{Fix(4), Fix(5), Fix(6)};
    s.c.WhitePaper = TW_CIEPOINT{Fix(7), Fix(8), Fix(9)};
    s.c.BlackInk = TW_CIEPOINT{Fix(-1), Fix(-2), Fix(-3)};
    s.c.Samples[0] = Fix(-5, 49152);
    s.more[0] = s.more[1] = Fix(77);
    return s;
}

TWNV_AUTOEXPOSURE Exposure(TW_UINT16 filmType, TW_UINT16 gamma) {
    // Handle, Left, Top, Right, Bottom, FilmType, PreScanGamma, ScreenGamma (-1 + 0.5), GrayBalance
    return TWNV_AUTOEXPOSURE{0xffffffff, -1, 20, 3000, -32768, filmType, gamma, Fix(-1, 0x8000), 0xFFFF};
}

void Identity(TW_FIX32 (&m)[9]) {
    for (int i = 0; i < 9; ++i) m[i] = Fix(i % 4 == 0 ? 1 : 0);
}

void SetPascal(TWNV_STR32P& field, const char* text) {
    memset(field, 0, sizeof field);
    field[0] = static_cast<unsigned char>(strlen(text));
    memcpy(field + 1, text, strlen(text));
}

TWNV_HARDWAREINFO Hardware() {
    TWNV_HARDWAREINFO v;
    memset(&v, 0, sizeof v);
    v.ModelID = 0xABCDEF12;
    SetPascal(v.ProductName, "Vistrel 9000");
    SetPascal(v.ModelName, "V9K-F");
    const TW_UINT32 words[] = {4800, 9600, 50, 0xFFFFFFFF, 600, 40800, 1, 2, 3, 4, 5, 6};
    memcpy(&v.OptXResolution, words, sizeof words);  // the resolutions, then the pixel sizes
    v.InterfaceSupport = 0xFFFF;
    v.CommandType = 2;
    v.StandAloneModeSupport = 0x0200;  // the flag at offset 136, not the interface type
    v.FullAutoModeSupport = 1;
    v.DocumentModeSupport = 2;
    v.HMPSupport = 0xFFFF;
    v.AutoLayoutSupportFB = v.HalftoneSupport = v.HTDitherSupport = 1;
    v.HTTETSupport = 0x100;
    v.Reserved1 = 0xBEEF;  // reserved bytes print no line
    v.Reserved2[1] = 0xBEEF;
    v.TableArrangement = 1;
    v.OptionSupport = 0x1A;
    v.FocusSupport = 2;
    v.FocusArea[0] = 100;
    v.FocusArea[1] = 0x80000000u;
    strcpy(v.ProfileNameFB, "Reflective.icc");
    memset(v.ProfileNameTPU, 'T', sizeof v.ProfileNameTPU);  // no NUL: its 34 bytes only
    for (TW_FIX32* m : {v.ColorCorrectionPOSI, v.ColorCorrectionNEGA, v.HMPColorCorrectionFB,
                        v.HMPColorCorrectionPOSI})
        memset(m, 0x7F, 9 * sizeof *m);
    Identity(v.ColorCorrectionFB);
    Identity(v.HMPColorCorrectionNEGA);
    v.ColorCorrectionNEGA[0] = Fix(-32768);
    v.ColorCorrectionNEGA[8] = Fix(-1, 0x4000);
    memcpy(v.ROMVersion, "2.10\0junk", 9);
    return v;
}

TWNV_USMPARAM Usm() { return TWNV_USMPARAM{-5, 32767, static_cast<TW_INT16>(0x8000)}; }

TWNV_USMINFO UsmInfo() {
    TWNV_USMINFO v{0xFFFF, 2, 1, Usm(), {}};
    v.ReviseParm.InputRevise = TWNV_THRESHOLDINFO{10, 11, 12, 13};
    v.ReviseParm.OutputRevise = TWNV_THRESHOLDINFO{65532, 65533, 65534, 65535};
    v.ReviseParm.BlurMax = 0xFFFF;
    return v;
}

TWNV_RGBMATRIX Matrix() {
    return TWNV_RGBMATRIX{{Fix(-32768), Fix(32767, 0xFFFF), Fix(-2, 0x4000), Fix(0, 0x8000), Fix(1), Fix(2),
                           Fix(0, 1), Fix(4), Fix(-1)}};
}

TWNV_LOCATIONDATA Skew() {
    TWNV_LOCATIONDATA v{};
    v.BitsPerPixel = -1;
    v.Reserved = 0xBEEF;
    const TW_UINT32 words[] = {11, 12, 13, 14, 15, 16, 0xFFFFFFFF, 18};
    memcpy(&v.topPoint, words, sizeof words);
    v.Theta = Fix(-3, 0xC000);
    return v;
}

using P = CParaAnalyze;
const std::pair<const char*, std::function<std::string()>> kRows[] = {
    {"Identity", [] { return Dump(Scanner(), &P::TwIdentityAnalyze); }},
    {"IdentityOpeningTheManager", [] { return Dump(Scanner(), &P::TwIdentityAnalyze, MSG_OPENDSM); }},
    {"IdentityWithoutNul", [] { return Dump(Unterminated(), &P::TwIdentityAnalyze); }},
    {"VersionDanishFrance", [] { return Dump(Version(0, 33), &P::TwVersionAnalyze); }},
    {"VersionUsaAndorra", [] { return Dump(Version(13, 27), &P::TwVersionAnalyze); }},
    {"VersionAllOnes", [] { return Dump(Version(0xFFFF, 0xFFFF), &P::TwVersionAnalyze); }},
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
    {"ExtImageInfo", [] { return Dump(Ext().ext, &P::TwExtImageInfoAnalyze); }},
    {"Memory",
     [] { return Dump(TW_MEMORY{9, 0xFFFFFFFFu, Wide<TW_MEMREF>(0x5555000000f0ull)}, &P::TwMemoryAnalyze); }},
    {"ImageInfo", [] { return Dump(ImageInfo(TWPT_RGB, TWCP_NONE), &P::TwImageInfoAnalyze); }},
    {"ImageInfoUnknownValues", [] { return Dump(ImageInfo(-1, 0xFFFF), &P::TwImageInfoAnalyze); }},
    {"ImageLayout", [] { return Dump(Layout(), &P::TwImageLayoutAnalyze); }},
    {"ImageMemXfer", [] { return Dump(MemXfer(), &P::TwImageMemXferAnalyze); }},
    {"JpegCompression", [] { return Dump(Jpeg(), &P::TwJpegCompressionAnalyze); }},
    {"Palette8", [] { return Dump(TW_PALETTE8{256, 0, {}}, &P::TwPalette8Analyze); }},
    {"GrayResponse", [] { return Dump(Responses(), &P::TwGrayResponseAnalyze); }},
    {"RgbResponse", [] { return Dump(Responses(), &P::TwRgbResponseAnalyze); }},
    {"CieColor", [] { return Dump(CieColor(), &P::TwCieColorAnalyze); }},
    {"AutoExposure", [] { return Dump(Exposure(1, 0), &P::TwNvAutoExposureAnalyze); }},
    {"AutoExposureUnknownValues", [] { return Dump(Exposure(0xFFFF, 2), &P::TwNvAutoExposureAnalyze); }},
    {"RgbMatrix", [] { return Dump(Matrix(), &P::TwNvRgbMatrixAnalyze); }},
    {"ColorSmoothing",
     [] { return Dump(TWNV_COLORSMOOTHING{0x12, 1, 2, 3, 4, 5, 6, 7, 0x80000000u, 0xFFFFFFFFu}, &P::TwNvColorSmoothingAnalyze); }},
    {"HardwareInfo", [] { return Dump(Hardware(), &P::TwHardwareInfoAnalyze); }},
    {"SkewInfo", [] { return Dump(Skew(), &P::TwNvSkewInfoAnalyze); }},
    {"UnsharpMask", [] { return Dump(Usm(), &P::TwUnsharpMaskAnalyze); }},
    {"SettingFrame", [] { return Dump(TWNV_SETTINGFRAME{0xFFFF, 3}, &P::TwNvSettingFrameAnalyze); }},
    {"UsmInfo", [] { return Dump(UsmInfo(), &P::TwNvUsmInfoAnalyze); }},
};

TEST(StructureDump, EachStructurePrintsItsBlockLineForLine) {
    for (const auto& row : kRows) EXPECT_EQ(row.second(), Golden("structures", row.first)) << row.first;
}

TEST(StructureDump, VendorTextsTakeTheirLengthCutToTheFieldAndNeverLeaveTheStructure) {
    TWNV_HARDWAREINFO v = Hardware();
    memset(v.ProductName, 'P', sizeof v.ProductName);
    v.ProductName[0] = 255;                      // a lying length: the 33 characters the field holds
    memcpy(v.ModelName, "\x05" "ab\0cd", 6);     // a NUL among the characters ends the text
    std::string text = Dump(v, &P::TwHardwareInfoAnalyze);
    EXPECT_EQ(LineOf(text, "    ProductName"), "    ProductName            = [" + std::string(33, 'P') + "]");
    EXPECT_EQ(LineOf(text, "    ModelName"), "    ModelName              = [ab]");
    // No NUL anywhere, every number at its widest: each text its field, and
    // the block fits the log text whole.
    memset(&v, 0xFF, sizeof v);
    text = Dump(v, &P::TwHardwareInfoAnalyze);
    EXPECT_EQ(LineOf(text, "    ModelName"), "    ModelName              = [" + std::string(33, '\xFF') + "]");
    EXPECT_EQ(LineOf(text, "    ROMVersion"), "    ROMVersion             = [" + std::string(34, '\xFF') + "]");
    EXPECT_EQ(text.substr(text.size() - 5), "  }\r\n");
}

#if defined(TRACELET_TWAIN_ABI_MACOS)
TEST(StructureDump, APointerSizedIdPrintsAsASigned64BitNumber) {
    TW_IDENTITY id = Scanner();
    id.Id = static_cast<TW_UINTPTR>(-2);
    EXPECT_EQ(LineOf(Dump(id, &P::TwIdentityAnalyze), "    Id "), "    Id              = [-2]");
}
#else
TEST(StructureDump, A32BitIdPrintsUnsigned) {
    TW_IDENTITY id = Scanner();
    id.Id = 0xFFFFFFFFu;
    EXPECT_EQ(LineOf(Dump(id, &P::TwIdentityAnalyze), "    Id "), "    Id              = [4294967295]");
}
#endif

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
