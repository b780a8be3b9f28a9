// Where in the recorded calls an application's call belongs.
//
// Each call is matched against the next recorded one: the same triplet,
// and for DAT_CAPABILITY the same capability. In tolerant mode a call that
// does not match is answered from the first recorded call with its triplet
// after the expected one, else before it, and playing goes on from there.
//
// Event polls (DAT_EVENT/MSG_PROCESSEVENT) depend on timing: an
// application polls as often as its loop turns. A poll where the recording
// expects another call is answered "not a source event" and leaves the
// position; recorded polls that found no event are passed over when the
// application has moved on to another call.
#ifndef TRACELET_PLAYBACK_MATCHER_H
#define TRACELET_PLAYBACK_MATCHER_H

#include <cstddef>
#include <cstdint>

#include "Script.h"

namespace tracelet {
namespace playback {

struct Incoming {
    uint32_t dg = 0;
    uint16_t dat = 0, msg = 0;
    int cap = -1;  // read from the application's TW_CAPABILITY; -1 without one
};

struct Match {
    enum Kind {
        kRecorded,  // answer from script.calls[index]
        kNoEvent,   // an extra event poll: TWRC_NOTDSEVENT
        kNoMatch,   // TWRC_FAILURE with TWCC_SEQERROR; `index` is the call expected (calls.size() past the end)
    };
    Kind kind = kNoMatch;
    std::size_t index = 0;
};

class Matcher {
public:
    Matcher(const Script& script, bool tolerant) : script_(script), tolerant_(tolerant) {}

    Match Next(const Incoming& call);
    std::size_t Position() const { return position_; }
    // Plays on from recorded call `index` (a page's strips, one at a time).
    void SetPosition(std::size_t index) { position_ = index; }

private:
    bool Same(const RecordedCall& recorded, const Incoming& call) const;
    bool IsIdlePoll(std::size_t index) const;

    const Script& script_;
    const bool tolerant_;
    std::size_t position_ = 0;
};

}  // namespace playback
}  // namespace tracelet

#endif  // TRACELET_PLAYBACK_MATCHER_H
