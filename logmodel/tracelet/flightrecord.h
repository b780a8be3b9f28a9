// The flight record: a binary file beside each trace log, one per load, that
// the data source writes through a shared mapping. It holds the start and end
// of every call with its times, so that a call that never returned (a hung
// or crashed host) and a call that took too long can be named afterwards.
//
// One copy of the format for the writer (the data source) and every reader.
// Header-only, no allocation. All integers are little-endian; every structure
// here has a fixed size and no padding the compiler chooses.
//
// File layout:
//   offset 0      FileHeader, kHeaderSize bytes (one page)
//   offset 4096   slots of kSlotSize bytes; a record is one or more slots
//
// Publishing: the writer reserves a record's slots by bumping
// FileHeader::slots_reserved, fills the record's body, then stores its seal
// (the first word) last, with release order. A slot whose seal does not equal
// Seal(index, kind) is not (yet) a record: a reader skips it as one slot. A
// CallRecord is sealed twice: start_seal when the call starts, end_seal when
// it returns. A call whose end_seal is missing never returned (or was still
// running when the file was read).
#ifndef TRACELET_FLIGHTRECORD_H
#define TRACELET_FLIGHTRECORD_H

#include <stddef.h>
#include <stdint.h>

namespace tracelet::flightrecord {

constexpr char kMagic[8] = {'T', 'R', 'C', 'L', 'F', 'R', 'E', 'C'};
constexpr uint16_t kVersion = 1;
constexpr uint32_t kHeaderSize = 4096;
constexpr uint32_t kSlotSize = 64;

// The file grows in steps of kGrowStep bytes, reserved on disk before they
// are mapped. It never grows past kMaxFileSize: a load that reaches it sets
// kFlagFull and records no further calls (the text log goes on).
constexpr uint64_t kGrowStep = 4u << 20;           // 65,536 slots
constexpr uint64_t kMaxFileSize = 256ull << 20;    // about 4.2 million slots

// File name: the log's name with ".txt" replaced by ".calls"; the n-th load
// (n >= 2) that shares one log file writes "<stem>.<n>.calls".
constexpr char kExtension[] = ".calls";

enum Abi : uint8_t { kAbiNative = 0, kAbiMacos = 1 };

// FileHeader::flags, set by the writer with atomic OR.
enum Flags : uint32_t {
    kFlagClosed = 1u << 0,  // the load was unloaded cleanly
    kFlagFull = 1u << 1,    // the record stopped: no disk space, or kMaxFileSize reached
    kFlagMapFailed = 1u << 2,  // the record stopped: the file could not be mapped further
};

struct FileHeader {
    char magic[8];                 //    0 kMagic
    uint16_t version;              //    8 kVersion
    uint16_t header_size;          //   10 kHeaderSize
    uint16_t slot_size;            //   12 kSlotSize
    uint8_t abi;                   //   14 Abi
    uint8_t reserved0;             //   15
    uint32_t pid;                  //   16
    uint32_t load_in_log;          //   20 1 for "<stem>.calls", n for "<stem>.<n>.calls"
    uint64_t process_start_ticks;  //   24 field 22 of /proc/self/stat: clock ticks after boot
    uint32_t ticks_per_second;     //   32 sysconf(_SC_CLK_TCK)
    int32_t utc_offset_seconds;    //   36 local time minus UTC at the load
    int64_t load_wall_ns;          //   40 CLOCK_REALTIME at the load
    int64_t load_mono_ns;          //   48 CLOCK_MONOTONIC at the load (same instant)
    uint64_t log_offset;           //   56 the text log's size when this load began writing to it
    uint64_t max_file_size;        //   64 kMaxFileSize as the writer applied it
    char boot_id[40];              //   72 /proc/sys/kernel/random/boot_id, NUL-terminated
    char process_name[64];         //  112 /proc/self/comm (or argv[0]'s base name), NUL-terminated
    char version_text[32];         //  176 Tracelet's version, NUL-terminated
    char log_name[128];            //  208 the text log's file name (no folder), NUL-terminated
    char ds_path[1024];            //  336 the data source's own path, NUL-terminated
    char companion_path[1024];     // 1360 the companion path, NUL-terminated
    uint8_t reserved1[1704];       // 2384 zero
    // Live words, written while the load runs (atomics in the writer).
    uint32_t flags;                // 4088 Flags
    uint32_t slots_reserved;       // 4092 slots handed out so far (records may still be unsealed)
};
static_assert(sizeof(FileHeader) == kHeaderSize, "header is one page");
static_assert(offsetof(FileHeader, flags) == 4088, "live words at the header's end");

// Record kinds. A reader skips a sealed record of a kind it does not know,
// using its `slots`.
enum Kind : uint16_t {
    kKindCall = 1,        // CallRecord
    kKindThreadName = 2,  // ThreadNameRecord: written before a thread's first call
    kKindUnload = 3,      // UnloadRecord: the clean unload (also kFlagClosed)
    kKindStop = 4,        // StopRecord: why the record stopped, when space for it remained
    // Further kinds (a call's captured input and output) follow in later versions.
};

// The seal of the record starting at slot `index`: never 0, differs per slot
// and per kind, so that neither a zeroed slot nor a record's body bytes nor
// a record moved to another slot passes for a sealed record.
constexpr uint32_t Seal(uint32_t index, uint16_t kind) {
    uint32_t x = (index + 1u) * 2654435761u ^ (0x54524300u | kind);
    return x ? x : 1u;
}
// The end seal of a CallRecord.
constexpr uint32_t EndSeal(uint32_t index) { return Seal(index, 0x80u | kKindCall) ^ 0xA5A5A5A5u; }

// Every record starts with these 8 bytes.
struct RecordHead {
    uint32_t seal;   // Seal(index, kind), stored last
    uint16_t kind;   // Kind
    uint16_t slots;  // the record's length in slots, >= 1
};

enum Tag : uint8_t { kTagApplication = 0, kTagSource = 1 };

enum CallFlags : uint8_t {
    kCallHasCap = 1u << 0,   // cap holds the DAT_CAPABILITY call's capability id
    kCallTraced = 1u << 1,   // set at the end: the call got blocks in the text log (seq)
};

// One call, one slot. The start fields are written and start_seal stored
// before the companion (or, for a [DS] call, the manager) runs; the end
// fields and end_seal after it returns.
struct CallRecord {
    uint32_t start_seal;     //  0 Seal(index, kKindCall)
    uint16_t kind;           //  4 kKindCall
    uint16_t slots;          //  6 1
    uint32_t call_id;        //  8 index + 1; ids join [DS] calls to application calls
    uint32_t thread;         // 12 the calling thread's kernel id (gettid)
    int64_t start_ns;        // 16 CLOCK_MONOTONIC
    uint32_t dg;             // 24
    uint16_t dat;            // 28
    uint16_t msg;            // 30
    uint16_t cap;            // 32 when flags & kCallHasCap
    uint8_t tag;             // 34 Tag
    uint8_t flags;           // 35 CallFlags
    uint8_t state_before;    // 36 the tracked TWAIN state when the call started
    uint8_t state_after;     // 37 end: the tracked state after the call
    uint16_t rc;             // 38 end: the return code
    uint32_t during_id;      // 40 [DS]: the application call in flight on the same thread, or 0
    uint32_t seq;            // 44 end: the sequence number of the call's blocks, when kCallTraced
    int64_t end_ns;          // 48 end: CLOCK_MONOTONIC
    uint32_t concurrent_id;  // 56 [DS]: the latest application call in flight on any thread, or 0
    uint32_t end_seal;       // 60 EndSeal(index), stored last at the end
};
static_assert(sizeof(CallRecord) == kSlotSize, "a call is one slot");

struct ThreadNameRecord {
    uint32_t seal;
    uint16_t kind;  // kKindThreadName
    uint16_t slots; // 1
    uint32_t thread;
    uint32_t reserved;
    int64_t time_ns;
    char name[40];  // /proc/thread-self/comm, NUL-terminated
};
static_assert(sizeof(ThreadNameRecord) == kSlotSize, "one slot");

struct UnloadRecord {
    uint32_t seal;
    uint16_t kind;  // kKindUnload
    uint16_t slots; // 1
    uint32_t thread;
    uint32_t calls;  // calls recorded in this load
    int64_t time_ns;
    uint8_t reserved[40];
};
static_assert(sizeof(UnloadRecord) == kSlotSize, "one slot");

enum StopReason : uint32_t { kStopNoSpace = 1, kStopMaxSize = 2, kStopMapFailed = 3 };

struct StopRecord {
    uint32_t seal;
    uint16_t kind;  // kKindStop
    uint16_t slots; // 1
    uint32_t reason;  // StopReason
    uint32_t error;   // errno of the failing call, or 0
    int64_t time_ns;
    uint8_t reserved[40];
};
static_assert(sizeof(StopRecord) == kSlotSize, "one slot");

}  // namespace tracelet::flightrecord

#endif
