// The recorded inputs of a session's calls, read from its flight record's
// capture, and the image hashes of a recording and its replay compared.
#ifndef TRACELET_SESSION_REPLAYCAPTURE_H
#define TRACELET_SESSION_REPLAYCAPTURE_H

#include <string>
#include <vector>

#include "Replay.h"
#include "trace/record.hpp"

namespace replay {

// Why a record holds no capture this build can replay (none, or damaged),
// as the message a user reads; empty when it holds one.
std::string CaptureProblem(const tracelet::trace::FlightRecord& record);

// Fills each planned call's recorded input from the record's capture; the
// message of CaptureProblem() when it cannot.
std::string ReadCapture(const tracelet::trace::FlightRecord& record, Plan& plan);

struct ImageMismatch {
    long long seq = -1;  // the recorded call
    std::string text;
};

// The image transfers whose length or hash differ between the recording and
// the replay's own record.
std::vector<ImageMismatch> CompareImages(const Plan& plan, const tracelet::trace::SessionTimes& replay);

}  // namespace replay

#endif  // TRACELET_SESSION_REPLAYCAPTURE_H
