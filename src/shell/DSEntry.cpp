// DS_Entry: the data source's single entry point. Every triplet goes to the
// companion's TripletOperator unchanged, then its trace is written.
//
// The source answers the application through the manager entry point it is
// handed by DG_CONTROL/DAT_ENTRYPOINT/MSG_SET ("transfer ready", "close
// requested", ...). The companion gets Tracelet's ManagerEntry in its place,
// which traces each such call as a [DS] block and hands it on unchanged.
//
// Threads: the host may call DS_Entry from several threads, and the source
// may signal from threads of its own, while other calls are in flight. The
// trace lock (TwainLogFile.h) guards the analyzer and the log file; it is
// held while one call's text is rendered into buffers on that call's stack
// and written, never while the companion or the manager runs, so that an
// application callback that re-enters DS_Entry on the same thread cannot
// deadlock. Blocks never interleave and their numbers follow the order in
// which they are written: a call's blocks are written when it completes,
// all its text in one write, flushed before DS_Entry returns.
//
// The flight record (record/LoadRecord.h) gets every call's start before
// the companion or the manager runs, and its end after the call's text,
// without the trace lock; an application call's record also takes its
// pData as it came in and as the source left it.
#include <atomic>
#include <optional>

#include "analyzer/ParaAnalyze.h"
#include "bounds/BlockTable.h"
#include "log/TwainLogFile.h"
#include "record/LoadRecord.h"
#include "shell/DataSource.h"
#include "tracelet/TripletOperator.h"
#include "tracelet/logmodel.h"

namespace {

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

// The application calls in flight on this thread, innermost first: each
// DS_Entry call links a record on its own stack while the companion runs;
// a notice names the innermost in its During line. Initial-exec TLS, so
// that no thread's first use allocates.
struct InFlight {
    TW_UINT32 DG;
    TW_UINT16 DAT;
    TW_UINT16 MSG;
    uint32_t recordId;  // its flight record's call id, or 0
    const InFlight* outer;
};
__thread const InFlight* t_pInFlight __attribute__((tls_model("initial-exec"))) = nullptr;

// Application MSG_ENABLEDS calls in flight on any thread, from before the
// companion gets them until their blocks are written. A source that signals
// "transfer ready" has completed the enable, whether it signals from inside
// the call or from a thread of its own the moment the call returned.
std::atomic<int> s_enablesInFlight{0};

bool IsEnable(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG) {
    return DG == DG_CONTROL && DAT == DAT_USERINTERFACE && MSG == MSG_ENABLEDS;
}

// What became of a call in the trace: the state after it, and whether its
// blocks were written, numbered `seq`.
struct Traced {
    int32_t state;
    bool written;
    long seq;
};

// The outcome of a call whose trace began at block `before`, for its
// flight record (for a call without one: nothing).
Traced Outcome(bool recorded, long before, bool written) {
    if (!recorded) return {};
    const int32_t state = g_cParaAnalyze.GetTwainStatus();
    tracelet::record::NoteState(state);
    const long seq = g_cParaAnalyze.Sequence();
    return {state, written && seq != before, seq};
}

// Renders one call's text and writes it in one piece, or with no log open
// only moves the numbering and the state. `source` is set for a call the
// source sent; `recorded` for a call with a flight record, which takes the
// outcome.
Traced TraceCall(const CParaAnalyze::SourceCall* source, pTW_IDENTITY pOrigin, pTW_IDENTITY pDest,
                 TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData, TW_UINT16 rc, bool recorded) {
    char* const data = static_cast<char*>(pData);

    TraceLock lock;
    const long before = recorded ? g_cParaAnalyze.Sequence() : 0;
    g_cParaAnalyze.SetSourceCall(source);
    bool written = false;
    if (!g_pLogFile) {
        g_cParaAnalyze.TrackOnly(DG, DAT, MSG, data, rc);
    } else {
        char text[kCallTextSize + 1];
        const size_t length = g_cParaAnalyze.CallText(pOrigin, pDest, DG, DAT, MSG, data, rc, text);
        if (length) WriteLogFileLocked(reinterpret_cast<const unsigned char*>(text), length);
        written = true;
    }
    g_cParaAnalyze.SetSourceCall(nullptr);
    return Outcome(recorded, before, written);
}

// --- The manager entry point -----------------------------------------------

// The manager's own DSM_Entry, from the last DAT_ENTRYPOINT/MSG_SET.
std::atomic<DSMENTRYPROC> s_fnManagerEntry{nullptr};
// What the companion is handed instead of the caller's TW_ENTRYPOINT: the
// same, but for DSM_Entry and the four memory functions (bounds/BlockTable.h).
// Lives as long as the load.
TW_ENTRYPOINT s_entryPoint;

// Every call the source makes to the manager: the notification's state
// change when it is sent, the manager's answer unchanged, then the call's
// [DS] block.
TW_UINT16 ManagerEntry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                       TW_UINT16 MSG, TW_MEMREF pData) {
    const InFlight* const during = t_pInFlight;
    tracelet::record::RecordedCall recorded =
        tracelet::record::StartSourceCall(DG, DAT, MSG, during ? during->recordId : 0);
    CParaAnalyze::SourceCall sent{};
    if (during) {
        sent.bDuring = true;
        sent.duringDG = during->DG;
        sent.duringDAT = during->DAT;
        sent.duringMSG = during->MSG;
    }
    {
        TraceLock lock;
        sent.nState = g_cParaAnalyze.UpDateTwainStatusOnNotify(DAT, MSG, s_enablesInFlight.load() > 0);
        tracelet::record::NoteState(sent.nState);
    }

    const DSMENTRYPROC manager = s_fnManagerEntry.load();
    const TW_UINT16 rc = manager ? manager(pOrigin, pDest, DG, DAT, MSG, pData) : TWRC_FAILURE;
    recorded.Returned();

    const Traced traced = TraceCall(&sent, pOrigin, pDest, DG, DAT, MSG, pData, rc, recorded.record != nullptr);
    tracelet::record::EndCall(recorded, rc, traced.state, traced.written, traced.seq);
    return rc;
}

// The pData the companion gets: for a well-formed DAT_ENTRYPOINT/MSG_SET
// Tracelet's copy with ManagerEntry in it, for anything else the caller's
// own. The caller's structure is only read, and no further than its type.
TW_MEMREF ForCompanion(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    if (DG != DG_CONTROL || DAT != DAT_ENTRYPOINT || MSG != MSG_SET || !pData) return pData;
    // A structure that says it is larger than the one known here would be
    // handed on cut short: it goes as it came, as does a short one.
    if (CopyIn<TW_UINT32>(pData) != sizeof(TW_ENTRYPOINT)) return pData;
    const TW_ENTRYPOINT given = CopyIn<TW_ENTRYPOINT>(pData);
    if (!given.DSM_Entry) return pData;

    TraceLock lock;
    // Handed Tracelet's own entry back, the manager stays the one known.
    if (given.DSM_Entry != &ManagerEntry) s_fnManagerEntry.store(given.DSM_Entry);
    s_entryPoint = given;
    s_entryPoint.DSM_Entry = &ManagerEntry;
    tracelet::bounds::WrapMemory(s_entryPoint);
    return reinterpret_cast<TW_MEMREF>(&s_entryPoint);
}

}  // namespace

extern "C" TRACELET_EXPORT TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT,
                                             TW_UINT16 MSG, TW_MEMREF pData) {
    const bool enable = IsEnable(DG, DAT, MSG);
    if (enable) ++s_enablesInFlight;
    // The blocks the source allocates during this call bound its containers
    // until the call is traced and recorded; with the log off nothing reads
    // them, and the call costs no token.
    std::optional<tracelet::bounds::CallScope> blocks;
    if (g_pLogFile) blocks.emplace();
    tracelet::record::RecordedCall recorded = tracelet::record::StartApplicationCall(DG, DAT, MSG, pData);
    const InFlight call{DG, DAT, MSG, recorded.Id(), t_pInFlight};
    t_pInFlight = &call;
    const TW_UINT16 rc = Forward(pOrigin, DG, DAT, MSG, ForCompanion(DG, DAT, MSG, pData));
    recorded.Returned();
    t_pInFlight = call.outer;
    tracelet::record::CaptureResult(recorded, DAT, MSG, pData, rc);

    // A data source's entry has no destination identity.
    const Traced traced = TraceCall(nullptr, pOrigin, nullptr, DG, DAT, MSG, pData, rc, recorded.record != nullptr);
    tracelet::record::EndCall(recorded, rc, traced.state, traced.written, traced.seq);
    if (enable) --s_enablesInFlight;
    return rc;
}
