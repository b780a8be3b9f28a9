// The analyzer object: output, name lookups, TWAIN state, the triplet line
// and the result block.
#include "analyzer/ParaAnalyze.h"

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <cmath>

#include "shell/Platform.h"
#include "tracelet/logmodel.h"

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
            const size_t n = strnlen(table[i].name, kNameSize - 1);
            memcpy(out, table[i].name, n);
            out[n] = '\0';
            return true;
        }
    }
    return false;
}

void ValToName(const TwNameRow* table, size_t rows, uint64_t value, char* out) {
    if (!FindName(table, rows, value, out))
        TraceFormat(out, kNameSize, "%s(%d)", rows ? table[rows - 1].name : "ERROR!",
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
// Formatting
//
// The trace's formats use a small vocabulary: texts, decimals, hexadecimals
// with a width, and TW_FIX32 values with "%.3f". TraceFormatV renders that
// vocabulary itself, byte for byte as the C library's vsnprintf would (the
// tests compare the two), because the library's general formatter costs
// far more per line than the write of the line does. From the first
// conversion outside that vocabulary on, the rest of the format goes to
// vsnprintf.

namespace {

struct Conversion {
    bool left = false;     // '-'
    bool zero = false;     // '0'
    int width = 0;
    int precision = -1;
    int longs = 0;         // 'l' count
    char letter = 0;       // the conversion's letter
};

// Reads one conversion after its '%'; false for anything outside the
// vocabulary. `p` is left after the conversion character.
bool ParseConversion(const char*& p, Conversion& conv) {
    for (;; ++p) {
        if (*p == '-') conv.left = true;
        else if (*p == '0') conv.zero = true;
        else break;
    }
    while (*p >= '0' && *p <= '9') {
        conv.width = conv.width * 10 + (*p++ - '0');
        if (conv.width > 4096) return false;
    }
    if (*p == '.') {
        ++p;
        conv.precision = 0;
        while (*p >= '0' && *p <= '9') {
            conv.precision = conv.precision * 10 + (*p++ - '0');
            if (conv.precision > 4096) return false;
        }
    }
    while (*p == 'l') {
        ++conv.longs;
        ++p;
    }
    if (conv.longs > 2) return false;
    conv.letter = *p;
    switch (*p) {
        case 'd': case 'i': case 'u': case 'x': case 'X':
            if (conv.precision >= 0) return false;
            break;
        case 's':
            if (conv.longs || conv.zero) return false;
            break;
        case 'c':
            if (conv.longs || conv.zero || conv.precision >= 0) return false;
            break;
        case 'f':
            if (conv.longs || conv.width || conv.left || conv.zero) return false;
            break;
        case '%':
            if (conv.longs || conv.width || conv.left || conv.zero || conv.precision >= 0) return false;
            break;
        default:
            return false;
    }
    ++p;
    return true;
}

// The output: bytes past the room are counted, not stored.
struct Sink {
    char* out;
    size_t room;  // bytes that may hold text (the NUL comes after)
    size_t len;
    void Put(const char* s, size_t n) {
        if (len < room) {
            const size_t take = n < room - len ? n : room - len;
            memcpy(out + len, s, take);
        }
        len += n;
    }
    void Fill(char c, size_t n) {
        if (len < room) {
            const size_t take = n < room - len ? n : room - len;
            memset(out + len, c, take);
        }
        len += n;
    }
    // The library's text for a format and its arguments, appended.
    int Library(const char* format, va_list args) {
        const size_t left = len < room ? room - len : 0;
        char none;
        const int n = vsnprintf(len < room ? out + len : &none, len < room ? left + 1 : 0, format, args);
        if (n > 0) len += static_cast<size_t>(n);
        return n;
    }
    int LibraryValue(const char* format, ...) {
        va_list args;
        va_start(args, format);
        const int n = Library(format, args);
        va_end(args);
        return n;
    }
    void Padded(const Conversion& conv, const char* s, size_t n) {
        const size_t w = static_cast<size_t>(conv.width);
        if (!conv.left && w > n) Fill(' ', w - n);
        Put(s, n);
        if (conv.left && w > n) Fill(' ', w - n);
    }
};

void PutInteger(Sink& sink, const Conversion& conv, unsigned long long magnitude, bool negative) {
    char digits[32];
    size_t n = 0;
    const bool hex = conv.letter == 'x' || conv.letter == 'X';
    const char* alphabet = conv.letter == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[sizeof digits - 1 - n++] = alphabet[hex ? (magnitude & 15u) : (magnitude % 10u)];
        magnitude = hex ? magnitude >> 4 : magnitude / 10u;
    } while (magnitude);
    const size_t total = n + (negative ? 1 : 0);
    const size_t w = static_cast<size_t>(conv.width);
    if (conv.zero && !conv.left) {
        if (negative) sink.Put("-", 1);
        if (w > total) sink.Fill('0', w - total);
        sink.Put(digits + sizeof digits - n, n);
        return;
    }
    if (!conv.left && w > total) sink.Fill(' ', w - total);
    if (negative) sink.Put("-", 1);
    sink.Put(digits + sizeof digits - n, n);
    if (conv.left && w > total) sink.Fill(' ', w - total);
}

// "%.3f" of a value that is a whole number of 65536ths (every TW_FIX32
// is), rounded to nearest with ties to even as the C library rounds;
// false for any other value.
bool PutFix3(Sink& sink, double v) {
    const double t = v * 65536.0;  // exact: a power of two
    if (!(t <= 1e12 && t >= -1e12)) return false;  // also NaN and infinities
    if (t != static_cast<double>(static_cast<long long>(t))) return false;
    const bool negative = std::signbit(v);
    const unsigned long long n = static_cast<unsigned long long>(negative ? -t : t);
    // v * 1000 = n * 1000 / 65536 = n * 125 / 8192
    const unsigned long long q = n * 125u;
    unsigned long long thousandths = q >> 13;
    const unsigned long long rest = q & 8191u;
    if (rest > 4096u || (rest == 4096u && (thousandths & 1u))) ++thousandths;
    char digits[24];
    size_t d = 0;
    unsigned long long whole = thousandths / 1000u;
    const unsigned frac = static_cast<unsigned>(thousandths % 1000u);
    do {
        digits[d++] = static_cast<char>('0' + whole % 10u);
        whole /= 10u;
    } while (whole);
    const size_t len = (negative ? 1u : 0u) + d + 4u;
    // Written straight into the output when it fits (a copy through a
    // scratch buffer costs more than the digits here).
    char scratch[40];
    const bool direct = sink.len + len <= sink.room;
    char* to = direct ? sink.out + sink.len : scratch;
    size_t at = 0;
    if (negative) to[at++] = '-';
    while (d) to[at++] = digits[--d];
    to[at++] = '.';
    to[at++] = static_cast<char>('0' + frac / 100u);
    to[at++] = static_cast<char>('0' + frac / 10u % 10u);
    to[at++] = static_cast<char>('0' + frac % 10u);
    if (direct)
        sink.len += len;
    else
        sink.Put(scratch, len);
    return true;
}

}  // namespace

int TraceFormatV(char* out, size_t size, const char* format, va_list args) {
    if (!format) return -1;
    Sink sink{out, size ? size - 1 : 0, 0};
    for (const char* p = format;;) {
        const char* percent = strchrnul(p, '%');
        if (percent != p) sink.Put(p, static_cast<size_t>(percent - p));
        if (!*percent) break;
        p = percent + 1;
        Conversion conv;
        if (!ParseConversion(p, conv)) {
            // The rest of the format, from this conversion on, with the
            // arguments not yet taken: printf renders a format piece by
            // piece, so the text is the library's own.
            const int rest = sink.Library(percent, args);
            if (rest < 0) return -1;
            break;
        }
        switch (conv.letter) {
            case 'd':
            case 'i': {
                long long v = conv.longs == 2 ? va_arg(args, long long)
                              : conv.longs == 1 ? va_arg(args, long)
                                                : va_arg(args, int);
                const bool negative = v < 0;
                const unsigned long long m =
                    negative ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
                PutInteger(sink, conv, m, negative);
                break;
            }
            case 'u':
            case 'x':
            case 'X': {
                unsigned long long v = conv.longs == 2 ? va_arg(args, unsigned long long)
                                       : conv.longs == 1 ? va_arg(args, unsigned long)
                                                         : va_arg(args, unsigned);
                PutInteger(sink, conv, v, false);
                break;
            }
            case 's': {
                const char* s = va_arg(args, const char*);
                size_t n;
                if (!s) {
                    // As the C library does: "(null)", or nothing when the
                    // precision leaves no room for it.
                    s = conv.precision < 0 || conv.precision >= 6 ? "(null)" : "";
                    n = strlen(s);
                } else {
                    n = conv.precision < 0 ? strlen(s) : strnlen(s, static_cast<size_t>(conv.precision));
                }
                sink.Padded(conv, s, n);
                break;
            }
            case 'c': {
                const char c = static_cast<char>(va_arg(args, int));
                sink.Padded(conv, &c, 1);
                break;
            }
            case 'f': {
                const double v = va_arg(args, double);
                if (conv.precision == 3 && PutFix3(sink, v)) break;
                char one[16];
                snprintf(one, sizeof one, "%%.%df", conv.precision < 0 ? 6 : conv.precision);
                if (sink.LibraryValue(one, v) < 0) return -1;
                break;
            }
            case '%':
                sink.Put("%", 1);
                break;
        }
    }
    if (size) out[sink.len < size ? sink.len : size - 1] = '\0';
    return sink.len > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(sink.len);
}

int TraceFormat(char* out, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = TraceFormatV(out, size, format, args);
    va_end(args);
    return n;
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
    const size_t room = m_nOutputSize - m_nOutputLen;
    Append(text, strnlen(text, room + 1));
}

void CParaAnalyze::Append(const char* text, size_t length) {
    if (!text || !length || !m_pOutput) return;
    size_t room = m_nOutputSize - m_nOutputLen;
    size_t n = length;
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
    int n = TraceFormatV(m_pOutput + m_nOutputLen, room + 1, format, args);
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
    return snprintf(buffer, 64, tracelet::logmodel::kStateFormat, CRLF, m_nTwainStatus, CRLF);
}

int32_t CParaAnalyze::UpDateTwainStatus(TW_UINT32 /*DG*/, TW_UINT16 DAT, TW_UINT16 MSG, char* pData) {
    // The log's state machine, one copy with its readers. A null pData
    // carries no event and no count: the state stays.
    tracelet::logmodel::CallFacts call;
    call.dat = DAT;
    call.msg = MSG;
    if (pData && DAT == DAT_EVENT && MSG == MSG_PROCESSEVENT) {
        call.has_event = true;
        call.event_msg = CopyIn<TW_EVENT>(pData).TWMessage;
    } else if (pData && DAT == DAT_PENDINGXFERS && MSG == MSG_ENDXFER) {
        call.has_count = true;
        call.count = CopyIn<TW_PENDINGXFERS>(pData).Count;
    }
    m_nTwainStatus = tracelet::logmodel::NextState(m_nTwainStatus, call);
    return m_nTwainStatus;
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
static bool IsResultShown(TW_UINT16 DAT, TW_UINT16 MSG, TW_UINT16 RC, const char* pData) {
    if (DAT == DAT_NULL && MSG == MSG_XFERREADY) return false;
    if (MSG != MSG_PROCESSEVENT) return true;
    if (RC != TWRC_DSEVENT || !pData || DAT != DAT_EVENT) return false;
    const TW_UINT16 msg = CopyIn<TW_EVENT>(pData).TWMessage;
    return msg == MSG_XFERREADY || msg == MSG_CLOSEDSREQ;
}

void CParaAnalyze::TrackOnly(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, char* pData, TW_UINT16 RC) {
    if (m_pSourceCall || !IsUnlistedTriplet(DAT, MSG)) ++m_lSequence;
    // A source's call moved the state when it was sent.
    if (m_pSourceCall || RC == TWRC_FAILURE || !IsResultShown(DAT, MSG, RC, pData)) return;
    UpDateTwainStatus(DG, DAT, MSG, pData);
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
    // The source's own calls are what a session turns on: never filtered.
    if (!m_pSourceCall && IsUnlistedTriplet(m_DAT, m_MSG)) return false;

    ++m_lSequence;
    AppendF(tracelet::logmodel::kSequenceFormat, static_cast<long>(m_lSequence));
    AppendF(tracelet::logmodel::kTagFormat, m_pSourceCall ? tracelet::logmodel::kTagSource.data() : m_szTag);

    char szDG[kNameSize], szDAT[kNameSize], szMSG[kNameSize];
    MakeTripletNames(m_DG, m_DAT, m_MSG, szDG, szDAT, szMSG);

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
    if (!m_pSourceCall && !IsResultShown(m_DAT, m_MSG, m_RC, m_pData)) return false;
    if (m_pSourceCall && m_pSourceCall->bDuring) {
        // The application call in flight on the sending thread, by its names.
        char szDG[kNameSize], szDAT[kNameSize], szMSG[kNameSize];
        MakeTripletNames(m_pSourceCall->duringDG, m_pSourceCall->duringDAT,
                         m_pSourceCall->duringMSG, szDG, szDAT, szMSG);
        AppendF(tracelet::logmodel::kDuringFormat, szDG, szDAT, szMSG, CRLF);
    }
    ValToName(twrc_macros, m_RC, m_szName);
    AppendF(tracelet::logmodel::kResultFormat, m_szName, CRLF);
    AppendF(tracelet::logmodel::kPDataFormat, Low32(m_pData), CRLF);
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
        case DAT_ENTRYPOINT: result = DatEntryPointAnalyze(); break;
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

    const int32_t state =
        m_pSourceCall ? m_pSourceCall->nState : UpDateTwainStatus(DG, DAT, MSG, pData);
    AppendF(tracelet::logmodel::kStateFormat, CRLF, state, CRLF);
    return result;
}
