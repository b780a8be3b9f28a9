// "export --format chrome-trace": the session's calls in the Trace Event
// Format that trace viewers open, from its flight records.
#pragma once

#include <ostream>

#include "trace/record.hpp"

namespace tracelet::trace {

// One span per call on its thread's track (a notice sent from inside a call
// nests in it); a notice from a thread of the source's own is joined by a
// flow to the application call in flight then; failures as instant events;
// the TWAIN state as a counter; process and thread names. Times are
// microseconds from the first load's start. Events are written as they are
// made, one per line.
void write_chrome_trace(const SessionTimes& times, std::ostream& out, int64_t now_ns);

}  // namespace tracelet::trace
