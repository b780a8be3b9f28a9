// One load of the playback companion: chooses the recording, reads it and
// makes the operator that plays it.
#ifndef TRACELET_PLAYBACK_NEWPLAYBACK_H
#define TRACELET_PLAYBACK_NEWPLAYBACK_H

#include <string>

#include "PlaybackOperator.h"

namespace tracelet {
namespace playback {

extern const char kReportPrefix[];  // "Tracelet playback companion: "

// For the companion at `companionPath` (empty when unknown). When there is
// nothing to play, the operator fails every call and one line saying why
// has gone to the standard error stream.
PlaybackOperator* NewPlayback(const std::string& companionPath);

}  // namespace playback
}  // namespace tracelet

#endif  // TRACELET_PLAYBACK_NEWPLAYBACK_H
