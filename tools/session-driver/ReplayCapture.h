// The recorded inputs of a session's calls, read from its flight record's
// capture, and the image hashes of a recording and its replay compared.
#ifndef TRACELET_SESSION_REPLAYCAPTURE_H
#define TRACELET_SESSION_REPLAYCAPTURE_H

#include <cstdint>
#include <optional>
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

// The captured image data of one transfer call.
struct CapturedImageSummary {
    std::uint64_t length = 0;
    std::uint64_t hash = 0;
    int hashKind = 0;  // 0 none; hashes of different kinds do not compare
};

// The image a call of a session's log handed over, from its flight record's
// capture; nothing for a call without one.
std::optional<CapturedImageSummary> CapturedImage(const tracelet::trace::SessionTimes& times,
                                                  const tracelet::trace::Call& call);

// What differs between two captured images: "length", "hash", or "" when
// they agree as far as they can be compared.
std::string ImageDifference(const CapturedImageSummary& a, const CapturedImageSummary& b);

// "65536 bytes, hash 0123456789abcdef".
std::string ImageText(const CapturedImageSummary& image);

}  // namespace replay

#endif  // TRACELET_SESSION_REPLAYCAPTURE_H
