#include "PlaybackConfig.h"

#include "TargetConfig.h"

namespace tracelet {
namespace playback {

const char kRecordingVariable[] = "TRACELET_PLAYBACK_RECORDING";

namespace {

const char kBlanks[] = " \t\r";

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string::npos) return "";
    const size_t last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

std::string LineError(int line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

}  // namespace

ConfigText ParseConfigText(const std::string& text) {
    ConfigText result;
    int recordingLine = 0;
    int modeLine = 0;
    int lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        ++lineNumber;

        if (line.empty() || line[0] == '#') continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            result.error = LineError(lineNumber, "expected \"recording = /path/to/logs\" or \"mode = strict|tolerant\", "
                                                 "found \"" + line + "\"");
            return result;
        }
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        int* seen = key == "recording" ? &recordingLine : key == "mode" ? &modeLine : nullptr;
        if (!seen) {
            result.error = LineError(lineNumber, "unknown setting \"" + key + "\" (known: recording, mode)");
            return result;
        }
        if (*seen) {
            result.error = LineError(lineNumber, key + " is already set on line " + std::to_string(*seen));
            return result;
        }
        *seen = lineNumber;
        if (seen == &modeLine) {
            if (value != "strict" && value != "tolerant") {
                result.error = LineError(lineNumber, "mode is \"" + value + "\", not strict or tolerant");
                return result;
            }
            result.tolerant = value == "tolerant";
        } else if (value.empty()) {
            result.error = LineError(lineNumber, "recording has no path");
            return result;
        } else {
            result.recording = value;
        }
    }
    result.ok = true;
    return result;
}

RecordingChoice ChooseRecording(const char* variableValue, const std::string& configPath,
                                const std::string* configText, const std::string& readError) {
    RecordingChoice choice;
    const bool overridden = variableValue && *variableValue;
    ConfigText parsed;
    if (configText) {
        parsed = ParseConfigText(*configText);
        if (!parsed.ok) {
            choice.origin = configPath;
            choice.problem = "no recording: \"" + configPath + "\" " + parsed.error;
            return choice;
        }
        choice.tolerant = parsed.tolerant;
    }
    if (overridden) {
        choice.origin = kRecordingVariable;
        choice.path = variableValue;
        return choice;
    }

    choice.origin = configPath;
    if (!configText) {
        choice.problem = "no recording: cannot read \"" + configPath + "\" (" + readError + ") and " +
                         kRecordingVariable + " is not set";
        return choice;
    }
    if (parsed.recording.empty()) {
        choice.problem = "no recording: \"" + configPath + "\" has no \"recording = /path/to/logs\" line and " +
                         kRecordingVariable + " is not set";
        return choice;
    }
    if (parsed.recording[0] == '/') {
        choice.path = parsed.recording;
    } else {
        const std::string folder = passthrough::FolderOf(configPath);
        choice.path = folder.empty() ? parsed.recording : (folder == "/" ? "/" : folder + "/") + parsed.recording;
    }
    return choice;
}

}  // namespace playback
}  // namespace tracelet
