// Reader of the flight records the data source writes beside its logs: the
// start and end of every call with its times, one file per load.
//
// A record is read as far as it is sound. Damage (a short header, a wrong
// magic, unsealed or garbled slots, times that run backwards, a file cut
// short) never stops the reader: what it could not read is listed in
// FlightRecord::problems. Memory is one fixed-size entry per call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "trace/model.hpp"

namespace tracelet::trace {

// One call as its record holds it.
struct TimedCall {
    uint32_t id = 0;           // the record's call id (slot + 1); [DS] calls name application calls by it
    uint32_t slot = 0;         // index of its slot in the file
    uint32_t thread = 0;       // kernel thread id of the caller
    int64_t start_ns = 0;      // monotonic clock
    int64_t end_ns = -1;       // monotonic clock; -1 while the call has not returned
    uint32_t dg = 0;
    uint16_t dat = 0, msg = 0;
    int cap = -1;              // capability id of a DAT_CAPABILITY call; -1 when not known
    bool from_source = false;  // a [DS] call: the source called the manager
    int state_before = 0;
    int state_after = -1;      // -1 while the call has not returned
    int rc = -1;               // -1 while the call has not returned
    uint32_t during_id = 0;      // [DS]: the application call in flight on the same thread, or 0
    uint32_t concurrent_id = 0;  // [DS]: the latest application call in flight on any thread, or 0
    long long seq = -1;        // the sequence number of its blocks in the text log; -1 when it has none

    bool ended() const { return end_ns >= 0; }
    int64_t duration_ns() const { return ended() ? end_ns - start_ns : -1; }
};

// One part of a capture: the pData structure, or the block behind a handle
// in it (a capability's container).
struct CapturedPart {
    std::string bytes;        // the bytes kept, as they were in the host's memory
    uint32_t size = 0;        // bytes a whole copy holds (the type's size; what the container's counts need)
    bool cut = false;         // bytes.size() < size: the record's bound cut it
    bool unreadable = false;  // the copy stopped at memory that could not be read
};

// pData of one application call, going in or coming out.
struct CapturedData {
    bool present = false;     // the record holds this phase
    bool null_data = false;   // pData was null
    uint64_t data = 0;        // pData's value
    CapturedPart structure;   // structure.size == 0: the call has no pData type
    // The block behind a handle in the structure (DAT_CAPABILITY's container).
    bool has_block = false;
    uint64_t handle = 0;      // its handle's value
    uint16_t con_type = 0;    // TWON_*
    uint16_t item_type = 0;   // TWTY_*
    uint32_t num_items = 0;
    bool block_too_small = false;  // the block holds less than its counts say
    uint64_t block_limit = UINT64_MAX;  // the block's size as its memory manager knew it; UINT64_MAX: unknown
    CapturedPart block;
};

// The image data one transfer call handed over.
struct CapturedImage {
    bool present = false;
    enum class Transfer { memory, native } transfer = Transfer::memory;
    enum class LengthFrom { unknown, bytes_written, image_header, allocation } length_from = LengthFrom::unknown;
    enum class Hash { none, sample, full } hash_kind = Hash::none;
    uint64_t length = 0;        // bytes of image data
    uint64_t hash = 0;          // XXH3-64 seeded with `length` (see docs/flight-record.md for the sample)
    uint64_t hashed_bytes = 0;
    uint64_t address = 0;       // where the data was, as a value
    bool stored = false;        // the bytes are in file_name in the image folder
    bool write_failed = false;  // the image folder existed but the file was not written whole
    bool unreadable = false;    // the data stopped at unreadable memory before `length`
    uint64_t stored_bytes = 0;
    std::string file_name;      // in the image folder; "" when not stored
};

// What the record captured of one application call.
struct CallCapture {
    uint32_t call_id = 0;
    CapturedData in;    // pData before the companion ran
    CapturedData out;   // pData as the source left it
    CapturedImage image;
};

// Whether a record's capture can be replayed by a build of the given layout.
enum class CaptureStatus {
    ok,
    no_capture,  // the record has no capture: written without it, or by an earlier version
    other_abi,   // captured under the other TWAIN layout
    damaged,     // the header is unreadable, the file is cut short, or capture records are damaged
};
struct CaptureCheck {
    CaptureStatus status = CaptureStatus::ok;
    std::string message;  // one line for the user, naming the file; "" when ok
};

// Whether the process that wrote a record still runs.
enum class HostState {
    unknown,  // the record's header could not be read
    running,  // same boot, and a process with the record's pid and start time exists
    gone,     // another boot, or no such process
};
const char* host_state_name(HostState s);

struct FlightRecord {
    std::string path;
    bool header_ok = false;  // magic, version and sizes read; the fields below are set

    uint16_t version = 0;
    bool macos_abi = false;
    uint32_t pid = 0;
    uint32_t load_in_log = 0;  // 1 for "<stem>.calls", n for "<stem>.<n>.calls"
    uint64_t process_start_ticks = 0;
    uint32_t ticks_per_second = 0;
    int32_t utc_offset_seconds = 0;
    int64_t load_wall_ns = 0, load_mono_ns = 0;
    uint64_t log_offset = 0;  // where in the text log this load began to write
    std::string boot_id, process_name, tracelet_version, log_name, ds_path, companion_path;

    bool closed = false;      // the load was unloaded cleanly
    bool full = false;        // the record stopped early (no space, or its size bound)
    bool map_failed = false;  // the record stopped early: the file could not be mapped further
    uint32_t stop_reason = 0, stop_error = 0;  // from the stop record, when there is one
    int64_t stop_ns = -1, unload_ns = -1;
    uint32_t slots_reserved = 0;
    std::size_t unsealed_slots = 0;  // slots reserved but never filled

    std::vector<TimedCall> calls;                 // in slot order (the order the calls started)
    std::map<uint32_t, std::string> thread_names; // kernel thread id -> name
    int64_t first_ns = -1;  // the earliest and latest time any record of the file holds
    int64_t last_ns = -1;
    std::vector<std::string> problems;  // what could not be read, one line each
    bool cut_short = false;  // the file ends before the slots its header counts

    HostState host = HostState::unknown;  // set by read_flight_record (from this machine's /proc)

    // The capture (header fields; all false/0 in a record without one).
    bool has_capture = false;      // application calls have CaptureRecords
    bool images_captured = false;  // image data went to files in the image folder
    uint32_t capture_max_structure = 0, capture_max_block = 0, capture_hash_sample = 0;
    std::string images_folder;     // the image folder's name inside the log folder ("images")
    std::vector<CallCapture> captures;  // in call id order
    std::vector<std::string> capture_problems;  // damaged capture records (also in `problems`)

    const CallCapture* capture_of(uint32_t call_id) const;
    // The image file of a captured image: "<record's folder>/<images_folder>/<file_name>"; "" when not stored.
    std::string image_path(const CapturedImage& image) const;

    const TimedCall* call_by_id(uint32_t id) const;
    std::string thread_name(uint32_t thread) const;  // "1234 (name)" or "1234"
    // Wall-clock time (UTC, nanoseconds since 1970) of a monotonic instant.
    int64_t wall_ns(int64_t mono_ns) const;
    // Wall-clock time of a monotonic instant, in the load's local time: "HH:MM:SS.mmm".
    std::string clock_text(int64_t mono_ns) const;
    std::string stop_text() const;  // why the record stopped; "" when it did not
};

// Reads the record's bytes (any length, any content). Never throws.
FlightRecord parse_flight_record(std::string_view bytes);

// Reads a record file in bounded chunks and tells whether its host still
// runs. Never throws: a file that cannot be read gives a record whose
// problems say so.
FlightRecord read_flight_record(const std::string& path);

// Whether `r` holds a capture a build of the given layout (macos_abi) can
// replay: no capture, the other layout, or a damaged or cut capture give a
// message for the user.
CaptureCheck check_capture(const FlightRecord& r, bool macos_abi);

// The records beside a log file: "<stem>.calls", then "<stem>.<n>.calls" by n.
std::vector<std::string> flight_record_files(const std::string& log_path);

// The flight record of a session's last load: the last record beside the
// last of the session's log files (`paths` as session_files takes them). The
// earlier loads of a session are usually the manager's probes. Throws
// std::runtime_error when the paths name no log, or the last log has no
// record beside it.
std::string last_load_record(const std::vector<std::string>& paths);

// Whether the record's writer still runs on this machine.
HostState host_state(const FlightRecord& r);

// This machine's monotonic clock, the one the records are written with.
int64_t monotonic_now_ns();

// "DG_IMAGE/DAT_IMAGEINFO/MSG_GET", "(CAP_XFERCOUNT)" after a capability
// call's triplet, from the data source's own name tables.
std::string triplet_text(const TimedCall& c);

// "TWRC_SUCCESS", "ERROR!(32769)"; "-" for -1 (the call has not returned).
std::string rc_text(int rc);

// "1.234 s", "12.5 ms", "850 us", "420 ns".
std::string duration_text(int64_t ns);

// The records of a session's log files, joined to the calls the text parser
// reads from those files.
class SessionTimes {
public:
    // The log files in session order (the order Call::file counts). Logs
    // without records give nothing; a record that cannot be joined to its
    // log is still read, and the problem is listed.
    static SessionTimes load(const std::vector<std::string>& log_files);

    bool empty() const { return records_.empty(); }
    const std::vector<FlightRecord>& records() const { return records_; }
    const std::vector<std::string>& problems() const { return problems_; }

    // The record of the load a call of the log belongs to, and the call's
    // entry in it; nullptr when there is none.
    const FlightRecord* record_of(const Call& c) const;
    const TimedCall* find(const Call& c) const;

    // The log's id for a record's call ("00012", "2:00012" in the session's
    // second load); for a call without blocks in the log, "#<id>" after the
    // record's load prefix.
    std::string call_label(const FlightRecord& r, const TimedCall& c) const;
    // Session load index (Call::load) of a record; -1 when it is not known.
    int load_of(const FlightRecord& r) const;

    // For tests: records read elsewhere, each with the log file index and the
    // first log line of its load.
    void add(FlightRecord r, int file, std::size_t first_line);
    // Called with each call of the log in order, so that loads can be
    // numbered as the text parser numbers them.
    void note_call(const Call& c);

private:
    struct Entry {
        int file = 0;
        std::size_t first_line = 1;  // log line where the load began writing
        int load = -1;               // Call::load of its first call, once seen
        std::unordered_map<long long, uint32_t> by_seq;  // seq -> index in calls
    };
    const Entry* entry_of(const Call& c, std::size_t* index) const;

    std::vector<FlightRecord> records_;
    std::vector<Entry> entries_;
    std::vector<std::string> problems_;
};

}  // namespace tracelet::trace
