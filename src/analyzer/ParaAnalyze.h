// The analyzer: turns each TWAIN call into log text and follows the TWAIN
// state of the application's connection to the data source.
//
// One global instance, g_cParaAnalyze, serves every call. DS_Entry hands it
// each triplet twice: TripletAnalyze appends the triplet line, ParaAnalyze
// the result block (return code, pData, the structure dump chosen by the
// data argument type, the state line).
//
// All text goes into the caller's log text buffer through the bounded
// appends below: they stop at the buffer's end and remember that text was
// cut, so that DS_Entry can write the overflow note.
#ifndef TRACELET_PARAANALYZE_H
#define TRACELET_PARAANALYZE_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "tracelet/twain.h"
#include "tables/twaintbl.h"
#include "tracelet/twain_nv.h"

#define TRACELET_HIDDEN __attribute__((visibility("hidden")))
#define TRACELET_EXPORT __attribute__((visibility("default")))
#define TRACELET_PRINTF(f, a) __attribute__((format(printf, f, a)))

// Bytes of text the log text buffer holds; a buffer handed to the analyzer
// has one byte more for the closing NUL.
constexpr size_t kLogTextSize = 5120;
// Size of the name buffer every lookup writes into.
constexpr size_t kNameSize = 64;

extern const char* const CRLF;

class ForeignReader;

// Text of a fixed-width TWAIN text field (TW_STR32, TW_STR255 ...): up to its
// NUL and never past its declared width, always NUL-terminated here.
template <size_t N>
struct FieldText {
    char s[N + 1];
    explicit FieldText(const char (&field)[N]) {
        size_t n = strnlen(field, N);
        memcpy(s, field, n);
        s[n] = '\0';
    }
    FieldText(const char* field, size_t width) {
        size_t n = width < N ? width : N;
        n = field ? strnlen(field, n) : 0;
        if (n) memcpy(s, field, n);
        s[n] = '\0';
    }
    const char* c_str() const { return s; }
};

// Copy a structure out of memory the analyzer does not own, whatever its
// alignment; formatters print from the copy.
template <class T>
inline T CopyIn(const void* p) {
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

// Value of a TW_FIX32 in double precision: Whole + Frac / 65536.
inline double Fix32ToDouble(const TW_FIX32& f) {
    return static_cast<double>(f.Frac) * (1.0 / 65536.0) + static_cast<double>(f.Whole);
}
// The same from the raw little-endian 32-bit word (low half Whole, high half Frac).
inline double Fix32ToDouble(uint32_t word) {
    TW_FIX32 f;
    f.Whole = static_cast<TW_INT16>(word & 0xFFFFu);
    f.Frac = static_cast<TW_UINT16>(word >> 16);
    return Fix32ToDouble(f);
}

// Low 32 bits of a handle or pointer, for "<0x%08x>".
inline unsigned int Low32(const void* p) {
    return static_cast<unsigned int>(reinterpret_cast<uintptr_t>(p) & 0xFFFFFFFFu);
}
inline unsigned int Low32(uintptr_t v) { return static_cast<unsigned int>(v & 0xFFFFFFFFu); }

inline const char* BoolText(unsigned v) { return v ? "true" : "false"; }

// snprintf for the trace's own formats, with the same result and text as
// the C library's (see TraceOutput.cpp): at most size - 1 bytes and a NUL
// into `out`, and the length the whole text has.
int TraceFormatV(char* out, size_t size, const char* format, va_list args);
int TraceFormat(char* out, size_t size, const char* format, ...) TRACELET_PRINTF(3, 4);

// Name of `value` in a name table of `rows` rows (ERROR! row included) into
// `out` (at least 64 bytes): the first row that holds it, else "ERROR!(n)".
void ValToName(const TwNameRow* table, size_t rows, uint64_t value, char* out);
// The same without the ERROR! text: false (and `out` untouched) on a miss.
bool FindName(const TwNameRow* table, size_t rows, uint64_t value, char* out);
template <size_t N>
inline void ValToName(const TwNameRow (&table)[N], uint64_t value, char* out) {
    ValToName(table, N, value, out);
}
// Name of a capability id: its CAP name, else its ICAP name, else ERROR!(n).
void CapToName(TW_UINT16 cap, char* out);

class CParaAnalyze {
public:
    constexpr CParaAnalyze()
        : m_pOrigin(nullptr), m_pDest(nullptr), m_DG(0), m_DAT(0), m_MSG(0), m_pData(nullptr),
          m_RC(0), m_pOutput(nullptr), m_nTwainStatus(0), m_lSequence(0), m_szName{},
          m_szTag{'A', 'P', 'P'}, m_nOutputSize(0), m_nOutputLen(0), m_bOutputCut(false),
          m_pSourceCall(nullptr) {}
    ~CParaAnalyze() {}

    // --- TWAIN state -------------------------------------------------------
    void InitTwainStatus();
    int32_t GetTwainStatus() const;
    int32_t SetTwainStatus(int32_t status);
    int32_t MakeTwainStatusString(char* buffer);
    int32_t UpDateTwainStatus(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, char* pData);
    // The transition of a notification the source sends through the manager
    // entry point, applied when it is sent: DAT_NULL/MSG_XFERREADY 5 -> 6
    // (4 -> 6 while `bEnabling`: an application MSG_ENABLEDS is in flight,
    // and the notice shows the source completed it), DAT_NULL/MSG_CLOSEDSREQ
    // 5 -> 4; anything else changes nothing.
    int32_t UpDateTwainStatusOnNotify(TW_UINT16 DAT, TW_UINT16 MSG, bool bEnabling);

    // --- Calls the source sends through the manager entry point ------------
    // Set while such a call is rendered: its triplet line carries the tag
    // "DS" and is never filtered, its result block opens with the During
    // line when an application call was in flight on the sending thread, and
    // its state line shows the state recorded when it was sent.
    struct SourceCall {
        int32_t nState;     // the state right after the call's own transition
        bool bDuring;       // an application call was in flight on its thread
        TW_UINT32 duringDG;
        TW_UINT16 duringDAT;
        TW_UINT16 duringMSG;
    };
    void SetSourceCall(const SourceCall* pCall) { m_pSourceCall = pCall; }
    // The number of the last block written (or counted, with no log open).
    long Sequence() const { return m_lSequence; }

    // With no log open: moves the numbering and the state exactly as
    // TripletAnalyze and ParaAnalyze would for the call, rendering nothing.
    void TrackOnly(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, char* pData, TW_UINT16 RC);

    // --- Triplet line ------------------------------------------------------
    bool TripletAnalyze(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                        TW_UINT16 MSG, char* pData, char* pOutput, size_t nOutputSize = kLogTextSize);
    bool CreateStringOfTriplet();
    bool GetStringOfCapability(const TW_CAPABILITY* pCap, char* pOut, uint32_t nSize);
    void Init(const char* pTag);
    bool HeaderMake(char* pOutput, size_t nOutputSize = kLogTextSize);

    // --- Result block and dispatch -----------------------------------------
    bool ParaAnalyze(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                     TW_UINT16 MSG, char* pData, TW_UINT16 RC, char* pOutput,
                     size_t nOutputSize = kLogTextSize);
    bool ResultMake();

    bool DatNullAnalyze();
    bool DatCapabilityAnalyze();
    bool DatEventAnalyze();
    bool DatIdentityAnalyze();
    bool DatParentAnalyze();
    bool DatPendingXfersAnalyze();
    bool DatSetupMemXferAnalyze();
    bool DatSetupFileXferAnalyze();
    bool DatStatusAnalyze();
    bool DatUserInterfaceAnalyze();
    bool DatXferGroupAnalyze();
    bool DatTwunkIdentityAnalyze();
    bool DatCustomDsDataAnalyze();
    bool DatImageInfoAnalyze();
    bool DatImageLayoutAnalyze();
    bool DatImageMemXferAnalyze();
    bool DatImageNativeXferAnalyze();
    bool DatImageFileXferAnalyze();
    bool DatCieColorAnalyze();
    bool DatGrayResponseAnalyze();
    bool DatRgbResponseAnalyze();
    bool DatJpegCompressionAnalyze();
    bool DatPalette8Analyze();
    bool DatExtImageInfoAnalyze();
    bool DatEntryPointAnalyze();
    bool DatNvAutoExposureAnalyze();
    bool DatNvRgbMatrixAnalyze();
    bool DatNvColorSmoothingAnalyze();
    bool DatNvEventAnalyze();
    bool DatHardwareInfoAnalyze();
    bool DatNvSkewInfoAnalyze();
    bool DatUnsharpMaskAnalyze();
    bool DatNvRedCorrectionMatrixAnalyze();
    bool DatNvTwainCallbackMsgAnalyze();
    bool DatNvSettingFrameAnalyze();
    bool DatNvUsmInfoAnalyze();

    // --- Value rendering ---------------------------------------------------
    void MakeItemList(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 numItems, const void* items,
                      size_t itemBytes = SIZE_MAX, ForeignReader* reader = nullptr);
    TW_UINT32 FastItemLines(TW_UINT16 itemType, const unsigned char* items, TW_UINT32 numItems, size_t most,
                            ForeignReader& in);
    // The value's text into `text`; its length.
    size_t ValToStr(TW_UINT16 cap, TW_UINT16 itemType, const void* value, char* text);
    void ValToCap(TW_UINT16 cap, TW_UINT16 value, char* text);
    void MakeCapSupportedCaps(TW_UINT16 capId, char* text);
    void MakeCapNvVersion(TW_UINT16 version, char* text);

    // --- Capability containers ---------------------------------------------
    bool TwCapabilityAnalyze(const TW_CAPABILITY* p);
    bool TwContainerAnalyaze(const TW_CAPABILITY* p);
    bool TwArrayAnalyze(TW_UINT16 cap, const TW_ARRAY* a, size_t blockBytes = SIZE_MAX);
    bool TwEnumerationAnalyze(TW_UINT16 cap, const TW_ENUMERATION* e, size_t blockBytes = SIZE_MAX);
    bool TwOneValueAnalyze(TW_UINT16 cap, const TW_ONEVALUE* o, size_t blockBytes = SIZE_MAX);
    bool TwRangeAnalyze(TW_UINT16 cap, const TW_RANGE* r, size_t blockBytes = SIZE_MAX);
    bool TwCapExtAnalyze(const TW_CAPEXT* x);

    // --- Control and transfer structures -----------------------------------
    bool TwIdentityAnalyze(const TW_IDENTITY* p);
    bool TwVersionAnalyze(const TW_VERSION* p);
    bool TwEventAnalyze(const TW_EVENT* p);
    bool TwPendingXfersAnalyze(const TW_PENDINGXFERS* p);
    bool TwSetupMemXferAnalyze(const TW_SETUPMEMXFER* p);
    bool TwSetupFileXferAnalyze(const TW_SETUPFILEXFER* p);
    bool TwStatusAnalyze(const TW_STATUS* p);
    bool TwUserInterfaceAnalyze(const TW_USERINTERFACE* p);
    bool TwCustomDsDataAnalyze(const TW_CUSTOMDSDATA* p);
    bool TwUint32(const void* p);
    bool TwExtImageInfoAnalyze(const TW_EXTIMAGEINFO* p);
    bool TwInfoAnalyze(const TW_INFO* p);
    bool TwMemoryAnalyze(const TW_MEMORY* p);
    bool TwEntryPointAnalyze(const TW_ENTRYPOINT* p);
    bool TwTwunkIdentityAnalyze();
    bool TwTwunkDsentryParamsAnalyze();
    bool TwTwunkDsentryReturnAnalyze();

    // --- Image description structures --------------------------------------
    bool TwImageInfoAnalyze(const TW_IMAGEINFO* p);
    bool TwImageLayoutAnalyze(const TW_IMAGELAYOUT* p);
    bool TwFrameAnalyze(const TW_FRAME* p);
    bool TwImageMemXferAnalyze(const TW_IMAGEMEMXFER* p);
    bool TwJpegCompressionAnalyze(const TW_JPEGCOMPRESSION* p);
    bool TwPalette8Analyze(const TW_PALETTE8* p);
    bool TwGrayResponseAnalyze(const TW_GRAYRESPONSE* p);
    bool TwRgbResponseAnalyze(const TW_RGBRESPONSE* p);
    bool TwElement8Analyze(const TW_ELEMENT8* p);
    bool TwCieColorAnalyze(const TW_CIECOLOR* p);
    bool TwTransformStageAnalyze(const TW_TRANSFORMSTAGE* p);
    bool TwDecodeFunctionAnalyze(const TW_DECODEFUNCTION* p);
    bool TwCiePointAnalyze(const TW_CIEPOINT* p);

    // --- Vendor-extension structures ---------------------------------------
    bool TwNvAutoExposureAnalyze(const TWNV_AUTOEXPOSURE* p);
    bool TwNvRgbMatrixAnalyze(const TWNV_RGBMATRIX* p);
    bool TwNvColorSmoothingAnalyze(const TWNV_COLORSMOOTHING* p);
    bool TwHardwareInfoAnalyze(const TWNV_HARDWAREINFO* p);
    bool TwNvSkewInfoAnalyze(const TWNV_LOCATIONDATA* p);
    bool TwUnsharpMaskAnalyze(const TWNV_USMPARAM* p);
    bool TwNvSettingFrameAnalyze(const TWNV_SETTINGFRAME* p);
    bool TwNvThresholdInfoAnalyze(const TWNV_THRESHOLDINFO* p);
    bool TwNvReviseBaseParamAnalyze(const TWNV_REVISEBASEPARM* p);
    bool TwNvUsmInfoAnalyze(const TWNV_USMINFO* p);
    bool TwNvEventAnalyze();
    bool TwNvRedCorrectionMatrixAnalyze();
    bool TwNvTwainCallbackMsgAnalyze();
    void SetColorCoeffData(const TW_FIX32* coeff);

    // --- Output ------------------------------------------------------------
    // Points the analyzer at a text buffer of nSize + 1 bytes holding a
    // NUL-terminated text (usually empty) that further text is appended to.
    void SetOutput(char* pOutput, size_t nSize);
    // Appends a NUL-terminated text, or as much of it as fits.
    void Append(const char* text);
    // Appends `length` bytes of text (holding no NUL), or as many as fit.
    void Append(const char* text, size_t length);
    // Appends printf-formatted text, or as much of it as fits.
    // (A macro, TraceCompile.h, makes every AppendF with a literal format
    // render through AppendCompiled.)
    void AppendF(const char* format, ...) TRACELET_PRINTF(2, 3);
    void AppendV(const char* format, va_list args);
    template <class F, class... A>
    void AppendCompiled(F, size_t, A... args);
    // Every line through the C library's vsnprintf instead (the tests' reference).
    static bool s_bRenderByLibrary;
    // True when an append had to drop text because the buffer was full.
    bool OutputCut() const { return m_bOutputCut; }
    // True when no further byte fits.
    bool OutputFull() const { return m_nOutputLen >= m_nOutputSize; }
    size_t OutputLength() const { return m_nOutputLen; }

    // Name of `value` in `table`, written into m_szName and returned.
    template <size_t N>
    const char* Name(const TwNameRow (&table)[N], uint64_t value) {
        ValToName(table, N, value, m_szName);
        return m_szName;
    }

    // Members, in the documented order.
    pTW_IDENTITY m_pOrigin;
    pTW_IDENTITY m_pDest;
    TW_UINT32 m_DG;
    TW_UINT16 m_DAT;
    TW_UINT16 m_MSG;
    char* m_pData;
    TW_UINT16 m_RC;
    char* m_pOutput;
    int32_t m_nTwainStatus;
    int64_t m_lSequence;
    char m_szName[kNameSize];
    char m_szTag[32];

private:
    size_t m_nOutputSize;  // text bytes the output buffer holds
    size_t m_nOutputLen;   // text bytes in it now
    bool m_bOutputCut;     // an append dropped text
    const SourceCall* m_pSourceCall;  // the source's call being rendered, or null

    // Names of a triplet's three fields into 64-byte holders, as the triplet
    // line prints them.
    void MakeTripletNames(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, char* szDG, char* szDAT,
                          char* szMSG);
};

extern TRACELET_EXPORT CParaAnalyze g_cParaAnalyze;

#include "analyzer/TraceCompile.h"

#endif  // TRACELET_PARAANALYZE_H
