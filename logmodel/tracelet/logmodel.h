// The trace log's own model, one copy for the data source that writes the log
// and for the programs that read it: the texts each kind of line starts with,
// the source tags, and the TWAIN state machine the state lines follow.
//
// Header-only, constexpr, no allocation: the data source's trace path may use
// all of it.
#ifndef TRACELET_LOGMODEL_H
#define TRACELET_LOGMODEL_H

#include <stdint.h>

#include <string_view>

#include "tracelet/twain.h"

namespace tracelet::logmodel {

// --- Lines --------------------------------------------------------------------
// Every trace line ends with CR LF. The prefixes are spelled once, as macros,
// so that the formats the source prints with and the prefixes a reader matches
// are one text.

#define TRACELET_LOG_DURING "        During      = ["
#define TRACELET_LOG_RESULT "        Return Code = ["
#define TRACELET_LOG_PDATA "pData   = <"
#define TRACELET_LOG_STATE "TWAIN Status = ["

constexpr char kLineEnd[] = "\r\n";

// "[00012] [APP] DG_CONTROL/DAT_CAPABILITY/MSG_GET (ICAP_XRESOLUTION)": the
// number, the tag, then the names (the capability's only for DAT_CAPABILITY).
constexpr char kSequenceFormat[] = "[%05ld] ";
constexpr char kTagFormat[] = "[%.31s] ";
constexpr std::string_view kTagApplication = "APP";  // the application's call through DS_Entry
constexpr std::string_view kTagSource = "DS";        // the source's call through the manager entry

// First line of a [DS] block when an application call was in flight on the
// same thread: that call's names (DG, DAT, MSG), as on its triplet line
// without number, tag and capability.
constexpr char kDuringFormat[] = TRACELET_LOG_DURING "%s/%s/%s]%s";
constexpr std::string_view kDuringPrefix = TRACELET_LOG_DURING;

constexpr char kResultFormat[] = TRACELET_LOG_RESULT "%s]%s";
constexpr std::string_view kResultPrefix = TRACELET_LOG_RESULT;

constexpr char kPDataFormat[] = TRACELET_LOG_PDATA "0x%08x>%s";
constexpr std::string_view kPDataPrefix = TRACELET_LOG_PDATA;

// The state line, after an empty line: "%s" CR LF, the state, CR LF.
constexpr char kStateFormat[] = "%s" TRACELET_LOG_STATE "%d]%s";
constexpr std::string_view kStatePrefix = TRACELET_LOG_STATE;

// Written after a call that returned TWRC_FAILURE.
constexpr std::string_view kMarkerStart = "*** Inspect Error Status Start ***";
constexpr std::string_view kMarkerEnd = "*** Inspect Error Status End   ***";

// A result text longer than kLogTextSize bytes: its first kLogTextSize bytes,
// then this note with no line end, so the next text goes on on its line.
constexpr unsigned kLogTextSize = 5120;
constexpr std::string_view kOverflowNote = "Size of CAP_xxx too long";

// Notes inside a capability container whose block's size is known and that
// claims more than the block holds (numbers, then the line end). The items
// of a list that fit are printed before the first; the second stands in
// place of the container's members; the third follows the text of a string
// item cut off by the end of its block.
constexpr char kCountNoteFormat[] = "        !!! NumItems %lu but the container holds %lu items !!!%s";
constexpr char kShortHeaderNoteFormat[] = "        !!! the container holds %lu bytes, too few for its header !!!%s";
constexpr char kNoEndNoteFormat[] = "        !!! item %lu has no end inside its container !!!%s";
// What a reader finds between "!!! " and " !!!" of each.
constexpr std::string_view kCountNoteStart = "NumItems ";
constexpr std::string_view kCountNoteMiddle = " but the container holds ";
constexpr std::string_view kShortHeaderNoteEnd = " bytes, too few for its header";
constexpr std::string_view kShortHeaderNoteStart = "the container holds ";
constexpr std::string_view kNoEndNoteEnd = " has no end inside its container";

#undef TRACELET_LOG_DURING
#undef TRACELET_LOG_RESULT
#undef TRACELET_LOG_PDATA
#undef TRACELET_LOG_STATE

// --- States -------------------------------------------------------------------
// States of the TWAIN standard: 2 manager loaded, 3 manager open, 4 source
// open, 5 source enabled, 6 transfer ready, 7 transferring. The log starts
// each load at 3.

constexpr int kStateAtLoad = 3;

// Two readings of one session. The log's own rule moves to 4 on a
// MSG_CLOSEDSREQ; the standard stays in 5 (from 6 or 7 it returns to 5) until
// the application sends MSG_DISABLEDS, treats MSG_CLOSEDSOK the same way, and
// lets MSG_ENABLEDSUIONLY enable the source. The log's state lines follow
// Reading::Log; conformance findings use Reading::Standard only.
enum class Reading { Log, Standard };

// What a call's pData tells the state machine, read by whoever holds it.
struct CallFacts {
    uint16_t dat = 0;
    uint16_t msg = 0;
    bool has_event = false;  // DAT_EVENT/MSG_PROCESSEVENT: TW_EVENT.TWMessage
    uint16_t event_msg = 0;
    bool has_count = false;  // DAT_PENDINGXFERS/MSG_ENDXFER: TW_PENDINGXFERS.Count
    uint16_t count = 0;      // as TW_UINT16: -1 (0xFFFF, "not known") is not 0
};

constexpr bool IsImageTransfer(uint16_t dat) {
    return dat == DAT_IMAGEMEMXFER || dat == DAT_IMAGENATIVEXFER || dat == DAT_IMAGEFILEXFER;
}

// A notification from the source (MSG_XFERREADY, MSG_CLOSEDSREQ, ...),
// whether it came as the source's own DAT_NULL call or as an event the source
// claimed in DAT_EVENT/MSG_PROCESSEVENT. enable_in_flight: the same thread's
// application MSG_ENABLEDS had not returned yet; the enable completes first.
constexpr int NotifiedState(int state, uint16_t msg, bool enable_in_flight, Reading reading = Reading::Log) {
    switch (msg) {
        case MSG_XFERREADY:
            if (state == 5 || (state == 4 && enable_in_flight)) return 6;
            return state;
        case MSG_CLOSEDSREQ:
            if (reading == Reading::Log) return state == 5 ? 4 : state;
            return state >= 5 && state <= 7 ? 5 : state;
        case MSG_CLOSEDSOK:
            if (reading == Reading::Log) return state;
            return state >= 5 && state <= 7 ? 5 : state;
        default:
            return state;
    }
}

// The state after a call of the application that did not fail.
constexpr int NextState(int state, const CallFacts& c, Reading reading = Reading::Log) {
    switch (c.msg) {
        case MSG_OPENDSM: return state == 2 ? 3 : state;
        case MSG_CLOSEDSM: return state == 3 ? 2 : state;
        case MSG_OPENDS: return state == 3 ? 4 : state;
        case MSG_CLOSEDS: return state == 4 ? 3 : state;
        case MSG_ENABLEDS: return state == 4 ? 5 : state;
        case MSG_ENABLEDSUIONLY:
            return reading == Reading::Standard && c.dat == DAT_USERINTERFACE && state == 4 ? 5 : state;
        case MSG_DISABLEDS: return c.dat == DAT_USERINTERFACE && state == 5 ? 4 : state;
        case MSG_PROCESSEVENT:
            if (c.dat == DAT_EVENT) {
                if (!c.has_event) return state;
                // The log's rule moves only from 5; a claimed event is a
                // notification like any other in the standard's reading.
                if (reading == Reading::Log && state != 5) return state;
                if (reading == Reading::Log && c.event_msg != MSG_XFERREADY && c.event_msg != MSG_CLOSEDSREQ)
                    return state;
                return NotifiedState(state, c.event_msg, false, reading);
            }
            return IsImageTransfer(c.dat) && state == 6 ? 7 : state;
        case MSG_GET: return IsImageTransfer(c.dat) && state == 6 ? 7 : state;
        case MSG_ENDXFER:
            if (c.dat == DAT_PENDINGXFERS && state >= 6 && c.has_count) return c.count != 0 ? 6 : 5;
            return state;
        case MSG_RESET: return c.dat == DAT_PENDINGXFERS && state == 6 ? 5 : state;
        default: return state;
    }
}

}  // namespace tracelet::logmodel

#endif  // TRACELET_LOGMODEL_H
