// The playback companion's TripletOperator: answers each application call
// from the recording (see Matcher for which recorded call answers it), and
// sends the recorded notices through the manager's entry point, from
// inside the call they were sent in or, when the source sent them from a
// thread of its own, from a thread of the companion once the call has
// returned.
//
// A call that matches nothing fails with TWRC_FAILURE; the application's
// next DG_CONTROL/DAT_STATUS/MSG_GET then reads TWCC_SEQERROR, and a line on
// the standard error stream names the call the recording expected.
#ifndef TRACELET_PLAYBACK_PLAYBACKOPERATOR_H
#define TRACELET_PLAYBACK_PLAYBACKOPERATOR_H

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Answers.h"
#include "Matcher.h"
#include "Script.h"
#include "tracelet/TripletOperator.h"

namespace tracelet {
namespace playback {

class PlaybackOperator final : public TripletOperator {
public:
    using Report = std::function<void(const std::string& line)>;

    // Plays `script`; `report` gets each line for the standard error stream.
    PlaybackOperator(Script script, bool tolerant, Report report);
    // Fails every call: there is nothing to play.
    PlaybackOperator();
    ~PlaybackOperator() override;
    PlaybackOperator(const PlaybackOperator&) = delete;
    PlaybackOperator& operator=(const PlaybackOperator&) = delete;

    TW_UINT16 TripletEntry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                           TW_MEMREF pData) override;

    bool Playable() const { return playable_; }

private:
    TW_UINT16 Answer(pTW_IDENTITY origin, const Incoming& call, TW_MEMREF data, std::vector<Notice>* inside);
    TW_UINT16 Transfer(const RecordedCall& recorded, std::size_t index, TW_MEMREF data);
    void SayGenerated();
    void Send(const Notice& notice);
    void EnterCall(int step);
    void Queue(const std::vector<Notice>& notices);
    void SignalLoop();
    void StopSignalling();

    const bool playable_;
    const Script script_;
    Matcher matcher_;
    const Report report_;

    std::mutex lock_;  // everything below
    TW_UINT16 pendingCode_ = TWCC_SUCCESS;  // what the next DAT_STATUS reports after a call failed here
    TW_ENTRYPOINT entry_{};
    TW_IDENTITY source_{};  // as the manager named the source at MSG_OPENDS
    TW_IDENTITY app_{};
    bool haveApp_ = false;
    std::string filePath_;     // where the application asked for a file transfer's file
    PagePlayer page_;          // the page by memory transfer in progress
    std::size_t pageIndex_ = 0;
    bool saidGenerated_ = false;

    // Notices from the companion's own thread.
    std::condition_variable callsDone_;
    std::vector<Notice> signals_;
    int callDepth_ = 0;
    bool stopSignalling_ = false;
    std::thread signaller_;
};

}  // namespace playback
}  // namespace tracelet

#endif  // TRACELET_PLAYBACK_PLAYBACKOPERATOR_H
