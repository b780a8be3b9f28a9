// Conformance faults the virtual scanner can be told to plant, one at a
// time or several, so that a conformance run can be shown to catch each one.
// They are chosen for one process with the environment variable
// TRACELET_SCANNER_FAULT: fault names separated by commas.
#ifndef TRACELET_VS_FAULTS_H
#define TRACELET_VS_FAULTS_H

#include <string>

namespace vscan {

struct Faults {
    bool getCurrentContainer = false;  // getcurrent-container: MSG_GETCURRENT answers in MSG_GET's container
    bool resetKeepsValue = false;      // reset-keeps-value: MSG_RESET answers, but restores nothing
    bool resetAllKeepsValue = false;   // resetall-keeps-value: MSG_RESETALL leaves ICAP_PIXELTYPE as it was set
    bool noSeqError = false;           // no-seqerror: a triplet out of its states reports TWCC_BUMMER
    bool shortStrip = false;           // short-strip: a page's first memory strip reports one row fewer than it holds
    bool staleStatus = false;          // stale-status: a success leaves the last failure's condition code
    bool leakFd = false;               // leak-fd: each MSG_OPENDS opens a file that is never closed
    bool crash = false;                // crash: DAT_IMAGEINFO of a ready page crashes the process
    bool hang = false;                 // hang: DAT_IMAGEINFO of a ready page never returns
};

extern const char kFaultVariable[];  // "TRACELET_SCANNER_FAULT"

// Reads a list of fault names. Names it does not know go to `unknown`,
// separated by commas.
Faults ParseFaults(const std::string& names, std::string* unknown);

// The faults TRACELET_SCANNER_FAULT names; an unknown name is reported on
// the standard error stream and ignored.
Faults FaultsFromEnvironment();

}  // namespace vscan

#endif  // TRACELET_VS_FAULTS_H
