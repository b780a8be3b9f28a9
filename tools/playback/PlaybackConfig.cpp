#include "PlaybackConfig.h"

#include "TargetConfig.h"

namespace tracelet {
namespace playback {

const char kRecordingVariable[] = "TRACELET_PLAYBACK_RECORDING";

ConfigText ParseConfigText(const std::string& text) {
    ConfigText result;
    const passthrough::SettingsText settings = passthrough::ParseSettingsText(
        text, {"recording", "mode"}, "\"recording = /path/to/logs\" or \"mode = strict|tolerant\"",
        "known: recording, mode");
    if (!settings.ok) {
        result.error = settings.error;
        return result;
    }
    for (const auto& [key, setting] : settings.values) {
        if (key == "mode") {
            if (setting.value != "strict" && setting.value != "tolerant") {
                result.error = passthrough::LineError(setting.line, "mode is \"" + setting.value + "\", not strict or tolerant");
                return result;
            }
            result.tolerant = setting.value == "tolerant";
        } else if (setting.value.empty()) {
            result.error = passthrough::LineError(setting.line, "recording has no path");
            return result;
        } else {
            result.recording = setting.value;
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
    choice.path = passthrough::BesideConfig(configPath, parsed.recording);
    return choice;
}

}  // namespace playback
}  // namespace tracelet
