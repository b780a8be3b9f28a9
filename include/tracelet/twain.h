// Tracelet: the TWAIN types, declared once for both binary layouts.
//
// TWAIN peers on Linux (the data source manager, applications, sources) lay
// the structures out with 2-byte packing, a 32-bit TW_IDENTITY.Id and a
// TW_HANDLE that is a plain pointer to its block: that is the `native`
// profile and the default. The `macos` profile (TRACELET_TWAIN_ABI_MACOS)
// lays them out the way the 64-bit macOS TWAIN header does: natural
// alignment, a pointer-sized Id, TW_INFO read as a 12-byte record, and
// master-pointer handles (see tracelet/twain_memory.h).
//
// Every reader of these structures goes through the declarations below;
// nobody computes an offset by hand. The layouts are pinned by static
// asserts in the data source's sources.
#ifndef TRACELET_TWAIN_H
#define TRACELET_TWAIN_H

#include <stddef.h>
#include <stdint.h>

#if defined(TRACELET_TWAIN_ABI_MACOS)
#define TRACELET_TWAIN_ABI_NAME "macos"
#else
#define TRACELET_TWAIN_ABI_NATIVE 1
#define TRACELET_TWAIN_ABI_NAME "native"
#endif

typedef int8_t TW_INT8;
typedef int16_t TW_INT16;
typedef int32_t TW_INT32;
typedef uint8_t TW_UINT8;
typedef uint16_t TW_UINT16;
typedef uint32_t TW_UINT32;
typedef uint16_t TW_BOOL;
typedef uintptr_t TW_UINTPTR;
typedef void* TW_MEMREF;
#if defined(TRACELET_TWAIN_ABI_MACOS)
typedef char** TW_HANDLE;  // address of a master pointer
#else
typedef void* TW_HANDLE;  // address of the block itself
#endif

typedef char TW_STR32[34];
typedef char TW_STR64[66];
typedef char TW_STR128[130];
typedef char TW_STR255[256];

#if defined(TRACELET_TWAIN_ABI_NATIVE)
#pragma pack(push, 2)
#endif

typedef struct {
    TW_INT16 Whole;
    TW_UINT16 Frac;
} TW_FIX32, *pTW_FIX32;

typedef struct {
    TW_FIX32 Left;
    TW_FIX32 Top;
    TW_FIX32 Right;
    TW_FIX32 Bottom;
} TW_FRAME, *pTW_FRAME;

typedef struct {
    TW_UINT16 MajorNum;
    TW_UINT16 MinorNum;
    TW_UINT16 Language;
    TW_UINT16 Country;
    TW_STR32 Info;
} TW_VERSION, *pTW_VERSION;

typedef struct {
#if defined(TRACELET_TWAIN_ABI_MACOS)
    TW_UINTPTR Id;
#else
    TW_UINT32 Id;
#endif
    TW_VERSION Version;
    TW_UINT16 ProtocolMajor;
    TW_UINT16 ProtocolMinor;
    TW_UINT32 SupportedGroups;
    TW_STR32 Manufacturer;
    TW_STR32 ProductFamily;
    TW_STR32 ProductName;
} TW_IDENTITY, *pTW_IDENTITY;

typedef struct {
    TW_UINT16 Cap;
    TW_UINT16 ConType;
    TW_HANDLE hContainer;
} TW_CAPABILITY, *pTW_CAPABILITY;

typedef struct {
    TW_UINT16 ItemType;
    TW_UINT32 Item;
} TW_ONEVALUE, *pTW_ONEVALUE;

typedef struct {
    TW_UINT16 ItemType;
    TW_UINT32 MinValue;
    TW_UINT32 MaxValue;
    TW_UINT32 StepSize;
    TW_UINT32 DefaultValue;
    TW_UINT32 CurrentValue;
} TW_RANGE, *pTW_RANGE;

typedef struct {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT8 ItemList[1];
} TW_ARRAY, *pTW_ARRAY;

typedef struct {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT32 CurrentIndex;
    TW_UINT32 DefaultIndex;
    TW_UINT8 ItemList[1];
} TW_ENUMERATION, *pTW_ENUMERATION;

typedef struct {
    TW_UINT16 Cap;
    TW_UINT16 Properties;
} TW_CAPEXT, *pTW_CAPEXT;

typedef struct {
    TW_MEMREF pEvent;
    TW_UINT16 TWMessage;
} TW_EVENT, *pTW_EVENT;

typedef struct {
    TW_UINT16 Count;
    TW_UINT32 EOJ;
} TW_PENDINGXFERS, *pTW_PENDINGXFERS;

typedef struct {
    TW_UINT32 MinBufSize;
    TW_UINT32 MaxBufSize;
    TW_UINT32 Preferred;
} TW_SETUPMEMXFER, *pTW_SETUPMEMXFER;

typedef struct {
    TW_STR255 FileName;
    TW_UINT16 Format;
    TW_INT16 VRefNum;
} TW_SETUPFILEXFER, *pTW_SETUPFILEXFER;

typedef struct {
    TW_UINT16 ConditionCode;
    TW_UINT16 Data;
} TW_STATUS, *pTW_STATUS;

typedef struct {
    TW_BOOL ShowUI;
    TW_BOOL ModalUI;
    TW_HANDLE hParent;
} TW_USERINTERFACE, *pTW_USERINTERFACE;

typedef struct {
    TW_UINT32 InfoLength;
    TW_HANDLE hData;
} TW_CUSTOMDSDATA, *pTW_CUSTOMDSDATA;

typedef struct {
    TW_UINT32 Flags;
    TW_UINT32 Length;
    TW_MEMREF TheMem;
} TW_MEMORY, *pTW_MEMORY;

typedef struct {
    TW_UINT16 InfoID;
    TW_UINT16 ItemType;
    TW_UINT16 NumItems;
    TW_UINT16 CondCode;
#if defined(TRACELET_TWAIN_ABI_MACOS)
    TW_UINT32 Item;
#else
    TW_UINTPTR Item;
#endif
} TW_INFO, *pTW_INFO;

typedef struct {
    TW_UINT32 NumInfos;
    TW_INFO Info[1];
} TW_EXTIMAGEINFO, *pTW_EXTIMAGEINFO;

typedef struct {
    TW_FIX32 XResolution;
    TW_FIX32 YResolution;
    TW_INT32 ImageWidth;
    TW_INT32 ImageLength;
    TW_INT16 SamplesPerPixel;
    TW_INT16 BitsPerSample[8];
    TW_INT16 BitsPerPixel;
    TW_BOOL Planar;
    TW_INT16 PixelType;
    TW_UINT16 Compression;
} TW_IMAGEINFO, *pTW_IMAGEINFO;

typedef struct {
    TW_FRAME Frame;
    TW_UINT32 DocumentNumber;
    TW_UINT32 PageNumber;
    TW_UINT32 FrameNumber;
} TW_IMAGELAYOUT, *pTW_IMAGELAYOUT;

typedef struct {
    TW_UINT16 Compression;
    TW_UINT32 BytesPerRow;
    TW_UINT32 Columns;
    TW_UINT32 Rows;
    TW_UINT32 XOffset;
    TW_UINT32 YOffset;
    TW_UINT32 BytesWritten;
    TW_MEMORY Memory;
} TW_IMAGEMEMXFER, *pTW_IMAGEMEMXFER;

typedef struct {
    TW_UINT16 ColorSpace;
    TW_UINT32 SubSampling;
    TW_UINT16 NumComponents;
    TW_UINT16 RestartFrequency;
    TW_UINT16 QuantMap[4];
    TW_MEMORY QuantTable[4];
    TW_UINT16 HuffmanMap[4];
    TW_MEMORY HuffmanDC[2];
    TW_MEMORY HuffmanAC[2];
} TW_JPEGCOMPRESSION, *pTW_JPEGCOMPRESSION;

typedef struct {
    TW_UINT8 Index;
    TW_UINT8 Channel1;
    TW_UINT8 Channel2;
    TW_UINT8 Channel3;
} TW_ELEMENT8, *pTW_ELEMENT8;

typedef struct {
    TW_UINT16 NumColors;
    TW_UINT16 PaletteType;
    TW_ELEMENT8 Colors[256];
} TW_PALETTE8, *pTW_PALETTE8;

typedef struct {
    TW_ELEMENT8 Response[1];
} TW_GRAYRESPONSE, *pTW_GRAYRESPONSE;

typedef struct {
    TW_ELEMENT8 Response[1];
} TW_RGBRESPONSE, *pTW_RGBRESPONSE;

typedef struct {
    TW_FIX32 X;
    TW_FIX32 Y;
    TW_FIX32 Z;
} TW_CIEPOINT, *pTW_CIEPOINT;

typedef struct {
    TW_FIX32 StartIn;
    TW_FIX32 BreakIn;
    TW_FIX32 EndIn;
    TW_FIX32 StartOut;
    TW_FIX32 BreakOut;
    TW_FIX32 EndOut;
    TW_FIX32 Gamma;
    TW_FIX32 SampleCount;
} TW_DECODEFUNCTION, *pTW_DECODEFUNCTION;

typedef struct {
    TW_DECODEFUNCTION Decode[3];
    TW_FIX32 Mix[3][3];
} TW_TRANSFORMSTAGE, *pTW_TRANSFORMSTAGE;

typedef struct {
    TW_UINT16 ColorSpace;
    TW_INT16 LowEndian;
    TW_INT16 DeviceDependent;
    TW_INT32 VersionNumber;
    TW_TRANSFORMSTAGE StageABC;
    TW_TRANSFORMSTAGE StageLMN;
    TW_CIEPOINT WhitePoint;
    TW_CIEPOINT BlackPoint;
    TW_CIEPOINT WhitePaper;
    TW_CIEPOINT BlackInk;
    TW_FIX32 Samples[1];
} TW_CIECOLOR, *pTW_CIECOLOR;

#if defined(TRACELET_TWAIN_ABI_NATIVE)
#pragma pack(pop)
#endif

// The source's entry point and the manager's, as the manager and a source
// exchange them (DAT_ENTRYPOINT).
typedef TW_UINT16 (*DSENTRYPROC)(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                 TW_MEMREF pData);
typedef TW_UINT16 (*DSMENTRYPROC)(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG,
                                  TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);
typedef TW_HANDLE (*DSM_MEMALLOCATE)(TW_UINT32 size);
typedef void (*DSM_MEMFREE)(TW_HANDLE h);
typedef TW_MEMREF (*DSM_MEMLOCK)(TW_HANDLE h);
typedef void (*DSM_MEMUNLOCK)(TW_HANDLE h);

#if defined(TRACELET_TWAIN_ABI_NATIVE)
#pragma pack(push, 2)
#endif
typedef struct {
    TW_UINT32 Size;
    DSMENTRYPROC DSM_Entry;
    DSM_MEMALLOCATE DSM_MemAllocate;
    DSM_MEMFREE DSM_MemFree;
    DSM_MEMLOCK DSM_MemLock;
    DSM_MEMUNLOCK DSM_MemUnlock;
} TW_ENTRYPOINT, *pTW_ENTRYPOINT;
#if defined(TRACELET_TWAIN_ABI_NATIVE)
#pragma pack(pop)
#endif

// ---------------------------------------------------------------------------
// Constants (TWAIN values).

#define TWON_ARRAY 3
#define TWON_ENUMERATION 4
#define TWON_ONEVALUE 5
#define TWON_RANGE 6
#define TWON_DONTCARE16 0xffff

#define TWTY_INT8 0x0000
#define TWTY_INT16 0x0001
#define TWTY_INT32 0x0002
#define TWTY_UINT8 0x0003
#define TWTY_UINT16 0x0004
#define TWTY_UINT32 0x0005
#define TWTY_BOOL 0x0006
#define TWTY_FIX32 0x0007
#define TWTY_FRAME 0x0008
#define TWTY_STR32 0x0009
#define TWTY_STR64 0x000a
#define TWTY_STR128 0x000b
#define TWTY_STR255 0x000c

#define DG_CONTROL 0x0001L
#define DG_IMAGE 0x0002L
#define DG_AUDIO 0x0004L
#define DF_DSM2 0x10000000L
#define DF_APP2 0x20000000L
#define DF_DS2 0x40000000L

#define DAT_NULL 0x0000
#define DAT_CUSTOMBASE 0x8000
#define DAT_CAPABILITY 0x0001
#define DAT_EVENT 0x0002
#define DAT_IDENTITY 0x0003
#define DAT_PARENT 0x0004
#define DAT_PENDINGXFERS 0x0005
#define DAT_SETUPMEMXFER 0x0006
#define DAT_SETUPFILEXFER 0x0007
#define DAT_STATUS 0x0008
#define DAT_USERINTERFACE 0x0009
#define DAT_XFERGROUP 0x000a
#define DAT_TWUNKIDENTITY 0x000b
#define DAT_CUSTOMDSDATA 0x000c
#define DAT_DEVICEEVENT 0x000d
#define DAT_FILESYSTEM 0x000e
#define DAT_PASSTHRU 0x000f
#define DAT_CALLBACK 0x0010
#define DAT_STATUSUTF8 0x0011
#define DAT_CALLBACK2 0x0012
#define DAT_IMAGEINFO 0x0101
#define DAT_IMAGELAYOUT 0x0102
#define DAT_IMAGEMEMXFER 0x0103
#define DAT_IMAGENATIVEXFER 0x0104
#define DAT_IMAGEFILEXFER 0x0105
#define DAT_CIECOLOR 0x0106
#define DAT_GRAYRESPONSE 0x0107
#define DAT_RGBRESPONSE 0x0108
#define DAT_JPEGCOMPRESSION 0x0109
#define DAT_PALETTE8 0x010a
#define DAT_EXTIMAGEINFO 0x010b
#define DAT_SETUPFILEXFER2 0x0301
#define DAT_ENTRYPOINT 0x0403

// Vendor operations understood by the companion data source.
#define DAT_NV_AUTOEXPOSURE 0x8001
#define DAT_NV_RGBMATRIX 0x8002
#define DAT_NV_COLORSMOOTHING 0x8003
#define DAT_NV_EVENT 0x8004
#define DAT_NV_HARDWAREINFO 0x8005
#define DAT_NV_SKEWINFO 0x8006
#define DAT_NV_UNSHARPMASKPARAM 0x8007
#define DAT_NV_REDCORRECTIONMATRIX 0x8008
#define DAT_NV_TWAINCALLBACKMSG 0x8009
#define DAT_NV_SETTINGFRAME 0x800a
#define DAT_NV_USMINFO 0x800b

#define MSG_NULL 0x0000
#define MSG_GET 0x0001
#define MSG_GETCURRENT 0x0002
#define MSG_GETDEFAULT 0x0003
#define MSG_GETFIRST 0x0004
#define MSG_GETNEXT 0x0005
#define MSG_SET 0x0006
#define MSG_RESET 0x0007
#define MSG_QUERYSUPPORT 0x0008
#define MSG_RESETALL 0x0a01
#define MSG_XFERREADY 0x0101
#define MSG_CLOSEDSREQ 0x0102
#define MSG_CLOSEDSOK 0x0103
#define MSG_DEVICEEVENT 0x0104
#define MSG_OPENDSM 0x0301
#define MSG_CLOSEDSM 0x0302
#define MSG_OPENDS 0x0401
#define MSG_CLOSEDS 0x0402
#define MSG_USERSELECT 0x0403
#define MSG_DISABLEDS 0x0501
#define MSG_ENABLEDS 0x0502
#define MSG_ENABLEDSUIONLY 0x0503
#define MSG_PROCESSEVENT 0x0601
#define MSG_ENDXFER 0x0701
#define MSG_STOPFEEDER 0x0702
#define MSG_NV_TIMERRESET 0x8001
#define MSG_NV_XFERREQUEST 0x8002

#define TWRC_SUCCESS 0
#define TWRC_FAILURE 1
#define TWRC_CHECKSTATUS 2
#define TWRC_CANCEL 3
#define TWRC_DSEVENT 4
#define TWRC_NOTDSEVENT 5
#define TWRC_XFERDONE 6
#define TWRC_ENDOFLIST 7
#define TWRC_INFONOTSUPPORTED 8
#define TWRC_DATANOTAVAILABLE 9

#define TWCC_SUCCESS 0
#define TWCC_BUMMER 1
#define TWCC_LOWMEMORY 2
#define TWCC_NODS 3
#define TWCC_MAXCONNECTIONS 4
#define TWCC_OPERATIONERROR 5
#define TWCC_BADCAP 6
#define TWCC_BADPROTOCOL 9
#define TWCC_BADVALUE 10
#define TWCC_SEQERROR 11
#define TWCC_BADDEST 12
#define TWCC_CAPUNSUPPORTED 13
#define TWCC_CAPBADOPERATION 14
#define TWCC_CAPSEQERROR 15

#define TWQC_GET 0x0001
#define TWQC_SET 0x0002
#define TWQC_GETDEFAULT 0x0004
#define TWQC_GETCURRENT 0x0008
#define TWQC_RESET 0x0010

#define TWMF_APPOWNS 0x0001
#define TWMF_DSMOWNS 0x0002
#define TWMF_DSOWNS 0x0004
#define TWMF_POINTER 0x0008
#define TWMF_HANDLE 0x0010

#define TWPT_BW 0
#define TWPT_GRAY 1
#define TWPT_RGB 2
#define TWPT_CIEXYZ 8

#define TWCP_NONE 0
#define TWSX_NATIVE 0
#define TWSX_FILE 1
#define TWSX_MEMORY 2
#define TWUN_INCHES 0
#define TWUN_CENTIMETERS 1
#define TWUN_PIXELS 5
#define TWSS_NONE 0
#define TWSS_A4LETTER 1
#define TWSS_USLETTER 3
#define TWSS_USLEGAL 4
#define TWSS_A5 5

#define TWLG_ENGLISH 2
#define TWCY_USA 1

// Capabilities.
#define CAP_XFERCOUNT 0x0001
#define ICAP_COMPRESSION 0x0100
#define ICAP_PIXELTYPE 0x0101
#define ICAP_UNITS 0x0102
#define ICAP_XFERMECH 0x0103
#define CAP_FEEDERENABLED 0x1002
#define CAP_FEEDERLOADED 0x1003
#define CAP_SUPPORTEDCAPS 0x1005
#define CAP_UICONTROLLABLE 0x100e
#define CAP_DEVICEONLINE 0x100f
#define CAP_LANGUAGE 0x102c
#define ICAP_PHYSICALWIDTH 0x1111
#define ICAP_PHYSICALHEIGHT 0x1112
#define ICAP_FRAMES 0x1114
#define ICAP_BITORDER 0x111c
#define ICAP_PIXELFLAVOR 0x111f
#define ICAP_PLANARCHUNKY 0x1120
#define ICAP_XNATIVERESOLUTION 0x1116
#define ICAP_YNATIVERESOLUTION 0x1117
#define ICAP_XRESOLUTION 0x1118
#define ICAP_YRESOLUTION 0x1119
#define ICAP_SUPPORTEDSIZES 0x1122
#define ICAP_BITDEPTH 0x112b
#define CAP_NV_VERSION 0x8001
#define CAP_NV_TPUENABLED 0x8002
#define CAP_NV_UIMODE 0x800f
#define ICAP_NV_FILMTYPE 0x8003

// Further constants used by the virtual scanner and the session driver.
#define ICAP_BRIGHTNESS 0x1101
#define ICAP_CONTRAST 0x1103

#define TWEI_DOCUMENTNUMBER 0x123a
#define TWEI_PAGENUMBER 0x123b
#define TWEI_FRAMENUMBER 0x123d
#define TWEI_PIXELFLAVOR 0x123f

#define TWPF_CHOCOLATE 0
#define TWPF_VANILLA 1
#define TWPC_CHUNKY 0
#define TWPC_PLANAR 1
#define TWBO_LSBFIRST 0
#define TWBO_MSBFIRST 1

// Values of the vendor capabilities CAP_NV_UIMODE and ICAP_NV_FILMTYPE.
#define TWNV_UI_CONVENTIONAL 0
#define TWNV_UI_ADVANCED 1
#define TWNV_UI_EASY 2
#define TWNV_FT_POSI 0
#define TWNV_FT_NEGA 1
#define TWNV_FT_REFLECTIVE 2

// Bytes one item of a TWTY_ type takes in a container's item list; 0 for a
// type this header does not know.
#ifdef __cplusplus
constexpr size_t TwainItemSize(TW_UINT16 itemType) {
    switch (itemType) {
        case TWTY_INT8: return sizeof(TW_INT8);
        case TWTY_INT16: return sizeof(TW_INT16);
        case TWTY_INT32: return sizeof(TW_INT32);
        case TWTY_UINT8: return sizeof(TW_UINT8);
        case TWTY_UINT16: return sizeof(TW_UINT16);
        case TWTY_UINT32: return sizeof(TW_UINT32);
        case TWTY_BOOL: return sizeof(TW_BOOL);
        case TWTY_FIX32: return sizeof(TW_FIX32);
        case TWTY_FRAME: return sizeof(TW_FRAME);
        case TWTY_STR32: return sizeof(TW_STR32);
        case TWTY_STR64: return sizeof(TW_STR64);
        case TWTY_STR128: return sizeof(TW_STR128);
        case TWTY_STR255: return sizeof(TW_STR255);
        default: return 0;
    }
}

// TW_FIX32 values. The value is Whole + Frac / 65536, exact in a double.
inline double TwainFix32Value(TW_FIX32 f) {
    return static_cast<double>(static_cast<int32_t>(f.Whole) * 65536 + f.Frac) * (1.0 / 65536.0);
}
// The TW_FIX32 nearest to `value` (a half away from zero), held to the
// range a TW_FIX32 can hold; 0 for NaN.
inline TW_FIX32 TwainFix32Of(double value) {
    double scaled = value * 65536.0;  // exact: a power of two
    scaled += scaled < 0 ? -0.5 : 0.5;
    int32_t n = 0;
    if (scaled <= -2147483648.0)
        n = INT32_MIN;
    else if (scaled >= 2147483647.0)
        n = INT32_MAX;
    else if (scaled == scaled)
        n = static_cast<int32_t>(scaled);
    TW_FIX32 f;
    f.Whole = static_cast<TW_INT16>(static_cast<uint32_t>(n) >> 16);
    f.Frac = static_cast<TW_UINT16>(static_cast<uint32_t>(n) & 0xFFFFu);
    return f;
}
// A TW_FIX32 as the 32-bit word a container's item or range field holds
// (Whole in the low half, Frac in the high half), and back.
inline uint32_t TwainFix32Word(TW_FIX32 f) {
    return static_cast<uint32_t>(static_cast<TW_UINT16>(f.Whole)) | static_cast<uint32_t>(f.Frac) << 16;
}
inline TW_FIX32 TwainFix32OfWord(uint32_t word) {
    TW_FIX32 f;
    f.Whole = static_cast<TW_INT16>(word & 0xFFFFu);
    f.Frac = static_cast<TW_UINT16>(word >> 16);
    return f;
}
#endif

#include "tracelet/twain_layout.h"

#endif  // TRACELET_TWAIN_H
