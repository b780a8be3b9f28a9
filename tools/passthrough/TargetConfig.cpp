#include "TargetConfig.h"

#include <algorithm>

namespace tracelet {
namespace passthrough {

const char kTargetVariable[] = "TRACELET_TARGET_DS";

namespace {

const char kBlanks[] = " \t\r";

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string::npos) return "";
    const size_t last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

// A name without a slash would make the loader search its library path
// instead of opening this file.
std::string AsLoaderPath(const std::string& path) {
    return path.find('/') == std::string::npos ? "./" + path : path;
}

}  // namespace

std::string LineError(int line, const std::string& what) {
    return "line " + std::to_string(line) + ": " + what;
}

SettingsText ParseSettingsText(const std::string& text, const std::vector<std::string>& keys,
                               const std::string& form, const std::string& known) {
    SettingsText result;
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
            result.error = LineError(lineNumber, "expected " + form + ", found \"" + line + "\"");
            return result;
        }
        const std::string key = Trim(line.substr(0, equals));
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
            result.error = LineError(lineNumber, "unknown setting \"" + key + "\" (" + known + ")");
            return result;
        }
        const auto seen = result.values.find(key);
        if (seen != result.values.end()) {
            result.error = LineError(lineNumber, key + " is already set on line " + std::to_string(seen->second.line));
            return result;
        }
        result.values[key] = Setting{Trim(line.substr(equals + 1)), lineNumber};
    }
    result.ok = true;
    return result;
}

ConfigText ParseConfigText(const std::string& text) {
    ConfigText result;
    const SettingsText settings =
        ParseSettingsText(text, {"target"}, "\"target = /path/to/source.ds\"", "only \"target\" is known");
    if (!settings.ok) {
        result.error = settings.error;
        return result;
    }
    const auto target = settings.values.find("target");
    if (target == settings.values.end()) {
        result.error = "no \"target = /path/to/source.ds\" line";
        return result;
    }
    if (target->second.value.empty()) {
        result.error = LineError(target->second.line, "target has no path");
        return result;
    }
    result.target = target->second.value;
    result.ok = true;
    return result;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BesideConfig(const std::string& configPath, const std::string& value) {
    if (!value.empty() && value[0] == '/') return value;
    const std::string folder = FolderOf(configPath);
    return folder.empty() ? value : (folder == "/" ? "/" : folder + "/") + value;
}

std::string ConfigPathFor(const std::string& companionPath) {
    const size_t slash = companionPath.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = companionPath.rfind('.');
    // A dot in a folder name or a leading dot is no extension.
    if (dot == std::string::npos || dot <= nameStart) dot = companionPath.size();
    return companionPath.substr(0, dot) + ".conf";
}

TargetChoice ChooseTarget(const char* variableValue, const std::string& configPath,
                          const std::string* configText, const std::string& readError) {
    TargetChoice choice;
    if (variableValue && *variableValue) {
        choice.origin = kTargetVariable;
        choice.path = AsLoaderPath(variableValue);
        return choice;
    }

    choice.origin = configPath;
    if (!configText) {
        choice.problem = "no target data source: cannot read \"" + configPath + "\" (" + readError +
                         ") and " + kTargetVariable + " is not set";
        return choice;
    }
    const ConfigText parsed = ParseConfigText(*configText);
    if (!parsed.ok) {
        choice.problem = "no target data source: \"" + configPath + "\" " + parsed.error;
        return choice;
    }
    choice.path = AsLoaderPath(BesideConfig(configPath, parsed.target));
    return choice;
}

}  // namespace passthrough
}  // namespace tracelet
