#include "ReplayCapture.h"

namespace replay {

std::string CaptureProblem(const tracelet::trace::FlightRecord& record) {
    return "the flight record " + record.path +
           " holds no capture of its calls' input (it was recorded by a version without capture): record the "
           "session again with this version";
}

std::string ReadCapture(const tracelet::trace::FlightRecord& record, Plan&) { return CaptureProblem(record); }

std::optional<CapturedImageSummary> CapturedImage(const tracelet::trace::SessionTimes&, const tracelet::trace::Call&) {
    return std::nullopt;
}

std::string ImageDifference(const CapturedImageSummary&, const CapturedImageSummary&) { return {}; }

std::string ImageText(const CapturedImageSummary&) { return {}; }

}  // namespace replay
