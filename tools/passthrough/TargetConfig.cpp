#include "TargetConfig.h"

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

std::string LineError(int line, const std::string& what) {
    return "line " + std::to_string(line) + ": " + what;
}

// A name without a slash would make the loader search its library path
// instead of opening this file.
std::string AsLoaderPath(const std::string& path) {
    return path.find('/') == std::string::npos ? "./" + path : path;
}

}  // namespace

ConfigText ParseConfigText(const std::string& text) {
    ConfigText result;
    int targetLine = 0;
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
            result.error = LineError(lineNumber, "expected \"target = /path/to/source.ds\", found \"" + line + "\"");
            return result;
        }
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        if (key != "target") {
            result.error = LineError(lineNumber, "unknown setting \"" + key + "\" (only \"target\" is known)");
            return result;
        }
        if (targetLine) {
            result.error = LineError(lineNumber, "target is already set on line " + std::to_string(targetLine));
            return result;
        }
        if (value.empty()) {
            result.error = LineError(lineNumber, "target has no path");
            return result;
        }
        targetLine = lineNumber;
        result.target = value;
    }
    if (!targetLine) {
        result.error = "no \"target = /path/to/source.ds\" line";
        return result;
    }
    result.ok = true;
    return result;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
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
    if (parsed.target[0] == '/') {
        choice.path = parsed.target;
    } else {
        const std::string folder = FolderOf(configPath);
        choice.path = folder.empty() ? AsLoaderPath(parsed.target)
                                     : (folder == "/" ? "/" : folder + "/") + parsed.target;
    }
    return choice;
}

}  // namespace passthrough
}  // namespace tracelet
