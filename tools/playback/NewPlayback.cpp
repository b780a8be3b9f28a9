#include "NewPlayback.h"

#include "PassThroughPlatform.h"
#include "PlaybackConfig.h"
#include "Script.h"
#include "TargetConfig.h"

namespace tracelet {
namespace playback {

const char kReportPrefix[] = "Tracelet playback companion: ";

namespace {

namespace platform = passthrough::platform;

#if defined(TRACELET_TWAIN_ABI_MACOS)
constexpr bool kMacosAbi = true;
#else
constexpr bool kMacosAbi = false;
#endif

void Report(const std::string& line) { platform::ReportLine(kReportPrefix + line); }

// Made before the line is written, so that running out of memory here
// still leaves one line.
PlaybackOperator* FailingOperator(const std::string& problem) {
    PlaybackOperator* op = new PlaybackOperator();
    Report(problem + "; every call fails with TWRC_FAILURE");
    return op;
}

}  // namespace

PlaybackOperator* NewPlayback(const std::string& companionPath) {
    const char* variable = platform::Variable(kRecordingVariable);
    const std::string configPath = companionPath.empty() ? "" : passthrough::ConfigPathFor(companionPath);

    std::string text;
    std::string readError = "the companion cannot find its own path";
    const bool haveText = !configPath.empty() && platform::ReadTextFile(configPath, &text, &readError);
    const RecordingChoice choice = ChooseRecording(variable, configPath, haveText ? &text : nullptr, readError);
    if (choice.path.empty()) return FailingOperator(choice.problem);

    LoadedScript loaded = LoadScript(choice.path, kMacosAbi);
    if (!loaded.problem.empty()) return FailingOperator(loaded.problem + " (from " + choice.origin + ")");
    return new PlaybackOperator(std::move(loaded.script), choice.tolerant, Report);
}

}  // namespace playback
}  // namespace tracelet
