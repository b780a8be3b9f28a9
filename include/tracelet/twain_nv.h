// Tracelet: the vendor-extension structures (TWNV_*) that an application and
// the companion data source exchange through the DAT_NV_* operations.
//
// They are no part of the TWAIN standard. Their byte offsets are a contract
// of their own and are the same under both TWAIN layouts, so they are
// declared with 2-byte packing everywhere.
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

#endif  // TRACELET_TWAIN_NV_H
