// Tracelet: the vendor-extension structures (TWNV_*) that an application and
// the companion data source exchange through the DAT_NV_* operations.
//
// They are no part of the TWAIN standard. Their byte offsets are a contract
// of their own and are the same under both TWAIN layouts, so they are
// declared with 2-byte packing everywhere. The static asserts at the end of
// this header pin every offset and every size; a change that moves a field
// does not compile.
#ifndef TRACELET_TWAIN_NV_H
#define TRACELET_TWAIN_NV_H

#include "tracelet/twain.h"

#pragma pack(push, 2)

typedef struct {
    TW_UINT32 Handle;
    TW_INT16 Left;
    TW_INT16 Top;
    TW_INT16 Right;
    TW_INT16 Bottom;
    TW_UINT16 FilmType;
    TW_UINT16 PreScanGamma;
    TW_FIX32 ScreenGamma;
    TW_UINT16 GrayBalance;
} TWNV_AUTOEXPOSURE, *pTWNV_AUTOEXPOSURE;

typedef struct {
    TW_FIX32 ColorCoeff[9];
} TWNV_RGBMATRIX, *pTWNV_RGBMATRIX;

typedef struct {
    TW_UINT32 Handle;
    TW_UINT32 LeftX;
    TW_UINT32 LeftY;
    TW_UINT32 TopX;
    TW_UINT32 TopY;
    TW_UINT32 RightX;
    TW_UINT32 RightY;
    TW_UINT32 BottomX;
    TW_UINT32 BottomY;
    TW_UINT32 Reserved;
} TWNV_COLORSMOOTHING, *pTWNV_COLORSMOOTHING;

// Pascal string: a length byte, then the characters.
typedef unsigned char TWNV_STR32P[34];

typedef struct {
    TW_UINT32 ModelID;
    TWNV_STR32P ProductName;
    TWNV_STR32P ModelName;
    TW_UINT32 OptXResolution;
    TW_UINT32 OptYResolution;
    TW_UINT32 MinResolution;
    TW_UINT32 MaxResolution;
    TW_UINT32 MaxMoireResolution;
    TW_UINT32 MaxPixelofWidth;
    TW_UINT32 PixelSizeofFB[2];
    TW_UINT32 PixelSizeofADF[2];
    TW_UINT32 PixelSizeofTPU[2];
    TW_UINT32 BitDepth;
    TW_UINT16 InterfaceSupport;
    TW_UINT16 Reserved1;
    TW_UINT32 CommandType;
    TW_UINT32 ConnectInterfaceType;
    // Eight bytes (136 to 143) that no other field covers. The first two
    // hold the stand-alone mode flag, read like the 16-bit flags after it
    // (zero is false, anything else true); the six after it are reserved
    // and never printed. The flag's line does not look at
    // ConnectInterfaceType.
    TW_UINT16 StandAloneModeSupport;
    TW_UINT16 Reserved2[3];
    TW_UINT16 FullAutoModeSupport;
    TW_UINT16 SimpleModeSupport;
    TW_UINT16 DocumentModeSupport;
    TW_UINT16 AdvancedModeSupport;
    TW_UINT16 HMPSupport;
    TW_UINT16 FIT3;
    TW_UINT16 AutoLayoutSupportFB;
    TW_UINT16 AutoLayoutSupportADF;
    TW_UINT16 HalftoneSupport;
    TW_UINT16 HTModeSupport;
    TW_UINT16 HTDitherSupport;
    TW_UINT16 HTAASSupport;
    TW_UINT16 HTTETSupport;
    TW_UINT16 TableArrangement;
    TW_UINT16 OptionSupport;
    TW_UINT16 FocusSupport;
    TW_UINT32 FocusArea[2];
    TW_STR32 ProfileNameFB;
    TW_STR32 ProfileNameTPU;
    TW_FIX32 ColorCorrectionFB[9];
    TW_FIX32 ColorCorrectionPOSI[9];
    TW_FIX32 ColorCorrectionNEGA[9];
    TW_FIX32 HMPColorCorrectionFB[9];
    TW_FIX32 HMPColorCorrectionPOSI[9];
    TW_FIX32 HMPColorCorrectionNEGA[9];
    // NUL-terminated text whose extent the vendor leaves open. It is read
    // as a 34-byte text field like the other texts here: the structure ends
    // after it (502 bytes), and a version with no NUL in those 34 bytes
    // prints its 34 bytes, never more.
    TW_STR32 ROMVersion;
} TWNV_HARDWAREINFO, *pTWNV_HARDWAREINFO;

typedef struct {
    TW_INT16 BitsPerPixel;
    TW_UINT16 Reserved;
    TW_UINT32 topPoint;
    TW_UINT32 leftPoint;
    TW_UINT32 locateW;
    TW_UINT32 locateH;
    TW_UINT32 ActualImgW;
    TW_UINT32 ActualImgH;
    TW_UINT32 xTangent;
    TW_UINT32 yTangent;
    TW_FIX32 Theta;
} TWNV_LOCATIONDATA, *pTWNV_LOCATIONDATA;

typedef struct {
    TW_INT16 Amount;
    TW_INT16 Radius;
    TW_INT16 Threshold;
} TWNV_USMPARAM, *pTWNV_USMPARAM;

typedef struct {
    TW_UINT16 NumFrame;
    TW_UINT16 CurrentNum;
} TWNV_SETTINGFRAME, *pTWNV_SETTINGFRAME;

typedef struct {
    TW_UINT16 ShadowL;
    TW_UINT16 ShadowH;
    TW_UINT16 HighlightH;
    TW_UINT16 HighlightL;
} TWNV_THRESHOLDINFO, *pTWNV_THRESHOLDINFO;

typedef struct {
    TWNV_THRESHOLDINFO InputRevise;
    TWNV_THRESHOLDINFO OutputRevise;
    TW_UINT16 BlurMax;
} TWNV_REVISEBASEPARM, *pTWNV_REVISEBASEPARM;

typedef struct {
    TW_UINT16 InputResolution;
    TW_UINT16 InUSMLevel;
    TW_UINT16 InFilmType;
    TWNV_USMPARAM USMParm;
    TWNV_REVISEBASEPARM ReviseParm;
} TWNV_USMINFO, *pTWNV_USMINFO;

#pragma pack(pop)

#if defined(__cplusplus)
// The vendor layout, offset by offset. The same numbers hold under both
// TWAIN layouts (see twain.h): 2-byte packing, TW_FIX32 4 bytes, TW_STR32
// and the Pascal strings 34 bytes.
#define TRACELET_NV_AT(type, field, offset) \
    static_assert(offsetof(type, field) == (offset), #type "." #field " is at " #offset)

static_assert(sizeof(TW_FIX32) == 4, "TW_FIX32 is 4 bytes");
static_assert(sizeof(TW_STR32) == 34, "TW_STR32 is 34 bytes");
static_assert(sizeof(TWNV_STR32P) == 34, "a vendor Pascal string is 34 bytes");

TRACELET_NV_AT(TWNV_AUTOEXPOSURE, Handle, 0);
TRACELET_NV_AT(TWNV_AUTOEXPOSURE, Left, 4);
TRACELET_NV_AT(TWNV_AUTOEXPOSURE, Top, 6);
TRACELET_NV_AT(TWNV_AUTOEXPOSURE, Right, 8);
TRACELET_NV_AT(TWNV_AUTOEXPOSURE, Bottom, 10);
TRACELET_NV_AT(TWNV_AUTOEXPOSURE, FilmType, 12);
TRACELET_NV_AT(TWNV_AUTOEXPOSURE, PreScanGamma, 14);
TRACELET_NV_AT(TWNV_AUTOEXPOSURE, ScreenGamma, 16);
TRACELET_NV_AT(TWNV_AUTOEXPOSURE, GrayBalance, 20);
static_assert(sizeof(TWNV_AUTOEXPOSURE) == 22, "TWNV_AUTOEXPOSURE is 22 bytes");

TRACELET_NV_AT(TWNV_RGBMATRIX, ColorCoeff, 0);
static_assert(sizeof(TWNV_RGBMATRIX) == 36, "TWNV_RGBMATRIX is 36 bytes");

TRACELET_NV_AT(TWNV_COLORSMOOTHING, Handle, 0);
TRACELET_NV_AT(TWNV_COLORSMOOTHING, LeftX, 4);
TRACELET_NV_AT(TWNV_COLORSMOOTHING, LeftY, 8);
TRACELET_NV_AT(TWNV_COLORSMOOTHING, TopX, 12);
TRACELET_NV_AT(TWNV_COLORSMOOTHING, TopY, 16);
TRACELET_NV_AT(TWNV_COLORSMOOTHING, RightX, 20);
TRACELET_NV_AT(TWNV_COLORSMOOTHING, RightY, 24);
TRACELET_NV_AT(TWNV_COLORSMOOTHING, BottomX, 28);
TRACELET_NV_AT(TWNV_COLORSMOOTHING, BottomY, 32);
TRACELET_NV_AT(TWNV_COLORSMOOTHING, Reserved, 36);
static_assert(sizeof(TWNV_COLORSMOOTHING) == 40, "TWNV_COLORSMOOTHING is 40 bytes");

TRACELET_NV_AT(TWNV_HARDWAREINFO, ModelID, 0);
TRACELET_NV_AT(TWNV_HARDWAREINFO, ProductName, 4);
TRACELET_NV_AT(TWNV_HARDWAREINFO, ModelName, 38);
TRACELET_NV_AT(TWNV_HARDWAREINFO, OptXResolution, 72);
TRACELET_NV_AT(TWNV_HARDWAREINFO, OptYResolution, 76);
TRACELET_NV_AT(TWNV_HARDWAREINFO, MinResolution, 80);
TRACELET_NV_AT(TWNV_HARDWAREINFO, MaxResolution, 84);
TRACELET_NV_AT(TWNV_HARDWAREINFO, MaxMoireResolution, 88);
TRACELET_NV_AT(TWNV_HARDWAREINFO, MaxPixelofWidth, 92);
TRACELET_NV_AT(TWNV_HARDWAREINFO, PixelSizeofFB, 96);
TRACELET_NV_AT(TWNV_HARDWAREINFO, PixelSizeofADF, 104);
TRACELET_NV_AT(TWNV_HARDWAREINFO, PixelSizeofTPU, 112);
TRACELET_NV_AT(TWNV_HARDWAREINFO, BitDepth, 120);
TRACELET_NV_AT(TWNV_HARDWAREINFO, InterfaceSupport, 124);
TRACELET_NV_AT(TWNV_HARDWAREINFO, Reserved1, 126);
TRACELET_NV_AT(TWNV_HARDWAREINFO, CommandType, 128);
TRACELET_NV_AT(TWNV_HARDWAREINFO, ConnectInterfaceType, 132);
TRACELET_NV_AT(TWNV_HARDWAREINFO, StandAloneModeSupport, 136);
TRACELET_NV_AT(TWNV_HARDWAREINFO, Reserved2, 138);
TRACELET_NV_AT(TWNV_HARDWAREINFO, FullAutoModeSupport, 144);
TRACELET_NV_AT(TWNV_HARDWAREINFO, SimpleModeSupport, 146);
TRACELET_NV_AT(TWNV_HARDWAREINFO, DocumentModeSupport, 148);
TRACELET_NV_AT(TWNV_HARDWAREINFO, AdvancedModeSupport, 150);
TRACELET_NV_AT(TWNV_HARDWAREINFO, HMPSupport, 152);
TRACELET_NV_AT(TWNV_HARDWAREINFO, FIT3, 154);
TRACELET_NV_AT(TWNV_HARDWAREINFO, AutoLayoutSupportFB, 156);
TRACELET_NV_AT(TWNV_HARDWAREINFO, AutoLayoutSupportADF, 158);
TRACELET_NV_AT(TWNV_HARDWAREINFO, HalftoneSupport, 160);
TRACELET_NV_AT(TWNV_HARDWAREINFO, HTModeSupport, 162);
TRACELET_NV_AT(TWNV_HARDWAREINFO, HTDitherSupport, 164);
TRACELET_NV_AT(TWNV_HARDWAREINFO, HTAASSupport, 166);
TRACELET_NV_AT(TWNV_HARDWAREINFO, HTTETSupport, 168);
TRACELET_NV_AT(TWNV_HARDWAREINFO, TableArrangement, 170);
TRACELET_NV_AT(TWNV_HARDWAREINFO, OptionSupport, 172);
TRACELET_NV_AT(TWNV_HARDWAREINFO, FocusSupport, 174);
TRACELET_NV_AT(TWNV_HARDWAREINFO, FocusArea, 176);
TRACELET_NV_AT(TWNV_HARDWAREINFO, ProfileNameFB, 184);
TRACELET_NV_AT(TWNV_HARDWAREINFO, ProfileNameTPU, 218);
TRACELET_NV_AT(TWNV_HARDWAREINFO, ColorCorrectionFB, 252);
TRACELET_NV_AT(TWNV_HARDWAREINFO, ColorCorrectionPOSI, 288);
TRACELET_NV_AT(TWNV_HARDWAREINFO, ColorCorrectionNEGA, 324);
TRACELET_NV_AT(TWNV_HARDWAREINFO, HMPColorCorrectionFB, 360);
TRACELET_NV_AT(TWNV_HARDWAREINFO, HMPColorCorrectionPOSI, 396);
TRACELET_NV_AT(TWNV_HARDWAREINFO, HMPColorCorrectionNEGA, 432);
TRACELET_NV_AT(TWNV_HARDWAREINFO, ROMVersion, 468);
static_assert(sizeof(TWNV_HARDWAREINFO) == 502, "TWNV_HARDWAREINFO is 502 bytes (ROMVersion 34)");

TRACELET_NV_AT(TWNV_LOCATIONDATA, BitsPerPixel, 0);
TRACELET_NV_AT(TWNV_LOCATIONDATA, Reserved, 2);
TRACELET_NV_AT(TWNV_LOCATIONDATA, topPoint, 4);
TRACELET_NV_AT(TWNV_LOCATIONDATA, leftPoint, 8);
TRACELET_NV_AT(TWNV_LOCATIONDATA, locateW, 12);
TRACELET_NV_AT(TWNV_LOCATIONDATA, locateH, 16);
TRACELET_NV_AT(TWNV_LOCATIONDATA, ActualImgW, 20);
TRACELET_NV_AT(TWNV_LOCATIONDATA, ActualImgH, 24);
TRACELET_NV_AT(TWNV_LOCATIONDATA, xTangent, 28);
TRACELET_NV_AT(TWNV_LOCATIONDATA, yTangent, 32);
TRACELET_NV_AT(TWNV_LOCATIONDATA, Theta, 36);
static_assert(sizeof(TWNV_LOCATIONDATA) == 40, "TWNV_LOCATIONDATA is 40 bytes");

TRACELET_NV_AT(TWNV_USMPARAM, Amount, 0);
TRACELET_NV_AT(TWNV_USMPARAM, Radius, 2);
TRACELET_NV_AT(TWNV_USMPARAM, Threshold, 4);
static_assert(sizeof(TWNV_USMPARAM) == 6, "TWNV_USMPARAM is 6 bytes");

TRACELET_NV_AT(TWNV_SETTINGFRAME, NumFrame, 0);
TRACELET_NV_AT(TWNV_SETTINGFRAME, CurrentNum, 2);
static_assert(sizeof(TWNV_SETTINGFRAME) == 4, "TWNV_SETTINGFRAME is 4 bytes");

TRACELET_NV_AT(TWNV_THRESHOLDINFO, ShadowL, 0);
TRACELET_NV_AT(TWNV_THRESHOLDINFO, ShadowH, 2);
TRACELET_NV_AT(TWNV_THRESHOLDINFO, HighlightH, 4);
TRACELET_NV_AT(TWNV_THRESHOLDINFO, HighlightL, 6);
static_assert(sizeof(TWNV_THRESHOLDINFO) == 8, "TWNV_THRESHOLDINFO is 8 bytes");

TRACELET_NV_AT(TWNV_REVISEBASEPARM, InputRevise, 0);
TRACELET_NV_AT(TWNV_REVISEBASEPARM, OutputRevise, 8);
TRACELET_NV_AT(TWNV_REVISEBASEPARM, BlurMax, 16);
static_assert(sizeof(TWNV_REVISEBASEPARM) == 18, "TWNV_REVISEBASEPARM is 18 bytes");

TRACELET_NV_AT(TWNV_USMINFO, InputResolution, 0);
TRACELET_NV_AT(TWNV_USMINFO, InUSMLevel, 2);
TRACELET_NV_AT(TWNV_USMINFO, InFilmType, 4);
TRACELET_NV_AT(TWNV_USMINFO, USMParm, 6);
TRACELET_NV_AT(TWNV_USMINFO, ReviseParm, 12);
static_assert(sizeof(TWNV_USMINFO) == 30, "TWNV_USMINFO is 30 bytes");

#undef TRACELET_NV_AT

// The size of the structure behind pData for a data argument type, standard
// or vendor, under this build's layout: DAT_IMAGENATIVEXFER and DAT_PARENT
// pass the address of a handle, DAT_XFERGROUP of a TW_UINT32. 0 for a type
// whose pData is not one fixed structure here. DAT_EXTIMAGEINFO is its
// declared structure, with one TW_INFO.
constexpr size_t TwainStructureSize(TW_UINT16 dat) {
    switch (dat) {
        case DAT_CAPABILITY: return sizeof(TW_CAPABILITY);
        case DAT_EVENT: return sizeof(TW_EVENT);
        case DAT_IDENTITY: return sizeof(TW_IDENTITY);
        case DAT_PARENT: return sizeof(TW_HANDLE);
        case DAT_PENDINGXFERS: return sizeof(TW_PENDINGXFERS);
        case DAT_SETUPMEMXFER: return sizeof(TW_SETUPMEMXFER);
        case DAT_SETUPFILEXFER: return sizeof(TW_SETUPFILEXFER);
        case DAT_STATUS: return sizeof(TW_STATUS);
        case DAT_USERINTERFACE: return sizeof(TW_USERINTERFACE);
        case DAT_XFERGROUP: return sizeof(TW_UINT32);
        case DAT_CUSTOMDSDATA: return sizeof(TW_CUSTOMDSDATA);
        case DAT_IMAGEINFO: return sizeof(TW_IMAGEINFO);
        case DAT_IMAGELAYOUT: return sizeof(TW_IMAGELAYOUT);
        case DAT_IMAGEMEMXFER: return sizeof(TW_IMAGEMEMXFER);
        case DAT_IMAGENATIVEXFER: return sizeof(TW_HANDLE);
        case DAT_CIECOLOR: return sizeof(TW_CIECOLOR);
        case DAT_GRAYRESPONSE: return sizeof(TW_GRAYRESPONSE);
        case DAT_RGBRESPONSE: return sizeof(TW_RGBRESPONSE);
        case DAT_JPEGCOMPRESSION: return sizeof(TW_JPEGCOMPRESSION);
        case DAT_PALETTE8: return sizeof(TW_PALETTE8);
        case DAT_EXTIMAGEINFO: return sizeof(TW_EXTIMAGEINFO);
        case DAT_ENTRYPOINT: return sizeof(TW_ENTRYPOINT);
        case DAT_NV_AUTOEXPOSURE: return sizeof(TWNV_AUTOEXPOSURE);
        case DAT_NV_RGBMATRIX: return sizeof(TWNV_RGBMATRIX);
        case DAT_NV_COLORSMOOTHING: return sizeof(TWNV_COLORSMOOTHING);
        case DAT_NV_HARDWAREINFO: return sizeof(TWNV_HARDWAREINFO);
        case DAT_NV_SKEWINFO: return sizeof(TWNV_LOCATIONDATA);
        case DAT_NV_UNSHARPMASKPARAM: return sizeof(TWNV_USMPARAM);
        case DAT_NV_SETTINGFRAME: return sizeof(TWNV_SETTINGFRAME);
        case DAT_NV_USMINFO: return sizeof(TWNV_USMINFO);
        default: return 0;
    }
}
#endif  // __cplusplus

#endif  // TRACELET_TWAIN_NV_H
