// Writes flight records in the data source's binary format, for tests and the
// fuzz corpus: any mix of calls, ended or not, thread names, an unload, a
// stop, and slots reserved but never filled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tracelet::trace {

class RecordWriter {
public:
    struct Header {
        uint32_t pid = 4242;
        uint32_t load_in_log = 1;
        uint64_t process_start_ticks = 1000;
        uint32_t ticks_per_second = 100;
        int32_t utc_offset_seconds = 3600;
        int64_t load_wall_ns = 1796600000000000000;  // 2026-12-06 23:33:20 UTC
        int64_t load_mono_ns = 5000000000;
        uint64_t log_offset = 0;
        std::string boot_id = "00000000-0000-0000-0000-000000000000";
        std::string process_name = "scanapp";
        std::string log_name;
        std::string ds_path = "/usr/lib/twain/tracelet/Tracelet.ds";
        std::string companion_path = "/usr/lib/twain/tracelet/libvirtual.so";
        bool macos_abi = false;
        bool capture = false;  // the header says application calls are captured
        bool images = false;   // ... and image data went to the image folder
        uint32_t capture_max_structure = 2048, capture_max_block = 8192, capture_hash_sample = 512;
        std::string images_folder = "images";
    };
    // One phase of a call's pData.
    struct Capture {
        uint32_t call_slot = 0;  // the call's slot (its id is slot + 1)
        bool out = false;        // coming out (else going in)
        uint8_t flags = 0;       // CaptureRecordFlags beyond those implied below
        uint64_t data = 0x1000;  // pData's value; 0 sets kCapNullData
        std::string structure;
        uint32_t structure_size = 0;  // 0: structure.size()
        bool container = false;
        uint64_t handle = 0;
        std::string block;
        uint32_t block_size = 0;  // 0: block.size()
        uint16_t con_type = 0, item_type = 0;
        uint32_t num_items = 0;
        uint64_t block_limit = UINT64_MAX;
    };
    struct Image {
        uint32_t call_slot = 0;
        uint8_t transfer = 1, length_from = 1, hash_kind = 1, flags = 0;
        uint64_t length = 0, hash = 0, hashed_bytes = 0, address = 0, stored_bytes = 0;
        std::string file_name;
    };
    struct Start {
        uint32_t thread = 100;
        int64_t start_ns = 0;
        uint32_t dg = 1;
        uint16_t dat = 0, msg = 0;
        int cap = -1;
        bool from_source = false;
        int state_before = 4;
        uint32_t during_id = 0, concurrent_id = 0;
    };

    RecordWriter();
    explicit RecordWriter(Header h) : header_(std::move(h)) {}

    // Returns the call's slot.
    uint32_t start(const Start& s);
    // seq < 0: the call got no blocks in the log.
    void end(uint32_t slot, int64_t end_ns, uint16_t rc, int state_after, long long seq);
    void thread_name(uint32_t thread, const std::string& name, int64_t time_ns);
    void unload(int64_t time_ns, uint32_t thread = 100);  // also sets the closed flag
    void stop(uint32_t reason, uint32_t error, int64_t time_ns);  // also sets the full flag
    void capture(const Capture& c);
    void image(const Image& m);
    void unsealed();                          // a slot reserved, never filled
    void other_kind(uint16_t kind, uint16_t slots);  // a sealed record of a kind readers skip
    void set_flags(uint32_t flags) { flags_ |= flags; }

    // The file's bytes: header, then the slots; `spare_slots` zero slots after
    // them, as the writer's growth step leaves.
    std::string bytes(std::size_t spare_slots = 0) const;
    void write(const std::string& path, std::size_t spare_slots = 0) const;

private:
    Header header_;
    std::vector<std::string> slots_;
    uint32_t flags_ = 0;
};

// This machine's boot id, for records whose host should count as running.
std::string this_boot_id();
// Field 22 of /proc/<pid>/stat.
uint64_t start_ticks_of(int pid);

}  // namespace tracelet::trace
