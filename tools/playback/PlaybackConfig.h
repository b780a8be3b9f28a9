// Choosing the recording the playback companion answers from.
//
// The recording comes from the environment variable
// TRACELET_PLAYBACK_RECORDING when it is set and not empty (one process),
// else from the configuration file beside the companion: the companion's
// own path with its extension replaced by ".conf", as for the pass-through
// companion.
//
// The file is plain text, one setting per line:
//
//     # the session the playback companion answers from
//     recording = /home/me/sessions/customer-42
//     mode = tolerant
//
// `recording` names a session's log files: one log file, or a folder of
// them; the flight records beside the logs hold the calls. `mode` is
// `strict` (the default: a call out of the recorded order fails) or
// `tolerant` (it is answered from the same call elsewhere in the
// recording). Blank lines and lines whose first non-blank character is '#'
// are ignored; blanks around keys and values are trimmed; each key may
// appear once. A relative path is taken from the folder of the file.
#ifndef TRACELET_PLAYBACK_PLAYBACKCONFIG_H
#define TRACELET_PLAYBACK_PLAYBACKCONFIG_H

#include <string>

namespace tracelet {
namespace playback {

extern const char kRecordingVariable[];  // "TRACELET_PLAYBACK_RECORDING"

// What a configuration file's text says; `error` names the line at fault.
struct ConfigText {
    bool ok = false;
    std::string recording;  // as written; may be empty when the variable names it
    bool tolerant = false;
    std::string error;
};
ConfigText ParseConfigText(const std::string& text);

// The recording chosen for one load, or why there is none.
struct RecordingChoice {
    std::string path;     // empty when there is nothing to play back
    std::string origin;   // the variable's name or the file's path
    bool tolerant = false;
    std::string problem;  // one sentence, set when path is empty
};

// The inputs are what the platform found: the variable's value (null when
// unset), the configuration file's path, and its text (null when it could
// not be read, with `readError` saying why). With the variable set, the
// file is still read for its mode, and a missing file is no error.
RecordingChoice ChooseRecording(const char* variableValue, const std::string& configPath,
                                const std::string* configText, const std::string& readError);

}  // namespace playback
}  // namespace tracelet

#endif  // TRACELET_PLAYBACK_PLAYBACKCONFIG_H
