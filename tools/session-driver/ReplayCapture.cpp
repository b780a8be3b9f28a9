#include "ReplayCapture.h"

#include <algorithm>
#include <cstdio>

namespace tr = tracelet::trace;

namespace replay {

namespace {

// A container is handed to the source whole: what the bound cut off is
// zeros, up to this size.
constexpr std::size_t kLargestContainer = 16u << 20;

std::string SeqText(long long seq) {
    char text[32];
    std::snprintf(text, sizeof text, "[%05lld]", seq);
    return text;
}

}  // namespace

std::string CaptureProblem(const tr::FlightRecord& record) {
#if defined(TRACELET_TWAIN_ABI_MACOS)
    const bool macos = true;
#else
    const bool macos = false;
#endif
    const tr::CaptureCheck check = tr::check_capture(record, macos);
    switch (check.status) {
    case tr::CaptureStatus::ok: return {};
    case tr::CaptureStatus::no_capture: return "no capture to replay: " + check.message;
    case tr::CaptureStatus::other_abi: return "recorded under the other TWAIN layout: " + check.message;
    case tr::CaptureStatus::damaged: break;
    }
    return "the recording is damaged: " + check.message;
}

std::string ReadCapture(const tr::FlightRecord& record, Plan& plan) {
    for (RecordedCall& c : plan.calls) {
        const tr::CallCapture* capture = record.capture_of(c.id);
        if (!capture || !capture->in.present)
            return "the flight record " + record.path + " holds no capture of the input of call " + SeqText(c.seq) +
                   " (the record stopped early or is damaged): it cannot be replayed from there";
        const tr::CapturedData& in = capture->in;
        c.hasData = !in.null_data;
        c.data = in.structure.bytes;
        if (in.has_block) {
            c.container = in.block.bytes;
            const std::size_t whole = std::min<std::size_t>(in.block.size, kLargestContainer);
            if (c.container.size() < whole) c.container.resize(whole, '\0');
        }
        if (capture->image.present) {
            c.hasImage = true;
            c.imageLength = capture->image.length;
            c.imageHash = capture->image.hash;
        }
    }
    return {};
}

std::optional<CapturedImageSummary> CapturedImage(const tr::SessionTimes& times, const tr::Call& call) {
    const tr::FlightRecord* record = times.record_of(call);
    const tr::TimedCall* timed = times.find(call);
    if (!record || !timed) return std::nullopt;
    const tr::CallCapture* capture = record->capture_of(timed->id);
    if (!capture || !capture->image.present) return std::nullopt;
    CapturedImageSummary s;
    s.length = capture->image.length;
    s.hash = capture->image.hash;
    s.hashKind = static_cast<int>(capture->image.hash_kind);
    return s;
}

std::string ImageDifference(const CapturedImageSummary& a, const CapturedImageSummary& b) {
    if (a.length != b.length) return "length";
    // Hashes of different kinds (a sample, the whole image) do not compare.
    if (a.hashKind == b.hashKind && a.hashKind != 0 && a.hash != b.hash) return "hash";
    return {};
}

std::string ImageText(const CapturedImageSummary& s) {
    char text[64];
    std::snprintf(text, sizeof text, "%llu bytes, hash %016llx", static_cast<unsigned long long>(s.length),
                  static_cast<unsigned long long>(s.hash));
    return text;
}

}  // namespace replay
