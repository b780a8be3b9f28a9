#include "Matcher.h"

#include "tracelet/twain.h"

namespace tracelet {
namespace playback {

namespace {

bool IsPoll(uint32_t dg, uint16_t dat, uint16_t msg) {
    return (dg & 0xffff) == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT;
}

}  // namespace

bool Matcher::Same(const RecordedCall& recorded, const Incoming& call) const {
    if (recorded.dg != call.dg || recorded.dat != call.dat || recorded.msg != call.msg) return false;
    return call.dat != DAT_CAPABILITY || recorded.cap == call.cap;
}

bool Matcher::IsIdlePoll(std::size_t index) const {
    const RecordedCall& c = script_.calls[index];
    return IsPoll(c.dg, c.dat, c.msg) && c.rc == TWRC_NOTDSEVENT && c.inside.empty() && c.after.empty();
}

Match Matcher::Next(const Incoming& call) {
    const std::size_t count = script_.calls.size();
    Match m;
    if (IsPoll(call.dg, call.dat, call.msg)) {
        if (position_ < count && Same(script_.calls[position_], call)) {
            m.kind = Match::kRecorded;
            m.index = position_++;
        } else {
            m.kind = Match::kNoEvent;
        }
        return m;
    }

    std::size_t expected = position_;
    while (expected < count && IsIdlePoll(expected)) ++expected;
    if (expected < count && Same(script_.calls[expected], call)) {
        m.kind = Match::kRecorded;
        m.index = expected;
        position_ = expected + 1;
        return m;
    }
    m.index = expected;
    if (!tolerant_) return m;
    for (std::size_t i = expected + 1; i < count; ++i)
        if (Same(script_.calls[i], call)) {
            m.kind = Match::kRecorded;
            m.index = i;
            position_ = i + 1;
            return m;
        }
    for (std::size_t i = 0; i < expected && i < count; ++i)
        if (Same(script_.calls[i], call)) {
            m.kind = Match::kRecorded;
            m.index = i;
            position_ = i + 1;
            return m;
        }
    return m;
}

}  // namespace playback
}  // namespace tracelet
