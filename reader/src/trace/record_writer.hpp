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
