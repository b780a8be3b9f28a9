// What the playback companion plays: the application's calls of one load
// in the order they were recorded, each with its return code and the
// notices the source sent around it.
//
// The calls come from the flight record of the session's last load (the
// earlier loads of a session are the manager's probes), with their pData
// as the record's capture kept it going in and coming out. The strips of
// one page by memory transfer are one call here, since an application
// with another buffer size asks for another number of strips. A notice the
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

// The image data one transfer call handed over.
struct RecordedImage {
    bool present = false;  // the call handed over image data
    uint64_t length = 0;   // its length
    std::string file;      // the file holding its bytes; "" when they were not captured
};

// One strip of a page by memory transfer: the TW_IMAGEMEMXFER the source
// filled, and its data.
struct RecordedStrip {
    std::string out;
    uint16_t rc = 0;
    RecordedImage image;
};

struct RecordedCall {
    uint32_t dg = 0;
    uint16_t dat = 0, msg = 0;
    int cap = -1;  // the capability of a DAT_CAPABILITY call; -1 when not known
    uint16_t rc = 0;
    std::vector<Notice> inside;  // sent from inside the call, before it returns
    std::vector<Notice> after;   // sent from the companion's thread once it has returned

    // pData's structure going in and as the source left it, in the record's
    // layout (this build's); empty when the call has none or it was null.
    std::string in, out;
    bool container = false;     // the source left a container behind the structure's handle
    std::string containerBytes;
    RecordedImage image;                // DAT_IMAGENATIVEXFER, DAT_IMAGEFILEXFER
    std::vector<RecordedStrip> strips;  // DAT_IMAGEMEMXFER: the page's strips in order
    std::string imageInfo;  // the TW_IMAGEINFO last recorded before an image transfer
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
// `macosAbi` is the layout this companion was built for: a record without
// a capture, of the other layout or damaged is refused.
LoadedScript LoadScript(const std::string& path, bool macosAbi);

}  // namespace playback
}  // namespace tracelet

#endif  // TRACELET_PLAYBACK_SCRIPT_H
