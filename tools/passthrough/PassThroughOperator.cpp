#include "PassThroughOperator.h"

#include <new>

#include "PassThroughPlatform.h"
#include "TargetConfig.h"

namespace tracelet {
namespace passthrough {

namespace {

const char kReportPrefix[] = "Tracelet pass-through companion: ";

// Made before the line is written, so that running out of memory here
// still leaves one line.
PassThroughOperator* FailingOperator(const std::string& problem) {
    PassThroughOperator* op = new PassThroughOperator(nullptr, nullptr, nullptr);
    platform::ReportLine(kReportPrefix + problem + "; every call fails with TWRC_FAILURE");
    return op;
}

}  // namespace

PassThroughOperator::PassThroughOperator(DSENTRYPROC entry, void* library, CloseProc close)
    : entry_(entry), library_(library), close_(close) {}

PassThroughOperator::~PassThroughOperator() {
    if (library_ && close_) close_(library_);
}

TW_UINT16 PassThroughOperator::TripletEntry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                            TW_MEMREF pData) {
    if (!entry_) return TWRC_FAILURE;
    return entry_(pOrigin, DG, DAT, MSG, pData);
}

std::string TargetProblem(const std::string& path, const std::string& origin, const std::string& reason) {
    return "target data source \"" + path + "\" (from " + origin + ") " + reason;
}

PassThroughOperator* NewPassThrough(const std::string& companionPath, const void* hostAddress) {
    const char* variable = platform::Variable(kTargetVariable);
    const bool overridden = variable && *variable;
    const std::string configPath = companionPath.empty() ? "" : ConfigPathFor(companionPath);

    std::string text;
    std::string readError;
    bool haveText = false;
    if (!overridden) {
        if (configPath.empty())
            return FailingOperator(std::string("no target data source: the companion cannot find its own path, so "
                                               "not its configuration file, and ") +
                                   kTargetVariable + " is not set");
        haveText = platform::ReadTextFile(configPath, &text, &readError);
    }
    const TargetChoice choice = ChooseTarget(variable, configPath, haveText ? &text : nullptr, readError);
    if (choice.path.empty()) return FailingOperator(choice.problem);

    const platform::OpenedSource source = platform::OpenDataSource(choice.path, hostAddress);
    if (!source.entry) return FailingOperator(TargetProblem(choice.path, choice.origin, source.problem));
    PassThroughOperator* op = new (std::nothrow) PassThroughOperator(source.entry, source.library,
                                                                     platform::CloseDataSource);
    if (!op) {
        platform::CloseDataSource(source.library);
        throw std::bad_alloc();
    }
    return op;
}

}  // namespace passthrough
}  // namespace tracelet
