// Drives a whole scan session through a data source's DS_Entry, playing
// both the application and the data source manager, and writes down
// everything the source answered: each call's return code, the condition
// code after every call that did not succeed, the structures it filled,
// the notifications it sent the manager, and the pages it transferred.
// Two records of the same session compare equal exactly when the two
// sources behaved the same.
#ifndef TRACELET_PASSTHROUGH_TEST_SESSIONRECORDER_H
#define TRACELET_PASSTHROUGH_TEST_SESSIONRECORDER_H

#include <ostream>
#include <string>
#include <vector>

#include "tracelet/twain.h"

namespace chain {

enum class Mechanism { Native, Memory };
void PrintTo(Mechanism mechanism, std::ostream* out);

struct SessionRecord {
    std::vector<std::string> steps;               // one line per call
    std::vector<std::string> notifications;       // what the source told the manager
    std::vector<std::vector<unsigned char>> pages;  // each page's rows, top first
};

// The session: identity, an out-of-sequence call, open, entry points,
// capability negotiation (transfer count 2, the mechanism, a rejected value,
// an unknown capability), a scan area the source has to clip, enable,
// every page in the mechanism, disable, close, and a call after closing.
SessionRecord RecordSession(DSENTRYPROC entry, Mechanism mechanism);

// The record as text, for a readable difference when two records differ.
std::string ToText(const SessionRecord& record);

}  // namespace chain

#endif  // TRACELET_PASSTHROUGH_TEST_SESSIONRECORDER_H
