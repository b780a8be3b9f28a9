// What the playback companion plays: the application's calls of one load
// in the order they were recorded, each with its return code and the
// notices the source sent around it.
//
// The calls come from the flight record of the session's last load (the
// earlier loads of a session are the manager's probes). A notice the
// source sent from inside an application call belongs to that call; one
// it sent from a thread of its own belongs to the application call that
// started last before it, and is sent after that call returns.
#ifndef TRACELET_PLAYBACK_SCRIPT_H
#define TRACELET_PLAYBACK_SCRIPT_H

#include <cstdint>
#include <string>
#include <vector>

namespace tracelet {
namespace trace {
struct FlightRecord;
}

namespace playback {

// A call of the source to the manager's entry point.
struct Notice {
    uint32_t dg = 0;
    uint16_t dat = 0, msg = 0;
};

struct RecordedCall {
    uint32_t dg = 0;
    uint16_t dat = 0, msg = 0;
    int cap = -1;  // the capability of a DAT_CAPABILITY call; -1 when not known
    uint16_t rc = 0;
    std::vector<Notice> inside;  // sent from inside the call, before it returns
    std::vector<Notice> after;   // sent from the companion's thread once it has returned
};

struct Script {
    std::vector<RecordedCall> calls;
    // Calls left out at the end: the recorded call that never returned and
    // everything after it.
    std::size_t cut = 0;
};

// The script of one parsed flight record.
Script ScriptFrom(const trace::FlightRecord& record);

// "DG_CONTROL/DAT_CAPABILITY/MSG_GET (ICAP_UNITS)"
std::string CallText(uint32_t dg, uint16_t dat, uint16_t msg, int cap);

// A recording opened for playback, or why it cannot be played.
struct LoadedScript {
    Script script;
    std::string record;   // the flight record it came from
    std::string problem;  // one sentence; empty when the script can be played
};

// `path` is one log file or a folder of logs, as the log reader takes them.
// `macosAbi` is the layout this companion was built for: a record of the
// other layout is refused.
LoadedScript LoadScript(const std::string& path, bool macosAbi);

}  // namespace playback
}  // namespace tracelet

#endif  // TRACELET_PLAYBACK_SCRIPT_H
