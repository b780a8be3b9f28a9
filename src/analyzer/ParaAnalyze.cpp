// The analyzer object: output, name lookups, TWAIN state, the triplet line
// and the result block.
#include "analyzer/ParaAnalyze.h"

#include <stdio.h>
#include <time.h>

#include "shell/Platform.h"

const char* const CRLF = "\r\n";

// Constant-initialised (constexpr constructor), so it exists before any
// load-time code of the data source runs.
CParaAnalyze g_cParaAnalyze;

// ---------------------------------------------------------------------------
// Name lookups

bool FindName(const TwNameRow* table, size_t rows, uint64_t value, char* out) {
    // The last row is the ERROR! row: found by position, never by value.
    for (size_t i = 0; i + 1 < rows; ++i) {
        if (table[i].value == value) {
            snprintf(out, kNameSize, "%s", table[i].name);
            return true;
        }
    }
    return false;
}

void ValToName(const TwNameRow* table, size_t rows, uint64_t value, char* out) {
    if (!FindName(table, rows, value, out))
        snprintf(out, kNameSize, "%s(%d)", rows ? table[rows - 1].name : "ERROR!",
                 static_cast<int32_t>(value));
}

void CapToName(TW_UINT16 cap, char* out) {
    const bool found = cap > 0x8000 ? FindName(cap_nv_macros, TableRows(cap_nv_macros), cap, out)
                                    : FindName(cap_macros, TableRows(cap_macros), cap, out);
    if (found) return;
    if (cap > 0x8000)
        ValToName(icap_nv_macros, cap, out);
    else
        ValToName(icap_macros, cap, out);
}

// ---------------------------------------------------------------------------
// Output

void CParaAnalyze::SetOutput(char* pOutput, size_t nSize) {
    m_pOutput = pOutput;
    m_nOutputSize = pOutput ? nSize : 0;
    m_nOutputLen = pOutput ? strnlen(pOutput, nSize) : 0;
    if (pOutput) pOutput[m_nOutputLen] = '\0';
    m_bOutputCut = false;
}

void CParaAnalyze::Append(const char* text) {
    if (!text || !*text) return;
    if (!m_pOutput) return;
    size_t room = m_nOutputSize - m_nOutputLen;
    size_t n = strnlen(text, room + 1);
    if (n > room) {
        n = room;
        m_bOutputCut = true;
    }
    memcpy(m_pOutput + m_nOutputLen, text, n);
    m_nOutputLen += n;
    m_pOutput[m_nOutputLen] = '\0';
}

void CParaAnalyze::AppendV(const char* format, va_list args) {
    if (!m_pOutput || !format) return;
    size_t room = m_nOutputSize - m_nOutputLen;
    int n = vsnprintf(m_pOutput + m_nOutputLen, room + 1, format, args);
    if (n < 0) {
        m_pOutput[m_nOutputLen] = '\0';
        return;
    }
    if (static_cast<size_t>(n) > room) {
        m_bOutputCut = true;
        m_nOutputLen = m_nOutputSize;
    } else {
        m_nOutputLen += static_cast<size_t>(n);
    }
}

void CParaAnalyze::AppendF(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendV(format, args);
    va_end(args);
}

// ---------------------------------------------------------------------------
// TWAIN state

void CParaAnalyze::InitTwainStatus() { m_nTwainStatus = 1; }

int32_t CParaAnalyze::GetTwainStatus() const { return m_nTwainStatus; }

int32_t CParaAnalyze::SetTwainStatus(int32_t status) {
    m_nTwainStatus = status;
    return m_nTwainStatus;
}

int32_t CParaAnalyze::MakeTwainStatusString(char* buffer) {
    if (!buffer) return 0;
    // The longest text this can make is 2 + 16 + 11 + 1 + 2 bytes.
    return snprintf(buffer, 64, "%sTWAIN Status = [%d]%s", CRLF, m_nTwainStatus, CRLF);
}

int32_t CParaAnalyze::UpDateTwainStatus(TW_UINT32 /*DG*/, TW_UINT16 DAT, TW_UINT16 MSG, char* pData) {
    int32_t& s = m_nTwainStatus;
    const bool imageXfer =
        DAT == DAT_IMAGEMEMXFER || DAT == DAT_IMAGENATIVEXFER || DAT == DAT_IMAGEFILEXFER;
    switch (MSG) {
        case MSG_OPENDSM:
            if (s == 2) s = 3;
            break;
        case MSG_CLOSEDSM:
            if (s == 3) s = 2;
            break;
        case MSG_OPENDS:
            if (s == 3) s = 4;
            break;
        case MSG_CLOSEDS:
            if (s == 4) s = 3;
            break;
        case MSG_ENABLEDS:
            if (s == 4) s = 5;
            break;
        case MSG_DISABLEDS:
            if (DAT == DAT_USERINTERFACE && s == 5) s = 4;
            break;
        case MSG_PROCESSEVENT:
            if (DAT == DAT_EVENT) {
                // A null pData carries no event: the state stays.
                if (!pData || s != 5) break;
                const TW_UINT16 msg = CopyIn<TW_EVENT>(pData).TWMessage;
                if (msg == MSG_XFERREADY)
                    s = 6;
                else if (msg == MSG_CLOSEDSREQ)
                    s = 4;
            } else if (imageXfer && s == 6) {
                s = 7;
            }
            break;
        case MSG_GET:
            if (imageXfer && s == 6) s = 7;
            break;
        case MSG_ENDXFER:
            if (DAT == DAT_PENDINGXFERS && s >= 6 && pData)
                s = CopyIn<TW_PENDINGXFERS>(pData).Count != 0 ? 6 : 5;
            break;
        case MSG_RESET:
            if (DAT == DAT_PENDINGXFERS && s == 6) s = 5;
            break;
        default:
            break;
    }
    return s;
}

// ---------------------------------------------------------------------------
// Triplet line

static bool IsUnlistedTriplet(TW_UINT16 DAT, TW_UINT16 MSG) {
    return MSG == MSG_PROCESSEVENT || (MSG == MSG_XFERREADY && DAT == DAT_NULL);
}

bool CParaAnalyze::TripletAnalyze(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG,
                                  TW_UINT16 DAT, TW_UINT16 MSG, char* pData, char* pOutput,
                                  size_t nOutputSize) {
    m_pOrigin = pOrigin;
    m_pDest = pDest;
    m_DG = DG;
    m_DAT = DAT;
    m_MSG = MSG;
    m_pData = pData;
    SetOutput(pOutput, nOutputSize);
    return CreateStringOfTriplet();
}

bool CParaAnalyze::CreateStringOfTriplet() {
    if (IsUnlistedTriplet(m_DAT, m_MSG)) return false;

    ++m_lSequence;
    AppendF("[%05ld] ", static_cast<long>(m_lSequence));
    AppendF("[%.31s] ", m_szTag);

    char szDG[kNameSize], szDAT[kNameSize], szMSG[kNameSize];
    ValToName(dg_macros, m_DG, m_szName);
    memcpy(szDG, m_szName, kNameSize);
    if (m_DAT <= 0x8000)
        ValToName(dat_macros, m_DAT, m_szName);
    else
        ValToName(dat_nv_macros, m_DAT, m_szName);
    memcpy(szDAT, m_szName, kNameSize);
    if (m_MSG <= 0x8000)
        ValToName(msg_macros, m_MSG, m_szName);
    else
        ValToName(msg_nv_macros, m_MSG, m_szName);
    memcpy(szMSG, m_szName, kNameSize);

    if (m_DAT == DAT_CAPABILITY) {
        char szCap[kNameSize] = {};
        GetStringOfCapability(reinterpret_cast<const TW_CAPABILITY*>(m_pData), szCap, sizeof szCap);
        AppendF("%s/%s/%s (%s)%s", szDG, szDAT, szMSG, szCap, CRLF);
    } else {
        AppendF("%s/%s/%s%s", szDG, szDAT, szMSG, CRLF);
    }
    return true;
}

bool CParaAnalyze::GetStringOfCapability(const TW_CAPABILITY* pCap, char* pOut, uint32_t nSize) {
    if (!pCap) return true;
    const TW_UINT16 cap = CopyIn<TW_CAPABILITY>(pCap).Cap;
    const bool vendor = cap > 0x8000;
    char text[kNameSize];
    const bool hit = vendor ? FindName(cap_nv_macros, TableRows(cap_nv_macros), cap, text)
                            : FindName(cap_macros, TableRows(cap_macros), cap, text);
    if (!hit) snprintf(text, sizeof text, "ERROR!(%d)", cap);
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
    static const char kSlashes[] = "////////////////////////////////////////////////%s";
    AppendF(kSlashes, CRLF);
    AppendF("           TWAIN Tracelet Ver1.10%s", CRLF);
    AppendF(kSlashes, CRLF);
    time_t now = tracelet::platform::CalendarSeconds();
    struct tm local;
    char when[64] = "";
    if (localtime_r(&now, &local) && asctime_r(&local, when)) {
        size_t n = strlen(when);
        if (n && when[n - 1] == '\n') when[n - 1] = '\0';
    }
    AppendF("  << Current time = %s >>%s", when, CRLF);
    return true;
}

// ---------------------------------------------------------------------------
// Result block

bool CParaAnalyze::ResultMake() {
    if (m_DAT == DAT_NULL && m_MSG == MSG_XFERREADY) return false;
    if (m_MSG == MSG_PROCESSEVENT) {
        // Only an event the source claims, and that moves the session, is shown.
        // The event is read only where pData is known to hold a TW_EVENT: with
        // any other data argument type its structure may be smaller, so the
        // call counts as an event nobody claimed.
        if (m_RC != TWRC_DSEVENT || !m_pData || m_DAT != DAT_EVENT) return false;
        const TW_UINT16 msg = CopyIn<TW_EVENT>(m_pData).TWMessage;
        if (msg != MSG_XFERREADY && msg != MSG_CLOSEDSREQ) return false;
    }
    ValToName(twrc_macros, m_RC, m_szName);
    AppendF("        Return Code = [%s]%s", m_szName, CRLF);
    AppendF("pData   = <0x%08x>%s", Low32(m_pData), CRLF);
    return true;
}

bool CParaAnalyze::ParaAnalyze(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                               TW_UINT16 MSG, char* pData, TW_UINT16 RC, char* pOutput,
                               size_t nOutputSize) {
    m_pOrigin = pOrigin;
    m_pDest = pDest;
    m_DG = DG;
    m_DAT = DAT;
    m_MSG = MSG;
    m_pData = pData;
    m_RC = RC;
    SetOutput(pOutput, nOutputSize);

    const bool shown = ResultMake();
    if (DAT == DAT_EVENT && !shown) return true;

    bool result = true;
    switch (DAT) {
        case DAT_NULL: result = DatNullAnalyze(); break;
        case DAT_CAPABILITY: result = DatCapabilityAnalyze(); break;
        case DAT_EVENT: result = DatEventAnalyze(); break;
        case DAT_IDENTITY: result = DatIdentityAnalyze(); break;
        case DAT_PARENT: result = DatParentAnalyze(); break;
        case DAT_PENDINGXFERS: result = DatPendingXfersAnalyze(); break;
        case DAT_SETUPMEMXFER: result = DatSetupMemXferAnalyze(); break;
        case DAT_SETUPFILEXFER: result = DatSetupFileXferAnalyze(); break;
        case DAT_STATUS: result = DatStatusAnalyze(); break;
        case DAT_USERINTERFACE: result = DatUserInterfaceAnalyze(); break;
        case DAT_XFERGROUP: result = DatXferGroupAnalyze(); break;
        case DAT_TWUNKIDENTITY: result = DatTwunkIdentityAnalyze(); break;
        case DAT_CUSTOMDSDATA: result = DatCustomDsDataAnalyze(); break;
        case DAT_IMAGEINFO: result = DatImageInfoAnalyze(); break;
        case DAT_IMAGELAYOUT: result = DatImageLayoutAnalyze(); break;
        case DAT_IMAGEMEMXFER: result = DatImageMemXferAnalyze(); break;
        case DAT_IMAGENATIVEXFER: result = DatImageNativeXferAnalyze(); break;
        case DAT_IMAGEFILEXFER: result = DatImageFileXferAnalyze(); break;
        case DAT_CIECOLOR: result = DatCieColorAnalyze(); break;
        case DAT_GRAYRESPONSE: result = DatGrayResponseAnalyze(); break;
        case DAT_RGBRESPONSE: result = DatRgbResponseAnalyze(); break;
        case DAT_JPEGCOMPRESSION: result = DatJpegCompressionAnalyze(); break;
        case DAT_PALETTE8: result = DatPalette8Analyze(); break;
        case DAT_EXTIMAGEINFO: result = DatExtImageInfoAnalyze(); break;
        case DAT_NV_AUTOEXPOSURE: result = DatNvAutoExposureAnalyze(); break;
        case DAT_NV_RGBMATRIX: result = DatNvRgbMatrixAnalyze(); break;
        case DAT_NV_COLORSMOOTHING: result = DatNvColorSmoothingAnalyze(); break;
        case DAT_NV_EVENT: result = DatNvEventAnalyze(); break;
        case DAT_NV_HARDWAREINFO: result = DatHardwareInfoAnalyze(); break;
        case DAT_NV_SKEWINFO: result = DatNvSkewInfoAnalyze(); break;
        case DAT_NV_UNSHARPMASKPARAM: result = DatUnsharpMaskAnalyze(); break;
        case DAT_NV_REDCORRECTIONMATRIX: result = DatNvRedCorrectionMatrixAnalyze(); break;
        case DAT_NV_TWAINCALLBACKMSG: result = DatNvTwainCallbackMsgAnalyze(); break;
        case DAT_NV_SETTINGFRAME: result = DatNvSettingFrameAnalyze(); break;
        case DAT_NV_USMINFO: result = DatNvUsmInfoAnalyze(); break;
        default: break;  // no dump for this data argument type
    }

    if (RC == TWRC_FAILURE || !shown) return result;

    const int32_t state = UpDateTwainStatus(DG, DAT, MSG, pData);
    AppendF("%sTWAIN Status = [%d]%s", CRLF, state, CRLF);
    return result;
}
