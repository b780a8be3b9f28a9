// Choosing the data source the pass-through companion forwards to.
//
// The target's path comes from the environment variable TRACELET_TARGET_DS
// when it is set and not empty (one process), else from the configuration
// file beside the companion: the companion's own path with its extension
// replaced by ".conf" (TwainWrapper.bundle -> TwainWrapper.conf).
//
// The file is plain text, one setting per line:
//
//     # what the pass-through companion forwards to
//     target = /opt/vendor/twain/MyScanner.ds
//
// Blank lines and lines whose first non-blank character is '#' are
// ignored; blanks around the key and the value are trimmed; the value runs
// to the end of the line (spaces inside it belong to the path, no quotes).
// `target` is the only key and may appear once. A relative path is taken
// from the folder of the configuration file.
//
// Everything here is plain string work, so it can be tested without a
// loader or a file system.
#ifndef TRACELET_PASSTHROUGH_TARGETCONFIG_H
#define TRACELET_PASSTHROUGH_TARGETCONFIG_H

#include <map>
#include <string>
#include <vector>

namespace tracelet {
namespace passthrough {

// A companion's configuration file, as plain settings: blank lines and
// comment lines skipped, "key = value" lines trimmed, each of `keys` at most
// once. `form` is what a setting line looks like and `known` how the keys
// are named, both for the error text. The values are as written (possibly
// empty); what they mean is the caller's.
struct Setting {
    std::string value;
    int line = 0;
};
struct SettingsText {
    bool ok = false;
    std::map<std::string, Setting> values;  // by key
    std::string error;                      // with its line number
};
SettingsText ParseSettingsText(const std::string& text, const std::vector<std::string>& keys,
                               const std::string& form, const std::string& known);
// An error text about line `line` of a configuration file.
std::string LineError(int line, const std::string& what);

extern const char kTargetVariable[];  // "TRACELET_TARGET_DS"

// What a configuration file's text says. On success `target` is the value
// as written; otherwise `error` says what is wrong, with its line number.
struct ConfigText {
    bool ok = false;
    std::string target;
    std::string error;
};
ConfigText ParseConfigText(const std::string& text);

// The configuration file that belongs to the companion at `companionPath`.
std::string ConfigPathFor(const std::string& companionPath);

// The folder part of a path ("" for a bare file name), without the slash.
std::string FolderOf(const std::string& path);
// `value` from the configuration file at `configPath`: as it is when
// absolute, else taken from the file's folder ("" for a bare file name:
// `value` as it is).
std::string BesideConfig(const std::string& configPath, const std::string& value);

// The target chosen for one load, or why there is none.
struct TargetChoice {
    std::string path;     // what to load; empty when there is nothing to load
    std::string origin;   // where it came from: the variable's name or the file's path
    std::string problem;  // one sentence, set when path is empty
};

// The inputs are what the platform found: the variable's value (null when
// unset), the configuration file's path, and its text (null when it could
// not be read, with `readError` saying why).
TargetChoice ChooseTarget(const char* variableValue, const std::string& configPath,
                          const std::string* configText, const std::string& readError);

}  // namespace passthrough
}  // namespace tracelet

#endif  // TRACELET_PASSTHROUGH_TARGETCONFIG_H
