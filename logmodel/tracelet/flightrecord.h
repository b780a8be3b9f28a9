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
constexpr uint64_t kMaxFileSize = 512ull << 20;    // about 8.4 million slots

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
    // What the load captures of each application call (all zero: nothing,
    // as in a record written before captures existed), and its bounds.
    uint32_t capture;              // 2384 CaptureFlags
    uint32_t capture_max_structure; // 2388 bytes of a structure kept per capture; more is cut
    uint32_t capture_max_block;    // 2392 bytes of a container (or other block behind a handle) kept per capture
    uint32_t capture_hash_sample;  // 2396 bytes of image data a sampled hash covers (kHashSample)
    char capture_images[32];       // 2400 the image folder's name inside the log folder, NUL-terminated
    uint8_t reserved1[1656];       // 2432 zero
    // Live words, written while the load runs (atomics in the writer).
    uint32_t flags;                // 4088 Flags
    uint32_t slots_reserved;       // 4092 slots handed out so far (records may still be unsealed)
};
static_assert(sizeof(FileHeader) == kHeaderSize, "header is one page");
static_assert(offsetof(FileHeader, flags) == 4088, "live words at the header's end");
static_assert(offsetof(FileHeader, capture) == 2384, "capture fields after the paths");

// Record kinds. A reader skips a sealed record of a kind it does not know,
// using its `slots`.
enum Kind : uint16_t {
    kKindCall = 1,        // CallRecord
    kKindThreadName = 2,  // ThreadNameRecord: written before a thread's first call
    kKindUnload = 3,      // UnloadRecord: the clean unload (also kFlagClosed)
    kKindStop = 4,        // StopRecord: why the record stopped, when space for it remained
    kKindCapture = 5,     // CaptureRecord: an application call's pData going in or coming out
    kKindImage = 6,       // ImageRecord: the image data one transfer call handed over
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

// --- Captures ---------------------------------------------------------------
//
// With FileHeader::capture & kCaptureCalls, each application call (tag
// kTagApplication) gets two CaptureRecords besides its CallRecord: its pData
// as it came in, written before the companion runs, and as the source left
// it, written after the companion returned. An image transfer call also
// gets an ImageRecord after the call. Each names its call by call_id.
//
// A capture keeps the structure the call's data argument type names,
// bounded by the type's size under the record's layout (FileHeader::abi) and
// by capture_max_structure, and for DAT_CAPABILITY the container behind its
// handle, bounded by what its own counts need, by the block's size where it
// is known, by readable memory, and by capture_max_block. What was left out
// is stated: `structure_size` and `block_size` say what a whole copy would
// have held, the *_bytes fields what was kept, and the flags why less was
// kept. Addresses and handles are kept as values.

enum CaptureFlags : uint32_t {
    kCaptureCalls = 1u << 0,   // application calls get CaptureRecords (and image transfers ImageRecords)
    kCaptureImages = 1u << 1,  // image data is written to files in the image folder
};

// Defaults the writer applies (the header states those it used).
constexpr uint32_t kCaptureMaxStructure = 2048;
constexpr uint32_t kCaptureMaxBlock = 8192;
constexpr uint32_t kCaptureHashSample = 512;
constexpr char kCaptureImagesFolder[] = "images";
// Image files: "<record stem>.<call id>.img" in the image folder, where the
// record stem is the record's file name without ".calls".
constexpr char kImageExtension[] = ".img";

enum CapturePhase : uint8_t { kPhaseIn = 1, kPhaseOut = 2 };

enum CaptureRecordFlags : uint8_t {
    kCapNullData = 1u << 0,           // pData was null: no structure
    kCapStructureCut = 1u << 1,       // structure_bytes < structure_size: the bound cut it
    kCapStructureUnreadable = 1u << 2, // the copy stopped at memory that could not be read
    kCapBlockCut = 1u << 3,           // block_bytes < block_size: the bound cut it
    kCapBlockUnreadable = 1u << 4,    // the block's copy stopped at memory that could not be read
    kCapBlockTooSmall = 1u << 5,      // the block is smaller than its own counts say (kept: what it holds)
};

enum BlockKind : uint8_t {
    kBlockNone = 0,
    kBlockContainer = 1,  // DAT_CAPABILITY's hContainer; con_type says which container
};

// First slot of a capture; its data follows in the record's further slots:
// structure_bytes of the structure, then block_bytes of the block, no gap.
// slots = 1 + ceil((structure_bytes + block_bytes) / kSlotSize).
struct CaptureRecord {
    uint32_t seal;             //  0 Seal(index, kKindCapture), stored last
    uint16_t kind;             //  4 kKindCapture
    uint16_t slots;            //  6
    uint32_t call_id;          //  8 the CallRecord's call_id
    uint8_t phase;             // 12 CapturePhase
    uint8_t flags;             // 13 CaptureRecordFlags
    uint8_t block_kind;        // 14 BlockKind
    uint8_t reserved0;         // 15
    uint64_t data;             // 16 pData, as a value
    uint32_t structure_size;   // 24 the type's size under the record's layout (0: the call has no pData type)
    uint32_t structure_bytes;  // 28 bytes kept
    uint64_t handle;           // 32 the block's handle, as a value
    uint32_t block_size;       // 40 bytes the block needs by its own counts (head plus NumItems items)
    uint32_t block_bytes;      // 44 bytes kept
    uint16_t con_type;         // 48 TWON_* for kBlockContainer
    uint16_t item_type;        // 50 the container's TWTY_* item type
    uint32_t num_items;        // 52 the container's NumItems (1 for a one-value, 0 for a range)
    uint64_t block_limit;      // 56 the block's size as its memory manager knows it; UINT64_MAX where unknown
};
static_assert(sizeof(CaptureRecord) == kSlotSize, "a capture's first slot");

constexpr uint32_t CaptureSlots(uint32_t dataBytes) { return 1u + (dataBytes + kSlotSize - 1) / kSlotSize; }

enum ImageTransfer : uint8_t { kTransferMemory = 1, kTransferNative = 2 };

// Where an image record's length comes from.
enum LengthSource : uint8_t {
    kLengthUnknown = 0,
    kLengthBytesWritten = 1,  // TW_IMAGEMEMXFER.BytesWritten (within Memory.Length)
    kLengthImageHeader = 2,   // the native image's own header (its bitmap header's sizes)
    kLengthAllocation = 3,    // the size of the block the handle was allocated with
};

enum HashKind : uint8_t {
    kHashNone = 0,
    kHashSample = 1,  // XXH3-64 over a fixed sample of the data (see docs), seeded with the length
    kHashFull = 2,    // XXH3-64 over all `hashed_bytes`, seeded with the length
};

enum ImageFlags : uint8_t {
    kImageStored = 1u << 0,      // stored_bytes were written to file_name in the image folder
    kImageWriteFailed = 1u << 1, // the image folder existed but the file could not be written whole
    kImageUnreadable = 1u << 2,  // the data stopped at memory that could not be read before `length`
};

// Three slots.
struct ImageRecord {
    uint32_t seal;          //  0 Seal(index, kKindImage), stored last
    uint16_t kind;          //  4 kKindImage
    uint16_t slots;         //  6 3
    uint32_t call_id;       //  8
    uint8_t transfer;       // 12 ImageTransfer
    uint8_t length_from;    // 13 LengthSource
    uint8_t hash_kind;      // 14 HashKind
    uint8_t flags;          // 15 ImageFlags
    uint64_t length;        // 16 bytes of image data the call handed over
    uint64_t hash;          // 24
    uint64_t hashed_bytes;  // 32 bytes the hash read (a sample's size, or the readable length)
    uint64_t address;       // 40 where the data was (TheMem, or the native image's block), as a value
    uint64_t stored_bytes;  // 48 bytes written to the image file
    uint64_t reserved;      // 56
    char file_name[128];    // 64 the image file's name in the image folder, NUL-terminated; "" when not stored
};
static_assert(sizeof(ImageRecord) == 3 * kSlotSize, "three slots");

}  // namespace tracelet::flightrecord

#endif
