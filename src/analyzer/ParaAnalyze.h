// The analyzer: turns each TWAIN call into log text and follows the TWAIN
// state of the application's connection to the data source.
//
// One global instance, g_cParaAnalyze, serves every call. DS_Entry hands it
// each triplet twice: TripletAnalyze appends the triplet line, ParaAnalyze
// the result block (return code, pData, the structure dump chosen by the
// data argument type, the state line).
//
// All text goes into the caller's log text buffer through the bounded
// appends of a TextOut: they stop at the buffer's end and remember that
// text was cut, so that the overflow note follows. The structure dumps
// are the formatters' (src/formatters/); the Tw*Analyze members hand them
// a copy of their structure.
#ifndef TRACELET_PARAANALYZE_H
#define TRACELET_PARAANALYZE_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "platform/Platform.h"
#include "render/TextOut.h"
#include "render/Values.h"
#include "tables/twaintbl.h"
#include "tracelet/logmodel.h"
#include "tracelet/twain.h"
#include "tracelet/twain_nv.h"

// Bytes of text the log text buffer holds; a buffer handed to the analyzer
// has one byte more for the closing NUL.
using tracelet::logmodel::kLogTextSize;
// Room for a triplet line: the sequence, the tag and four names of at most
// 63 bytes take far less.
constexpr size_t kTripletLineRoom = 512;
// Room for the whole text of one call: the triplet line, the result block,
// the overflow note and the marker block.
constexpr size_t kCallTextSize = kTripletLineRoom + kLogTextSize + tracelet::logmodel::kOverflowNote.size() +
                                 tracelet::logmodel::kMarkerStart.size() + tracelet::logmodel::kMarkerEnd.size() + 4;

class ForeignReader;

class CParaAnalyze {
public:
    constexpr CParaAnalyze()
        : m_pOrigin(nullptr), m_pDest(nullptr), m_DG(0), m_DAT(0), m_MSG(0), m_pData(nullptr),
          m_RC(0), m_pOutput(nullptr), m_nTwainStatus(0), m_lSequence(0), m_szName{},
          m_szTag{'A', 'P', 'P'}, m_pSourceCall(nullptr) {}
    ~CParaAnalyze() {}

    // --- TWAIN state -------------------------------------------------------
    int32_t GetTwainStatus() const;
    int32_t SetTwainStatus(int32_t status);
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

    // --- The whole text of one call ----------------------------------------
    // The triplet line, the result block (its first kLogTextSize bytes, then
    // the overflow note when it was longer) and, after a failure, the marker
    // block, into `out` (kCallTextSize bytes and a NUL); its length. Moves
    // the numbering and the state as TripletAnalyze and ParaAnalyze do.
    size_t CallText(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                    char* pData, TW_UINT16 RC, char* out);

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
    // The value's text into `text`; its length.
    size_t ValToStr(TW_UINT16 cap, TW_UINT16 itemType, const void* value, char* text);

    // --- Capability containers ---------------------------------------------
    bool TwCapabilityAnalyze(const TW_CAPABILITY* p);
    bool TwArrayAnalyze(TW_UINT16 cap, const TW_ARRAY* a, size_t blockBytes = SIZE_MAX);
    bool TwEnumerationAnalyze(TW_UINT16 cap, const TW_ENUMERATION* e, size_t blockBytes = SIZE_MAX);
    bool TwOneValueAnalyze(TW_UINT16 cap, const TW_ONEVALUE* o, size_t blockBytes = SIZE_MAX);
    bool TwRangeAnalyze(TW_UINT16 cap, const TW_RANGE* r, size_t blockBytes = SIZE_MAX);

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
    bool TwMemoryAnalyze(const TW_MEMORY* p);
    bool TwEntryPointAnalyze(const TW_ENTRYPOINT* p);

    // --- Image description structures --------------------------------------
    bool TwImageInfoAnalyze(const TW_IMAGEINFO* p);
    bool TwImageLayoutAnalyze(const TW_IMAGELAYOUT* p);
    bool TwImageMemXferAnalyze(const TW_IMAGEMEMXFER* p);
    bool TwJpegCompressionAnalyze(const TW_JPEGCOMPRESSION* p);
    bool TwPalette8Analyze(const TW_PALETTE8* p);
    bool TwGrayResponseAnalyze(const TW_GRAYRESPONSE* p);
    bool TwRgbResponseAnalyze(const TW_RGBRESPONSE* p);
    bool TwCieColorAnalyze(const TW_CIECOLOR* p);

    // --- Vendor-extension structures ---------------------------------------
    bool TwNvAutoExposureAnalyze(const TWNV_AUTOEXPOSURE* p);
    bool TwNvRgbMatrixAnalyze(const TWNV_RGBMATRIX* p);
    bool TwNvColorSmoothingAnalyze(const TWNV_COLORSMOOTHING* p);
    bool TwHardwareInfoAnalyze(const TWNV_HARDWAREINFO* p);
    bool TwNvSkewInfoAnalyze(const TWNV_LOCATIONDATA* p);
    bool TwUnsharpMaskAnalyze(const TWNV_USMPARAM* p);
    bool TwNvSettingFrameAnalyze(const TWNV_SETTINGFRAME* p);
    bool TwNvUsmInfoAnalyze(const TWNV_USMINFO* p);
    bool TwNvEventAnalyze();
    bool TwNvRedCorrectionMatrixAnalyze();
    bool TwNvTwainCallbackMsgAnalyze();

    // --- Operations nothing here calls -------------------------------------
    // Kept as part of the analyzer's interface: sets the state to 1, as
    // before the manager is loaded.
    void InitTwainStatus();
    // Kept as part of the analyzer's interface: the state line, with the CR
    // LF before and after it, into `buffer` (64 bytes); its length, 0 for a
    // null buffer.
    int32_t MakeTwainStatusString(char* buffer);
    // Kept as part of the analyzer's interface: the dump of a TW_CAPEXT
    // (nothing for a null one).
    bool TwCapExtAnalyze(const TW_CAPEXT* x);
    // Kept as part of the analyzer's interface: the TWUNK structures carry
    // nothing the trace shows.
    bool TwTwunkIdentityAnalyze();
    // Kept as part of the analyzer's interface, as TwTwunkIdentityAnalyze.
    bool TwTwunkDsentryParamsAnalyze();
    // Kept as part of the analyzer's interface, as TwTwunkIdentityAnalyze.
    bool TwTwunkDsentryReturnAnalyze();
    // Kept as part of the analyzer's interface: the text of a TW_UINT16 value
    // of capability `cap` (the name its table gives) into `text`.
    void ValToCap(TW_UINT16 cap, TW_UINT16 value, char* text);
    // Kept as part of the analyzer's interface: the name of capability
    // `capId` into `text`.
    void MakeCapSupportedCaps(TW_UINT16 capId, char* text);
    // Kept as part of the analyzer's interface: "%x.%x" of the version's high
    // and low byte into `text`.
    void MakeCapNvVersion(TW_UINT16 version, char* text);
    // Kept as part of the analyzer's interface: the container block of a
    // capability (TwCapabilityAnalyze prints it with the rest).
    bool TwContainerAnalyaze(const TW_CAPABILITY* p);
    // Kept as part of the analyzer's interface: the dump of a structure that
    // is printed only inside another one, whose formatter prints it.
    bool TwInfoAnalyze(const TW_INFO* p);
    // Kept as part of the analyzer's interface, as TwInfoAnalyze.
    bool TwFrameAnalyze(const TW_FRAME* p);
    // Kept as part of the analyzer's interface, as TwInfoAnalyze.
    bool TwElement8Analyze(const TW_ELEMENT8* p);
    // Kept as part of the analyzer's interface, as TwInfoAnalyze.
    bool TwTransformStageAnalyze(const TW_TRANSFORMSTAGE* p);
    // Kept as part of the analyzer's interface, as TwInfoAnalyze.
    bool TwDecodeFunctionAnalyze(const TW_DECODEFUNCTION* p);
    // Kept as part of the analyzer's interface, as TwInfoAnalyze.
    bool TwCiePointAnalyze(const TW_CIEPOINT* p);
    // Kept as part of the analyzer's interface, as TwInfoAnalyze.
    bool TwNvThresholdInfoAnalyze(const TWNV_THRESHOLDINFO* p);
    // Kept as part of the analyzer's interface, as TwInfoAnalyze.
    bool TwNvReviseBaseParamAnalyze(const TWNV_REVISEBASEPARM* p);
    // Kept as part of the analyzer's interface: the nine coefficients of a
    // colour matrix, appended with no line end (the vendor formatters print
    // theirs themselves).
    void SetColorCoeffData(const TW_FIX32* coeff);

    // --- Output ------------------------------------------------------------
    // Points the analyzer at a text buffer of nSize + 1 bytes holding a
    // NUL-terminated text (usually empty) that further text is appended to.
    void SetOutput(char* pOutput, size_t nSize) {
        m_pOutput = pOutput;
        m_out.Reset(pOutput, nSize);
    }
    // Appends a NUL-terminated text, or as much of it as fits.
    void Append(const char* text) { m_out.Append(text); }
    // Appends `length` bytes of text (holding no NUL), or as many as fit.
    void Append(const char* text, size_t length) { m_out.Append(text, length); }
    // True when an append had to drop text because the buffer was full.
    bool OutputCut() const { return m_out.Cut(); }
    // True when no further byte fits.
    bool OutputFull() const { return m_out.Full(); }
    size_t OutputLength() const { return m_out.Length(); }

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
    // Takes a call's triplet, pData, return code and facts (once per call).
    void TakeCall(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                  char* pData, TW_UINT16 RC);
    // The result block of the call taken.
    bool ResultBlock();

    tracelet::logmodel::CallFacts m_facts;  // what the call's pData says for the state
    tracelet::render::TextOut m_out;  // the text being composed, in m_pOutput
    const SourceCall* m_pSourceCall;  // the source's call being rendered, or null

    // Names of a triplet's three fields into 64-byte holders, as the triplet
    // line prints them.
    void MakeTripletNames(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, char* szDG, char* szDAT,
                          char* szMSG);
};

extern TRACELET_EXPORT CParaAnalyze g_cParaAnalyze;

#endif  // TRACELET_PARAANALYZE_H
