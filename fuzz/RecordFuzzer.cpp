// libFuzzer target: the flight record reader on any bytes. It must read
// every input without a crash or a sanitizer report, and what it returns
// must hold together: no more calls than slots, no call ending before it
// starts, calls in slot order, every text it prints bounded.
#include <cstddef>
#include <cstdint>
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
    if (r.problems.size() > 60) __builtin_trap();
    (void)r.stop_text();
    return 0;
}
