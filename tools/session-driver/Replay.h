// tracelet-session --replay: plays the application's side of a recorded
// session against a data source, and reports where the source now answers
// otherwise than it did. The replay runs in a child process, through a trace
// data source of this build whose companion forwards to the source under
// test, so that its own trace is written and compared with the recording by
// the log reader's diff.
#ifndef TRACELET_SESSION_REPLAY_H
#define TRACELET_SESSION_REPLAY_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tracelet/twain.h"
#include "trace/record.hpp"

namespace replay {

struct Options {
    std::vector<std::string> logs;  // the recorded session's log files or their folder
    std::string target;             // the data source to replay against
    std::string outDir;             // empty: replay-<date>-<time>
    bool keepGoing = false;         // report every divergence, not only the first
    bool ignoreImageBytes = false;  // image transfers compare by their structures only
    bool pace = false;              // keep the recorded pauses between calls
    long long untilCall = -1;       // replay the calls up to this sequence number; -1: all
    double noticeTimeoutSeconds = 10;
    int timeoutSeconds = 600;       // the whole replay
    // Fixed by the build: the trace data source and its log folder.
    std::string traceDs;
    std::string logDir;
};

// One application call of the recorded load, with what it was sent.
struct RecordedCall {
    long long seq = -1;  // its number in the recorded log
    std::uint32_t id = 0;
    TW_UINT32 dg = 0;
    TW_UINT16 dat = 0, msg = 0;
    int cap = -1;
    int rc = -1;                     // -1: it never returned
    std::int64_t start_ns = 0, end_ns = -1;
    bool hasData = false;            // pData was not null
    std::string data, container;     // pData's structure and a capability's container, as sent
    bool hasImage = false;           // an image transfer: the image's length and hash
    std::uint64_t imageLength = 0, imageHash = 0;
    std::vector<TW_UINT16> noticesBefore;  // notices the application had before it sent this call
};

struct Plan {
    int probes = 0;  // loads before the replayed one: identity probes
    // Whether the recorded application took notices through the manager
    // (DF_APP2). The record does not hold the application's identity: one
    // that had a notice did; one that had none heard of its transfers
    // through its event loop, or had nothing to hear.
    bool callbacks = false;
    std::vector<RecordedCall> calls;
    std::vector<TW_UINT16> noticesAtEnd;  // notices after the last application call
};

// The plan of a record's calls: its application calls in the order they
// started, each notice ([DS] DAT_NULL) attached to the first application
// call that started after it, calls past `untilCall` left out.
Plan BuildPlan(const tracelet::trace::FlightRecord& last, int probes, long long untilCall);

// Plays `plan` against `traceDs` in this process: the manager's entry points
// and memory functions, the application's calls with their rebuilt inputs,
// the notices it waits for. Writes one line per event to `results`:
//   call <seq> <rc>
//   notice-missing <seq of the call it precedes, or -1 at the end> <msg>
//   stopped <seq>        (the return code differed and the replay stops)
//   end
// Returns 0 when it ran to its end.
int PlayPlan(const Plan& plan, const std::string& traceDs, const Options& options, const std::string& results,
             const std::string& fileFolder);

// Returns 0 when nothing diverged, 1 when something did, 2 when the replay
// could not start (no capture, the other TWAIN layout, a damaged capture, a
// missing data source).
int Run(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace replay

#endif  // TRACELET_SESSION_REPLAY_H
