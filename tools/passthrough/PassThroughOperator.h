// The pass-through companion's TripletOperator: every triplet goes to the
// target data source's DS_Entry as it came, and the target's return code
// comes back as it went. Nothing is read, copied or kept between calls, so
// calls the target makes back into its host while it is being called (and
// the calls those cause) go through the same path.
#ifndef TRACELET_PASSTHROUGH_PASSTHROUGHOPERATOR_H
#define TRACELET_PASSTHROUGH_PASSTHROUGHOPERATOR_H

#include <string>

#include "tracelet/TripletOperator.h"

namespace tracelet {
namespace passthrough {

class PassThroughOperator final : public TripletOperator {
public:
    using CloseProc = void (*)(void* library);

    // Forwards to `entry`; a null entry fails every call. `close` is called
    // with `library` when the operator is deleted.
    PassThroughOperator(DSENTRYPROC entry, void* library, CloseProc close);
    ~PassThroughOperator() override;
    PassThroughOperator(const PassThroughOperator&) = delete;
    PassThroughOperator& operator=(const PassThroughOperator&) = delete;

    TW_UINT16 TripletEntry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                           TW_MEMREF pData) override;

    bool HasTarget() const { return entry_ != nullptr; }

private:
    DSENTRYPROC const entry_;
    void* const library_;
    CloseProc const close_;
};

// One load of the companion: chooses the target for the companion at
// `companionPath` (empty when unknown), opens it and returns the operator.
// When there is no usable target, the operator fails every call and one
// line naming the path and the reason has gone to the standard error
// stream. `hostAddress` lies inside the data source that loads the
// companion (see platform::OpenDataSource).
PassThroughOperator* NewPassThrough(const std::string& companionPath, const void* hostAddress);

// How that line describes a target that could not be used.
std::string TargetProblem(const std::string& path, const std::string& origin, const std::string& reason);

}  // namespace passthrough
}  // namespace tracelet

#endif  // TRACELET_PASSTHROUGH_PASSTHROUGHOPERATOR_H
