// libFuzzer target: the flight record reader on any bytes. It must read
// every input without a crash or a sanitizer report, and what it returns
// must hold together: no more calls than slots, no call ending before it
// starts, calls in slot order, every text it prints bounded; captures in
// call order, none larger than the bounds its header states, no image file
// outside the image folder, and a capture check that always says why.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "trace/record.hpp"
#include "tracelet/flightrecord.h"

namespace fr = tracelet::flightrecord;
using namespace tracelet::trace;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FlightRecord r = parse_flight_record(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!r.header_ok && !r.calls.empty()) __builtin_trap();
    if (r.calls.size() > size / fr::kSlotSize) __builtin_trap();
    uint32_t previous = 0;
    for (std::size_t i = 0; i < r.calls.size(); ++i) {
        const TimedCall& c = r.calls[i];
        if (c.ended() && c.end_ns < c.start_ns) __builtin_trap();
        if (i > 0 && c.slot <= previous) __builtin_trap();
        previous = c.slot;
        if (triplet_text(c).size() > 200) __builtin_trap();
        if (r.clock_text(c.start_ns).size() != 12) __builtin_trap();
        (void)r.thread_name(c.thread);
        (void)duration_text(c.duration_ns());
        if (c.from_source && c.concurrent_id) (void)r.call_by_id(c.concurrent_id);
    }
    for (std::size_t i = 0; i < r.captures.size(); ++i) {
        const CallCapture& k = r.captures[i];
        if (i > 0 && k.call_id <= r.captures[i - 1].call_id) __builtin_trap();
        if (r.capture_of(k.call_id) != &k) __builtin_trap();
        for (const CapturedData* d : {&k.in, &k.out}) {
            if (d->structure.bytes.size() > r.capture_max_structure || d->block.bytes.size() > r.capture_max_block)
                __builtin_trap();
            if (d->structure.bytes.size() > d->structure.size) __builtin_trap();
        }
        if (k.image.file_name.find('/') != std::string::npos) __builtin_trap();
        if (k.image.stored && r.image_path(k.image).find("/../") != std::string::npos) __builtin_trap();
    }
    for (const bool macos : {false, true}) {
        const CaptureCheck check = check_capture(r, macos);
        if ((check.status == CaptureStatus::ok) != check.message.empty()) __builtin_trap();
    }
    if (r.problems.size() > 60) __builtin_trap();
    (void)r.stop_text();
    return 0;
}
