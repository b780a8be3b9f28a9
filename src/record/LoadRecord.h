// The flight record of this load of the data source, and the hooks DS_Entry
// and the manager entry point call around each call. With no record (no log
// folder, or a record that could not be created) each hook costs a load and
// a branch.
#ifndef TRACELET_RECORD_LOADRECORD_H
#define TRACELET_RECORD_LOADRECORD_H

#include <stdint.h>
#include <stdio.h>

#include <atomic>

#include "record/FlightRecorder.h"
#include "tracelet/twain.h"

namespace tracelet {
namespace record {

// Opens the record beside the log the load just opened; without a log, or
// when the record cannot be created, there is none and nothing else changes.
void OpenLoadRecord(const char* folder, const char* logName, FILE* log, const char* companionPath, int32_t state);
// The unload record and kFlagClosed; the mapping stays for calls that
// return after it.
void CloseLoadRecord();

// Set while this load's record is open (the hooks below do nothing else
// without it).
extern std::atomic<bool> g_recording;

// One call's record while the call runs, on the caller's stack. An
// application call's record also takes its pData going in (at its start)
// and coming out (CaptureResult).
struct RecordedCall {
    flightrecord::CallRecord* record = nullptr;
    int inFlightSlot = -1;  // the application call's place among those in flight
    int64_t endNs = 0;
    uint32_t Id() const { return FlightRecorder::CallId(record); }
    // The callee returned: no longer in flight, and the call's end time.
    void Returned() {
        if (record) ReturnedRecorded();
    }

private:
    void ReturnedRecorded();
};

RecordedCall StartRecordedApplicationCall(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);
RecordedCall StartRecordedSourceCall(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, uint32_t duringId);
void CaptureRecordedResult(const RecordedCall& call, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData, TW_UINT16 rc);
void EndRecordedCall(const RecordedCall& call, TW_UINT16 rc, int32_t stateAfter, bool traced, long seq);
void NoteRecordedState(int32_t state);

inline RecordedCall StartApplicationCall(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    return g_recording.load(std::memory_order_relaxed) ? StartRecordedApplicationCall(DG, DAT, MSG, pData)
                                                       : RecordedCall{};
}
// A call the source sends; `duringId`: the application call in flight on
// this thread, or 0.
inline RecordedCall StartSourceCall(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, uint32_t duringId) {
    return g_recording.load(std::memory_order_relaxed) ? StartRecordedSourceCall(DG, DAT, MSG, duringId)
                                                       : RecordedCall{};
}
// An application call's pData as the source left it (and a transfer's
// image data), after the companion returned and before the call's end.
inline void CaptureResult(const RecordedCall& call, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData, TW_UINT16 rc) {
    if (call.record) CaptureRecordedResult(call, DAT, MSG, pData, rc);
}
// `traced`: the call's blocks went to the log, numbered `seq`.
inline void EndCall(const RecordedCall& call, TW_UINT16 rc, int32_t stateAfter, bool traced, long seq) {
    if (call.record) EndRecordedCall(call, rc, stateAfter, traced, seq);
}

// The tracked TWAIN state, mirrored for the start records, which are
// written without the trace lock: set wherever the state moves.
inline void NoteState(int32_t state) {
    if (g_recording.load(std::memory_order_relaxed)) NoteRecordedState(state);
}

}  // namespace record
}  // namespace tracelet

#endif  // TRACELET_RECORD_LOADRECORD_H
