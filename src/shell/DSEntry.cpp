// DS_Entry: the data source's single entry point. Every triplet goes to the
// companion's TripletOperator unchanged, then its trace is written.
#include <string.h>

#include "analyzer/ParaAnalyze.h"
#include "log/TwainLogFile.h"
#include "shell/DataSource.h"
#include "tracelet/TripletOperator.h"

namespace {

const char kOverflowNote[] = "Size of CAP_xxx too long";

void WriteText(const char* text, size_t length) {
    WriteLogFile(reinterpret_cast<const unsigned char*>(text), length);
}

// The companion answers; an exception it throws never reaches the host.
TW_UINT16 Forward(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    // Without a TripletOperator nothing can answer: the call fails.
    if (!g_pcTripletOperator) return TWRC_FAILURE;
    try {
        return g_pcTripletOperator->TripletEntry(pOrigin, DG, DAT, MSG, pData);
    } catch (...) {
        return TWRC_FAILURE;
    }
}

}  // namespace

extern "C" TRACELET_EXPORT TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT,
                                             TW_UINT16 MSG, TW_MEMREF pData) {
    // Set while the marker block is written.
    static unsigned char stack = 0;

    const TW_UINT16 rc = Forward(pOrigin, DG, DAT, MSG, pData);

    // 5120 bytes of text and its closing NUL.
    char szLog[kLogTextSize + 1];

    memset(szLog, 0, sizeof szLog);
    g_cParaAnalyze.TripletAnalyze(pOrigin, nullptr, DG, DAT, MSG, static_cast<char*>(pData), szLog,
                                  kLogTextSize);
    size_t length = strlen(szLog);
    if (length) WriteText(szLog, length);

    memset(szLog, 0, sizeof szLog);
    g_cParaAnalyze.ParaAnalyze(pOrigin, nullptr, DG, DAT, MSG, static_cast<char*>(pData), rc, szLog,
                               kLogTextSize);
    length = strlen(szLog);
    if (length) {
        WriteText(szLog, length);
        // The text went past the buffer: its first 5120 bytes are written,
        // then the note, with no line end.
        if (g_cParaAnalyze.OutputCut()) WriteText(kOverflowNote, sizeof kOverflowNote - 1);
    }

    if (rc == TWRC_FAILURE && !stack) {
        stack = 1;
        char szMarker[256];
        int n = snprintf(szMarker, sizeof szMarker, "%s%s", "*** Inspect Error Status Start ***", CRLF);
        WriteText(szMarker, static_cast<size_t>(n));
        n = snprintf(szMarker, sizeof szMarker, "%s%s", "*** Inspect Error Status End   ***", CRLF);
        WriteText(szMarker, static_cast<size_t>(n));
        stack = 0;
    }
    return rc;
}
