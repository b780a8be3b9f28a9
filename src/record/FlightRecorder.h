// The flight record of one load: a binary file beside the trace log that
// holds the start and end of every call (format: tracelet/flightrecord.h,
// docs/flight-record.md).
//
// Records go straight into a shared mapping of the file: a call's start is
// in the file the moment it is written, with no system call and no lock, so
// it outlives a host that hangs, crashes or is killed inside the call. A
// record's slot is reserved with one atomic add on the header's counter;
// its body is written, then its seal stored with release order.
//
// The whole address range the file may ever take (kMaxFileSize) is
// reserved once, and the file is mapped into it step by step, each step
// reserved on disk first so that a full disk stops the record instead of
// raising SIGBUS. Addresses never move: while one thread grows the mapping
// (the others that need it wait for it), threads keep writing into slots
// already mapped. The last slot mapped is held back for the record of why
// the record stopped.
//
// Nothing here takes memory from the heap.
#ifndef TRACELET_RECORD_FLIGHTRECORDER_H
#define TRACELET_RECORD_FLIGHTRECORDER_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <mutex>

#include "tracelet/flightrecord.h"

namespace tracelet {
namespace record {

// What the header says about the load.
struct LoadInfo {
    const char* folder;         // the log folder
    const char* logName;        // the log's file name, "<stem>.txt"
    uint64_t logOffset;         // the log's size when this load began writing to it
    const char* dsPath;         // the data source's own path
    const char* companionPath;
    bool captureImages;         // the image folder exists: image data goes to files in it
};

// The start of a call, as its record takes it.
struct CallStart {
    uint32_t dg;
    uint16_t dat;
    uint16_t msg;
    bool hasCap;
    uint16_t cap;
    uint8_t tag;  // flightrecord::Tag
    uint8_t stateBefore;
    uint32_t duringId;
    uint32_t concurrentId;
    int64_t startNs;  // CLOCK_MONOTONIC, or 0: taken when the record is written
};

class FlightRecorder {
public:
    FlightRecorder() = default;
    ~FlightRecorder() { Close(); }
    FlightRecorder(const FlightRecorder&) = delete;
    FlightRecorder& operator=(const FlightRecorder&) = delete;

    // Creates "<stem>.calls" (or "<stem>.<n>.calls", for the n-th load that
    // shares the log) and writes its header. False, and no record, when the
    // file cannot be created, reserved or mapped.
    bool Open(const LoadInfo& load);
    // The unload record and kFlagClosed, then the file is closed. Its
    // mapping stays until the process ends unless `keepMapping` is false
    // (for a caller that knows no call is in flight).
    void Close(bool keepMapping = true);
    bool IsOpen() const { return m_base.load(std::memory_order_acquire) != nullptr; }

    // The call's record with its start fields sealed; null when there is no
    // record or it has stopped.
    flightrecord::CallRecord* StartCall(const CallStart& call);
    // The end fields and the end seal; `endNs`: when the callee returned
    // (CLOCK_MONOTONIC), since the call's text is written in between.
    void EndCall(flightrecord::CallRecord* record, int64_t endNs, uint16_t rc, uint8_t stateAfter, bool traced,
                 uint32_t seq);
    static uint32_t CallId(const flightrecord::CallRecord* record) { return record ? record->call_id : 0; }

    // The record's file path (for tests and the benchmark).
    const char* Path() const { return m_path; }

    // A record of `kind` taking `slots` slots, reserved and mapped, and its
    // first slot's index; null when the record has stopped. The caller
    // fills it and seals it with Publish.
    void* ReserveRecord(uint16_t kind, uint32_t slots, uint32_t* index);
    static void Publish(void* record, uint32_t index, uint16_t kind) {
        __atomic_store_n(static_cast<uint32_t*>(record), flightrecord::Seal(index, kind), __ATOMIC_RELEASE);
    }
    // Whether image data goes to files, and the image file path of a call:
    // "<folder>/images/<record stem>.<call id>.img" into `out`, and the
    // file name's offset in it; false when it does not fit.
    bool CapturesImages() const { return m_images; }
    bool ImagePath(uint32_t callId, char* out, size_t size, size_t* nameAt) const;

private:
    flightrecord::FileHeader* Header() const {
        return reinterpret_cast<flightrecord::FileHeader*>(m_base.load(std::memory_order_acquire));
    }
    // A slot for a record of `kind`, reserved and mapped, with its index;
    // null when the record has stopped.
    void* Reserve(uint16_t kind, uint32_t* index, uint32_t slots = 1);
    // Maps slots up to `index` (inclusive); false once the record stopped.
    bool MapThrough(uint32_t index);
    // Sets the flag and writes the stop record into the held-back slot.
    void Stop(uint32_t flag, uint32_t reason, uint32_t error);
    // The calling thread's kernel id, and its name record before its first
    // call in this load.
    uint32_t ThisThread();

    std::atomic<char*> m_base{nullptr};
    // Slots usable by records: those mapped, less the one held back.
    std::atomic<uint32_t> m_usable{0};
    std::atomic<bool> m_stopped{false};
    uint64_t m_mapped = 0;  // bytes mapped; guarded by m_growLock
    int m_fd = -1;
    uint64_t m_epoch = 0;  // tells this load's thread names from another's
    std::atomic<uint32_t> m_otherRecords{0};  // thread names among the usable slots
    std::mutex m_growLock;
    char m_path[1024] = {};
    bool m_images = false;
};

}  // namespace record
}  // namespace tracelet

#endif  // TRACELET_RECORD_FLIGHTRECORDER_H
