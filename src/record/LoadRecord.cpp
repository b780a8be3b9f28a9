#include "record/LoadRecord.h"

#include <atomic>

#include "platform/ForeignReader.h"
#include "record/Capture.h"
#include "render/Format.h"
#include "platform/FlightFile.h"
#include "platform/Platform.h"

namespace tracelet {
namespace record {

namespace fr = flightrecord;

std::atomic<bool> g_recording{false};

namespace {

FlightRecorder s_recorder;
std::atomic<uint8_t> s_state{0};

// The application calls in flight on any thread, by id (0: a free place),
// from their start until the companion returns.
// A notice's concurrent id is the latest of them. A call that finds every
// place taken is not offered as a concurrent call.
constexpr int kInFlightPlaces = 64;
std::atomic<uint32_t> s_inFlight[kInFlightPlaces];

uint8_t State(int32_t state) { return state < 0 || state > 255 ? 0 : static_cast<uint8_t>(state); }

uint32_t LatestInFlight() {
    uint32_t latest = 0;
    for (const auto& place : s_inFlight) {
        const uint32_t id = place.load(std::memory_order_acquire);
        if (id > latest) latest = id;
    }
    return latest;
}

}  // namespace

void OpenLoadRecord(const char* folder, const char* logName, FILE* log, const char* companionPath, int32_t state) {
    if (!log || !logName || !*logName) return;
    NoteRecordedState(state);
    char dsPath[sizeof(fr::FileHeader::ds_path)] = "";
    platform::ModulePath(reinterpret_cast<const void*>(&OpenLoadRecord), dsPath, sizeof dsPath);
    // Image data is captured while the image folder exists inside the log folder.
    char images[1100] = "";
    const size_t n = TRACE_FORMAT_TO(images, sizeof images, "%s/%s", folder ? folder : "", fr::kCaptureImagesFolder);
    const bool captureImages = folder && n + 1 < sizeof images && platform::IsDirectory(images);
    if (s_recorder.Open({folder, logName, platform::StreamFileSize(log), dsPath, companionPath, captureImages}))
        g_recording.store(true, std::memory_order_release);
}

void CloseLoadRecord() {
    g_recording.store(false, std::memory_order_release);
    s_recorder.Close();
}

void NoteRecordedState(int32_t state) { s_state.store(State(state), std::memory_order_relaxed); }

// A notice's start time is taken before it looks for the calls in flight,
// and an application call leaves them before its end time is taken, so
// that a notice's concurrent call overlaps it in the record's times.
void RecordedCall::ReturnedRecorded() {
    if (inFlightSlot >= 0) {
        s_inFlight[inFlightSlot].store(0, std::memory_order_release);
        inFlightSlot = -1;
    }
    endNs = platform::MonotonicNanoseconds();
}

RecordedCall StartRecordedApplicationCall(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    RecordedCall call;
    CallStart start{};
    start.dg = DG;
    start.dat = DAT;
    start.msg = MSG;
    start.tag = fr::kTagApplication;
    start.stateBefore = s_state.load(std::memory_order_relaxed);
    if (DAT == DAT_CAPABILITY && pData) {
        // The capability id is TW_CAPABILITY's first member in every layout.
        ForeignReader reader(pData, sizeof(TW_UINT16));
        start.hasCap = reader.Copy(&start.cap, pData, sizeof start.cap) == sizeof start.cap;
    }
    call.record = s_recorder.StartCall(start);
    if (const uint32_t id = call.Id()) {
        CaptureData(s_recorder, id, fr::kPhaseIn, DAT, MSG, pData, 0);
        for (int i = 0; i < kInFlightPlaces; ++i) {
            uint32_t free = 0;
            if (s_inFlight[i].compare_exchange_strong(free, id, std::memory_order_acq_rel)) {
                call.inFlightSlot = i;
                break;
            }
        }
    }
    return call;
}

RecordedCall StartRecordedSourceCall(TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, uint32_t duringId) {
    RecordedCall call;
    CallStart start{};
    start.dg = DG;
    start.dat = DAT;
    start.msg = MSG;
    start.tag = fr::kTagSource;
    start.stateBefore = s_state.load(std::memory_order_relaxed);
    start.duringId = duringId;
    start.startNs = platform::MonotonicNanoseconds();
    start.concurrentId = LatestInFlight();
    call.record = s_recorder.StartCall(start);
    return call;
}

void CaptureRecordedResult(const RecordedCall& call, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData, TW_UINT16 rc) {
    const uint32_t id = call.Id();
    CaptureData(s_recorder, id, fr::kPhaseOut, DAT, MSG, pData, rc);
    if (DAT == DAT_IMAGEMEMXFER || DAT == DAT_IMAGENATIVEXFER) CaptureImage(s_recorder, id, DAT, pData, rc);
}

void EndRecordedCall(const RecordedCall& call, TW_UINT16 rc, int32_t stateAfter, bool traced, long seq) {
    s_recorder.EndCall(call.record, call.endNs, rc, State(stateAfter), traced,
                       seq > 0 && seq <= UINT32_MAX ? static_cast<uint32_t>(seq) : 0);
}

}  // namespace record
}  // namespace tracelet
