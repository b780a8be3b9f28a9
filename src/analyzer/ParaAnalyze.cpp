// The analyzer object: TWAIN state, the triplet line, the result block, the
// dispatch by data argument type, and the whole text of a call.
#include "analyzer/ParaAnalyze.h"

#include <string.h>
#include <time.h>

#include "formatters/Formatters.h"
#include "platform/Platform.h"
#include "render/Format.h"
#include "tracelet/logmodel.h"


// Constant-initialised (constexpr constructor), so it exists before any
// load-time code of the data source runs.
CParaAnalyze g_cParaAnalyze;

// ---------------------------------------------------------------------------
// TWAIN state

int32_t CParaAnalyze::GetTwainStatus() const { return m_nTwainStatus; }

int32_t CParaAnalyze::SetTwainStatus(int32_t status) {
    m_nTwainStatus = status;
    return m_nTwainStatus;
}

// What the state and the choice of lines need of a call's pData, read once:
// the event of an application's MSG_PROCESSEVENT, the count of its
// MSG_ENDXFER. A null pData carries neither. Only the one field is read,
// and only where pData is known to hold its structure.
static tracelet::logmodel::CallFacts FactsOf(TW_UINT16 DAT, TW_UINT16 MSG, const char* pData) {
    tracelet::logmodel::CallFacts call;
    call.dat = DAT;
    call.msg = MSG;
    if (pData && DAT == DAT_EVENT && MSG == MSG_PROCESSEVENT) {
        call.has_event = true;
        call.event_msg = CopyIn<TW_UINT16>(pData + offsetof(TW_EVENT, TWMessage));
    } else if (pData && DAT == DAT_PENDINGXFERS && MSG == MSG_ENDXFER) {
        call.has_count = true;
        call.count = CopyIn<TW_UINT16>(pData + offsetof(TW_PENDINGXFERS, Count));
    }
    return call;
}

int32_t CParaAnalyze::UpDateTwainStatus(TW_UINT32 /*DG*/, TW_UINT16 DAT, TW_UINT16 MSG, char* pData) {
    // The log's state machine, one copy with its readers.
    m_nTwainStatus = tracelet::logmodel::NextState(m_nTwainStatus, FactsOf(DAT, MSG, pData));
    return m_nTwainStatus;
}

void CParaAnalyze::TakeCall(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                            char* pData, TW_UINT16 RC) {
    m_pOrigin = pOrigin;
    m_pDest = pDest;
    m_DG = DG;
    m_DAT = DAT;
    m_MSG = MSG;
    m_pData = pData;
    m_RC = RC;
    m_facts = FactsOf(DAT, MSG, pData);
}

int32_t CParaAnalyze::UpDateTwainStatusOnNotify(TW_UINT16 DAT, TW_UINT16 MSG, bool bEnabling) {
    if (DAT == DAT_NULL) m_nTwainStatus = tracelet::logmodel::NotifiedState(m_nTwainStatus, MSG, bEnabling);
    return m_nTwainStatus;
}

// ---------------------------------------------------------------------------
// Triplet line

static bool IsUnlistedTriplet(TW_UINT16 DAT, TW_UINT16 MSG) {
    return MSG == MSG_PROCESSEVENT || (MSG == MSG_XFERREADY && DAT == DAT_NULL);
}

// Whether an application's call gets its result block: not the manager's
// own DAT_NULL/MSG_XFERREADY, and of MSG_PROCESSEVENT only an event the
// source claims and that moves the session. The event is read only where
// pData is known to hold a TW_EVENT: with any other data argument type its
// structure may be smaller, so the call counts as an event nobody claimed.
static bool IsResultShown(const tracelet::logmodel::CallFacts& call, TW_UINT16 RC) {
    if (call.dat == DAT_NULL && call.msg == MSG_XFERREADY) return false;
    if (call.msg != MSG_PROCESSEVENT) return true;
    if (RC != TWRC_DSEVENT || !call.has_event) return false;
    return call.event_msg == MSG_XFERREADY || call.event_msg == MSG_CLOSEDSREQ;
}

void CParaAnalyze::TrackOnly(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, char* pData, TW_UINT16 RC) {
    TakeCall(m_pOrigin, m_pDest, DG, DAT, MSG, pData, RC);
    if (m_pSourceCall || !IsUnlistedTriplet(DAT, MSG)) ++m_lSequence;
    // A source's call moved the state when it was sent.
    if (m_pSourceCall || RC == TWRC_FAILURE || !IsResultShown(m_facts, RC)) return;
    m_nTwainStatus = tracelet::logmodel::NextState(m_nTwainStatus, m_facts);
}

void CParaAnalyze::MakeTripletNames(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, char* szDG,
                                    char* szDAT, char* szMSG) {
    ValToName(dg_macros, DG, m_szName);
    memcpy(szDG, m_szName, kNameSize);
    if (DAT <= 0x8000)
        ValToName(dat_macros, DAT, m_szName);
    else
        ValToName(dat_nv_macros, DAT, m_szName);
    memcpy(szDAT, m_szName, kNameSize);
    if (MSG <= 0x8000)
        ValToName(msg_macros, MSG, m_szName);
    else
        ValToName(msg_nv_macros, MSG, m_szName);
    memcpy(szMSG, m_szName, kNameSize);
}

bool CParaAnalyze::TripletAnalyze(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG,
                                  TW_UINT16 DAT, TW_UINT16 MSG, char* pData, char* pOutput,
                                  size_t nOutputSize) {
    TakeCall(pOrigin, pDest, DG, DAT, MSG, pData, m_RC);
    SetOutput(pOutput, nOutputSize);
    return CreateStringOfTriplet();
}

bool CParaAnalyze::CreateStringOfTriplet() {
    // The source's own calls are what a session turns on: never filtered.
    if (!m_pSourceCall && IsUnlistedTriplet(m_DAT, m_MSG)) return false;

    ++m_lSequence;
    TRACE_APPEND(m_out, tracelet::logmodel::kSequenceFormat, static_cast<long>(m_lSequence));
    TRACE_APPEND(m_out, tracelet::logmodel::kTagFormat, m_pSourceCall ? tracelet::logmodel::kTagSource.data() : m_szTag);

    char szDG[kNameSize], szDAT[kNameSize], szMSG[kNameSize];
    MakeTripletNames(m_DG, m_DAT, m_MSG, szDG, szDAT, szMSG);

    if (m_DAT == DAT_CAPABILITY) {
        char szCap[kNameSize] = {};
        GetStringOfCapability(reinterpret_cast<const TW_CAPABILITY*>(m_pData), szCap, sizeof szCap);
        TRACE_APPEND(m_out, "%s/%s/%s (%s)%s", szDG, szDAT, szMSG, szCap, CRLF);
    } else {
        TRACE_APPEND(m_out, "%s/%s/%s%s", szDG, szDAT, szMSG, CRLF);
    }
    return true;
}

bool CParaAnalyze::GetStringOfCapability(const TW_CAPABILITY* pCap, char* pOut, uint32_t nSize) {
    if (!pCap) return true;
    const TW_UINT16 cap = CopyIn<TW_UINT16>(reinterpret_cast<const char*>(pCap) + offsetof(TW_CAPABILITY, Cap));
    const bool vendor = cap > 0x8000;
    char text[kNameSize];
    const bool hit = vendor ? FindName(cap_nv_macros, TableRows(cap_nv_macros), cap, text)
                            : FindName(cap_macros, TableRows(cap_macros), cap, text);
    if (!hit) TRACE_FORMAT_TO(text, sizeof text, "ERROR!(%d)", cap);
    if (strlen(text) + 1 > nSize) return false;
    memcpy(pOut, text, strlen(text) + 1);
    if (hit) return true;
    if (vendor)
        ValToName(icap_nv_macros, cap, text);
    else
        ValToName(icap_macros, cap, text);
    if (strlen(text) + 1 > nSize) return false;
    memcpy(pOut, text, strlen(text) + 1);
    return true;
}

void CParaAnalyze::Init(const char* pTag) {
    if (!pTag) return;
    memcpy(m_szTag, pTag, sizeof m_szTag);
}

bool CParaAnalyze::HeaderMake(char* pOutput, size_t nOutputSize) {
    SetOutput(pOutput, nOutputSize);
    static constexpr char kSlashes[] = "////////////////////////////////////////////////%s";
    TRACE_APPEND(m_out, kSlashes, CRLF);
    TRACE_APPEND(m_out, "           TWAIN Tracelet Ver1.10%s", CRLF);
    TRACE_APPEND(m_out, kSlashes, CRLF);
    time_t now = tracelet::platform::CalendarSeconds();
    struct tm local;
    char when[64] = "";
    if (tracelet::platform::LocalTime(now, &local) && asctime_r(&local, when)) {
        size_t n = strlen(when);
        if (n && when[n - 1] == '\n') when[n - 1] = '\0';
    }
    TRACE_APPEND(m_out, "  << Current time = %s >>%s", when, CRLF);
    return true;
}

// ---------------------------------------------------------------------------
// Result block

bool CParaAnalyze::ResultMake() {
    if (!m_pSourceCall && !IsResultShown(m_facts, m_RC)) return false;
    if (m_pSourceCall && m_pSourceCall->bDuring) {
        // The application call in flight on the sending thread, by its names.
        char szDG[kNameSize], szDAT[kNameSize], szMSG[kNameSize];
        MakeTripletNames(m_pSourceCall->duringDG, m_pSourceCall->duringDAT,
                         m_pSourceCall->duringMSG, szDG, szDAT, szMSG);
        TRACE_APPEND(m_out, tracelet::logmodel::kDuringFormat, szDG, szDAT, szMSG, CRLF);
    }
    ValToName(twrc_macros, m_RC, m_szName);
    TRACE_APPEND(m_out, tracelet::logmodel::kResultFormat, m_szName, CRLF);
    TRACE_APPEND(m_out, tracelet::logmodel::kPDataFormat, Handle(m_pData), CRLF);
    return true;
}

size_t CParaAnalyze::CallText(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                              TW_UINT16 MSG, char* pData, TW_UINT16 RC, char* out) {
    using tracelet::logmodel::kMarkerEnd;
    using tracelet::logmodel::kMarkerStart;
    using tracelet::logmodel::kOverflowNote;
    // The call's facts are taken once, for both parts.
    TakeCall(pOrigin, pDest, DG, DAT, MSG, pData, RC);
    out[0] = '\0';
    SetOutput(out, kTripletLineRoom);
    CreateStringOfTriplet();
    size_t length = OutputLength();
    char* const block = out + length;
    SetOutput(block, kLogTextSize);
    ResultBlock();
    // The text went past its buffer: its first kLogTextSize bytes, then the
    // note, with no line end.
    const bool cut = OutputCut();
    length += OutputLength();
    if (cut) {
        memcpy(out + length, kOverflowNote.data(), kOverflowNote.size());
        length += kOverflowNote.size();
    }
    if (RC == TWRC_FAILURE) {
        for (const std::string_view line : {kMarkerStart, kMarkerEnd}) {
            memcpy(out + length, line.data(), line.size());
            memcpy(out + length + line.size(), "\r\n", 2);
            length += line.size() + 2;
        }
    }
    out[length] = '\0';
    SetOutput(nullptr, 0);
    return length;
}

// The dump of each data argument type: the operation that prints pData's
// structure for it.
namespace {
struct DatOperation {
    TW_UINT16 dat;
    bool (CParaAnalyze::*operation)();
};
constexpr DatOperation kDatOperations[] = {
    {DAT_NULL, &CParaAnalyze::DatNullAnalyze},
    {DAT_CAPABILITY, &CParaAnalyze::DatCapabilityAnalyze},
    {DAT_EVENT, &CParaAnalyze::DatEventAnalyze},
    {DAT_IDENTITY, &CParaAnalyze::DatIdentityAnalyze},
    {DAT_PARENT, &CParaAnalyze::DatParentAnalyze},
    {DAT_PENDINGXFERS, &CParaAnalyze::DatPendingXfersAnalyze},
    {DAT_SETUPMEMXFER, &CParaAnalyze::DatSetupMemXferAnalyze},
    {DAT_SETUPFILEXFER, &CParaAnalyze::DatSetupFileXferAnalyze},
    {DAT_STATUS, &CParaAnalyze::DatStatusAnalyze},
    {DAT_USERINTERFACE, &CParaAnalyze::DatUserInterfaceAnalyze},
    {DAT_XFERGROUP, &CParaAnalyze::DatXferGroupAnalyze},
    {DAT_TWUNKIDENTITY, &CParaAnalyze::DatTwunkIdentityAnalyze},
    {DAT_CUSTOMDSDATA, &CParaAnalyze::DatCustomDsDataAnalyze},
    {DAT_IMAGEINFO, &CParaAnalyze::DatImageInfoAnalyze},
    {DAT_IMAGELAYOUT, &CParaAnalyze::DatImageLayoutAnalyze},
    {DAT_IMAGEMEMXFER, &CParaAnalyze::DatImageMemXferAnalyze},
    {DAT_IMAGENATIVEXFER, &CParaAnalyze::DatImageNativeXferAnalyze},
    {DAT_IMAGEFILEXFER, &CParaAnalyze::DatImageFileXferAnalyze},
    {DAT_CIECOLOR, &CParaAnalyze::DatCieColorAnalyze},
    {DAT_GRAYRESPONSE, &CParaAnalyze::DatGrayResponseAnalyze},
    {DAT_RGBRESPONSE, &CParaAnalyze::DatRgbResponseAnalyze},
    {DAT_JPEGCOMPRESSION, &CParaAnalyze::DatJpegCompressionAnalyze},
    {DAT_PALETTE8, &CParaAnalyze::DatPalette8Analyze},
    {DAT_EXTIMAGEINFO, &CParaAnalyze::DatExtImageInfoAnalyze},
    {DAT_ENTRYPOINT, &CParaAnalyze::DatEntryPointAnalyze},
    {DAT_NV_AUTOEXPOSURE, &CParaAnalyze::DatNvAutoExposureAnalyze},
    {DAT_NV_RGBMATRIX, &CParaAnalyze::DatNvRgbMatrixAnalyze},
    {DAT_NV_COLORSMOOTHING, &CParaAnalyze::DatNvColorSmoothingAnalyze},
    {DAT_NV_EVENT, &CParaAnalyze::DatNvEventAnalyze},
    {DAT_NV_HARDWAREINFO, &CParaAnalyze::DatHardwareInfoAnalyze},
    {DAT_NV_SKEWINFO, &CParaAnalyze::DatNvSkewInfoAnalyze},
    {DAT_NV_UNSHARPMASKPARAM, &CParaAnalyze::DatUnsharpMaskAnalyze},
    {DAT_NV_REDCORRECTIONMATRIX, &CParaAnalyze::DatNvRedCorrectionMatrixAnalyze},
    {DAT_NV_TWAINCALLBACKMSG, &CParaAnalyze::DatNvTwainCallbackMsgAnalyze},
    {DAT_NV_SETTINGFRAME, &CParaAnalyze::DatNvSettingFrameAnalyze},
    {DAT_NV_USMINFO, &CParaAnalyze::DatNvUsmInfoAnalyze},
};
}  // namespace

bool CParaAnalyze::ParaAnalyze(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                               TW_UINT16 MSG, char* pData, TW_UINT16 RC, char* pOutput,
                               size_t nOutputSize) {
    TakeCall(pOrigin, pDest, DG, DAT, MSG, pData, RC);
    SetOutput(pOutput, nOutputSize);
    return ResultBlock();
}

bool CParaAnalyze::ResultBlock() {
    const bool shown = ResultMake();
    if (m_DAT == DAT_EVENT && !shown) return true;

    bool result = true;
    // No dump for a data argument type the table does not hold.
    for (const DatOperation& row : kDatOperations) {
        if (row.dat != m_DAT) continue;
        result = (this->*row.operation)();
        break;
    }

    if (m_RC == TWRC_FAILURE || !shown) return result;

    if (!m_pSourceCall) m_nTwainStatus = tracelet::logmodel::NextState(m_nTwainStatus, m_facts);
    const int32_t state = m_pSourceCall ? m_pSourceCall->nState : m_nTwainStatus;
    TRACE_APPEND(m_out, tracelet::logmodel::kStateFormat, CRLF, state, CRLF);
    return result;
}

// ---------------------------------------------------------------------------
// Operations nothing here calls

// Kept as part of the analyzer's interface.
void CParaAnalyze::InitTwainStatus() { m_nTwainStatus = 1; }

// Kept as part of the analyzer's interface.
int32_t CParaAnalyze::MakeTwainStatusString(char* buffer) {
    if (!buffer) return 0;
    // The longest text this can make is 2 + 16 + 11 + 1 + 2 bytes.
    return static_cast<int32_t>(
        TRACE_FORMAT_TO(buffer, 64, tracelet::logmodel::kStateFormat, CRLF, static_cast<int>(m_nTwainStatus), CRLF));
}

// Kept as part of the analyzer's interface.
bool CParaAnalyze::TwCapExtAnalyze(const TW_CAPEXT* x) {
    if (x) DumpCapExt(m_out, CopyIn<TW_CAPEXT>(x));
    return true;
}

// Kept as part of the analyzer's interface; the TWUNK structures carry
// nothing the trace shows.
bool CParaAnalyze::TwTwunkIdentityAnalyze() { return true; }
bool CParaAnalyze::TwTwunkDsentryParamsAnalyze() { return true; }
bool CParaAnalyze::TwTwunkDsentryReturnAnalyze() { return true; }

// Kept as part of the analyzer's interface.
void CParaAnalyze::ValToCap(TW_UINT16 cap, TW_UINT16 value, char* text) { CapValueName(cap, value, text); }

// Kept as part of the analyzer's interface.
void CParaAnalyze::MakeCapSupportedCaps(TW_UINT16 capId, char* text) { SupportedCapName(capId, text); }

// Kept as part of the analyzer's interface.
void CParaAnalyze::MakeCapNvVersion(TW_UINT16 version, char* text) { NvVersionText(version, text); }

// Kept as part of the analyzer's interface.
bool CParaAnalyze::TwContainerAnalyaze(const TW_CAPABILITY* p) {
    if (p) DumpContainer(m_out, CopyIn<TW_CAPABILITY>(p));
    return true;
}

// Kept as part of the analyzer's interface.
bool CParaAnalyze::TwInfoAnalyze(const TW_INFO* p) {
    if (p) DumpInfo(m_out, CopyIn<TW_INFO>(p));
    return true;
}

// Kept as part of the analyzer's interface.
bool CParaAnalyze::TwFrameAnalyze(const TW_FRAME* p) {
    if (p) DumpFrame(m_out, CopyIn<TW_FRAME>(p));
    return true;
}

// Kept as part of the analyzer's interface.
bool CParaAnalyze::TwElement8Analyze(const TW_ELEMENT8* p) {
    if (p) DumpElement8(m_out, CopyIn<TW_ELEMENT8>(p));
    return true;
}

// Kept as part of the analyzer's interface.
bool CParaAnalyze::TwTransformStageAnalyze(const TW_TRANSFORMSTAGE* p) {
    if (p) DumpTransformStage(m_out, CopyIn<TW_TRANSFORMSTAGE>(p));
    return true;
}

// Kept as part of the analyzer's interface.
bool CParaAnalyze::TwDecodeFunctionAnalyze(const TW_DECODEFUNCTION* p) {
    if (p) DumpDecodeFunction(m_out, CopyIn<TW_DECODEFUNCTION>(p));
    return true;
}

// Kept as part of the analyzer's interface.
bool CParaAnalyze::TwCiePointAnalyze(const TW_CIEPOINT* p) {
    if (p) DumpCiePoint(m_out, CopyIn<TW_CIEPOINT>(p));
    return true;
}

// Kept as part of the analyzer's interface.
bool CParaAnalyze::TwNvThresholdInfoAnalyze(const TWNV_THRESHOLDINFO* p) {
    if (p) DumpNvThresholdInfo(m_out, CopyIn<TWNV_THRESHOLDINFO>(p));
    return true;
}

// Kept as part of the analyzer's interface.
bool CParaAnalyze::TwNvReviseBaseParamAnalyze(const TWNV_REVISEBASEPARM* p) {
    if (p) DumpNvReviseBaseParam(m_out, CopyIn<TWNV_REVISEBASEPARM>(p));
    return true;
}

// Kept as part of the analyzer's interface.
void CParaAnalyze::SetColorCoeffData(const TW_FIX32* coeff) {
    if (!coeff) return;
    TW_FIX32 copy[9];
    memcpy(copy, coeff, sizeof copy);
    DumpColorCoeff(m_out, copy);
}
