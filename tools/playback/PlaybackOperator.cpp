#include "PlaybackOperator.h"

#include <cstring>
#include <fstream>
#include <utility>

namespace tracelet {
namespace playback {

namespace {

bool Is(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT32 wantDg, TW_UINT16 wantDat, TW_UINT16 wantMsg) {
    return (dg & 0xffff) == wantDg && dat == wantDat && msg == wantMsg;
}

}  // namespace

PlaybackOperator::PlaybackOperator(Script script, bool tolerant, Report report)
    : playable_(true), script_(std::move(script)), matcher_(script_, tolerant), report_(std::move(report)) {}

PlaybackOperator::PlaybackOperator() : playable_(false), matcher_(script_, false) {}

PlaybackOperator::~PlaybackOperator() { StopSignalling(); }

TW_UINT16 PlaybackOperator::TripletEntry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                         TW_MEMREF pData) {
    if (!playable_) return TWRC_FAILURE;
    Incoming call{DG, DAT, MSG, -1};
    if ((DG & 0xffff) == DG_CONTROL && DAT == DAT_CAPABILITY && pData)
        call.cap = static_cast<const TW_CAPABILITY*>(pData)->Cap;

    EnterCall(+1);
    std::vector<Notice> inside;
    TW_UINT16 rc = TWRC_FAILURE;
    try {
        rc = Answer(pOrigin, call, pData, &inside);
        for (const Notice& n : inside) Send(n);
    } catch (...) {
        // Out of memory for a report line or a notice list: the call fails.
        rc = TWRC_FAILURE;
    }
    EnterCall(-1);
    return rc;
}

TW_UINT16 PlaybackOperator::Answer(pTW_IDENTITY origin, const Incoming& call, TW_MEMREF data,
                                   std::vector<Notice>* inside) {
    std::lock_guard<std::mutex> guard(lock_);
    if (pendingCode_ != TWCC_SUCCESS && Is(call.dg, call.dat, call.msg, DG_CONTROL, DAT_STATUS, MSG_GET)) {
        if (!data) return TWRC_FAILURE;
        auto* status = static_cast<TW_STATUS*>(data);
        status->ConditionCode = pendingCode_;
        status->Data = 0;
        pendingCode_ = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }

    // A page by memory transfer that the application leaves before its end.
    if (page_.Active() && !Is(call.dg, call.dat, call.msg, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET)) {
        page_.Stop();
        matcher_.SetPosition(pageIndex_ + 1);
    }
    const Match m = matcher_.Next(call);
    if (m.kind == Match::kNoEvent) {
        if (data) static_cast<TW_EVENT*>(data)->TWMessage = MSG_NULL;
        return TWRC_NOTDSEVENT;
    }
    if (m.kind == Match::kNoMatch) {
        pendingCode_ = TWCC_SEQERROR;
        const std::string expected =
            m.index < script_.calls.size()
                ? "call " + std::to_string(m.index + 1) + " of " + std::to_string(script_.calls.size()) + ", " +
                      CallText(script_.calls[m.index].dg, script_.calls[m.index].dat, script_.calls[m.index].msg,
                               script_.calls[m.index].cap)
                : "no further call: the recording ends after " + std::to_string(script_.calls.size()) + " calls";
        report_(CallText(call.dg, call.dat, call.msg, call.cap) + " does not match the recording, which expects " +
                expected + "; it fails with TWCC_SEQERROR");
        return TWRC_FAILURE;
    }

    const RecordedCall& recorded = script_.calls[m.index];
    pendingCode_ = TWCC_SUCCESS;
    TW_UINT16 rc = recorded.rc;
    if (call.dat == DAT_IMAGEMEMXFER || call.dat == DAT_IMAGENATIVEXFER || call.dat == DAT_IMAGEFILEXFER) {
        rc = Transfer(recorded, m.index, data);
        // The rest of the page comes in the calls that follow.
        if (page_.Active()) return rc;
    } else if (data) {
        WriteStructure(recorded, data);
    }
    if (recorded.rc == TWRC_SUCCESS && data) {
        if (Is(call.dg, call.dat, call.msg, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET)) {
            const auto* ep = static_cast<const TW_ENTRYPOINT*>(data);
            if (ep->Size >= sizeof(TW_ENTRYPOINT)) entry_ = *ep;
        } else if (Is(call.dg, call.dat, call.msg, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS)) {
            source_ = *static_cast<const TW_IDENTITY*>(data);
            haveApp_ = origin != nullptr;
            if (origin) app_ = *origin;
        } else if (Is(call.dg, call.dat, call.msg, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET)) {
            const auto* setup = static_cast<const TW_SETUPFILEXFER*>(data);
            filePath_.assign(setup->FileName, strnlen(setup->FileName, sizeof setup->FileName));
        }
    }
    *inside = recorded.inside;
    if (!recorded.after.empty()) Queue(recorded.after);
    return rc;
}

// Called with lock_ held.
TW_UINT16 PlaybackOperator::Transfer(const RecordedCall& recorded, std::size_t index, TW_MEMREF data) {
    if (recorded.dat == DAT_IMAGEMEMXFER) {
        const TW_UINT16 first = recorded.strips.empty() ? TW_UINT16(TWRC_FAILURE) : recorded.strips[0].rc;
        if (first != TWRC_SUCCESS && first != TWRC_XFERDONE)
            return recorded.rc;
        if (!data) {
            pendingCode_ = TWCC_BADVALUE;
            return TWRC_FAILURE;
        }
        if (!page_.Active() || pageIndex_ != index) {
            bool generated = false;
            page_.Start(recorded, &generated);
            pageIndex_ = index;
            if (generated) SayGenerated();
        }
        TW_UINT16 code = TWCC_SUCCESS;
        const TW_UINT16 rc = page_.Next(static_cast<TW_IMAGEMEMXFER*>(data), &code);
        if (rc == TWRC_FAILURE) pendingCode_ = code;
        if (page_.Active()) matcher_.SetPosition(index);
        return rc;
    }
    if (recorded.rc != TWRC_XFERDONE || !recorded.image.present) return recorded.rc;
    std::string bytes;
    if (!ReadImage(recorded.image, &bytes)) {
        SayGenerated();
        bytes = recorded.dat == DAT_IMAGENATIVEXFER ? GeneratedNative(recorded.imageInfo) : std::string();
        if (bytes.empty()) bytes = GeneratedRows(static_cast<uint32_t>(recorded.image.length), 1);
    }
    if (recorded.dat == DAT_IMAGENATIVEXFER) {
        if (!data) {
            pendingCode_ = TWCC_BADVALUE;
            return TWRC_FAILURE;
        }
        TW_HANDLE h = HandleWith(bytes);
        if (!h) {
            pendingCode_ = TWCC_LOWMEMORY;
            return TWRC_FAILURE;
        }
        *static_cast<TW_HANDLE*>(data) = h;
        return recorded.rc;
    }
    std::ofstream file(filePath_, std::ios::binary | std::ios::trunc);
    if (filePath_.empty() || !file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        report_("cannot write the transferred file \"" + filePath_ + "\"; the transfer fails with TWCC_OPERATIONERROR");
        pendingCode_ = TWCC_OPERATIONERROR;
        return TWRC_FAILURE;
    }
    return recorded.rc;
}

void PlaybackOperator::SayGenerated() {
    if (saidGenerated_) return;
    saidGenerated_ = true;
    report_("the recording holds no image bytes for this transfer (the session ran without an images folder in "
            "the log folder): pages of the recorded geometry are generated");
}

// The identities and the entry point are copied under the lock; the call
// itself is made without it, since the application may call back in.
void PlaybackOperator::Send(const Notice& notice) {
    DSMENTRYPROC entry;
    TW_IDENTITY source, app;
    bool haveApp;
    {
        std::lock_guard<std::mutex> guard(lock_);
        entry = entry_.DSM_Entry;
        source = source_;
        app = app_;
        haveApp = haveApp_;
    }
    if (!entry) return;
    entry(&source, haveApp ? &app : nullptr, notice.dg, notice.dat, notice.msg, nullptr);
}

// --- Notices from the companion's own thread ---------------------------------

void PlaybackOperator::EnterCall(int step) {
    std::lock_guard<std::mutex> guard(lock_);
    callDepth_ += step;
    if (callDepth_ == 0) callsDone_.notify_all();
}

// Called with lock_ held.
void PlaybackOperator::Queue(const std::vector<Notice>& notices) {
    signals_.insert(signals_.end(), notices.begin(), notices.end());
    callsDone_.notify_all();
    if (!signaller_.joinable()) signaller_ = std::thread([this] { SignalLoop(); });
}

void PlaybackOperator::SignalLoop() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        callsDone_.wait(guard, [this] { return stopSignalling_ || (!signals_.empty() && callDepth_ == 0); });
        if (stopSignalling_) return;
        const Notice notice = signals_.front();
        signals_.erase(signals_.begin());
        guard.unlock();
        Send(notice);
        guard.lock();
    }
}

void PlaybackOperator::StopSignalling() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopSignalling_ = true;
        callsDone_.notify_all();
    }
    if (!signaller_.joinable()) return;
    // Deleted from a notice's callback on the companion's own thread: that
    // thread ends by itself once the callback returns.
    if (signaller_.get_id() == std::this_thread::get_id())
        signaller_.detach();
    else
        signaller_.join();
}

}  // namespace playback
}  // namespace tracelet
