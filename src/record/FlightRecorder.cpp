#include "record/FlightRecorder.h"

#include <errno.h>
#include <string.h>

#include "platform/FlightFile.h"
#include "render/Format.h"

#ifndef TRACELET_VERSION_TEXT
#define TRACELET_VERSION_TEXT "unknown"
#endif

namespace tracelet {
namespace record {

namespace fr = flightrecord;
namespace os = platform;

namespace {

// How many loads may share one log file before their records are given up.
constexpr int kMaxLoadsPerLog = 99;
// How many slots ahead of the one it takes a record prefetches.
constexpr uint32_t kPrefetchAhead = 8;
// When the first step cannot be reserved, a page of slots is tried, so that
// the file can still say the disk was full.
constexpr uint64_t kLeastFileSize = fr::kHeaderSize + 4096;

uint32_t SlotsIn(uint64_t fileBytes) {
    return static_cast<uint32_t>((fileBytes - fr::kHeaderSize) / fr::kSlotSize);
}

// Touches each page of a newly mapped range once from here, before any
// record may use it: where a hypervisor shadows the page tables, a page's
// first touch from user space costs microseconds even when the kernel has
// already faulted it in. Nothing else uses these pages yet.
void TouchPages(char* from, char* to) {
    for (char* page = from; page < to; page += 4096) *reinterpret_cast<volatile uint32_t*>(page) = 0;
}

template <size_t N>
void CopyText(char (&to)[N], const char* from) {
    if (!from) return;
    const size_t n = strnlen(from, N - 1);
    memcpy(to, from, n);
    to[n] = '\0';
}

// Each open record is a new epoch, and so is each fork's child: a thread
// caches its kernel id, and writes its name record, once per epoch.
std::atomic<uint64_t> s_epochs{0};
std::atomic<uint64_t> s_forks{0};
std::atomic<bool> s_forkHandlerSet{false};
void CountFork() { s_forks.fetch_add(1, std::memory_order_relaxed); }

__thread uint64_t t_epoch __attribute__((tls_model("initial-exec"))) = 0;
__thread uint64_t t_forks __attribute__((tls_model("initial-exec"))) = 0;
__thread uint32_t t_thread __attribute__((tls_model("initial-exec"))) = 0;

}  // namespace

bool FlightRecorder::Open(const LoadInfo& load) {
    if (IsOpen() || !load.folder || !load.logName) return false;

    // "<stem>.txt" -> "<stem>.calls"; the n-th load sharing the log: "<stem>.<n>.calls".
    size_t stem = strlen(load.logName);
    if (stem >= 4 && strcmp(load.logName + stem - 4, ".txt") == 0) stem -= 4;
    int fd = -1, nth = 1;
    for (; nth <= kMaxLoadsPerLog; ++nth) {
        char suffix[16] = "";
        if (nth > 1) TRACE_FORMAT_TO(suffix, sizeof suffix, ".%d", nth);
        // The folder, "/" and the stem, then the suffix and the extension;
        // a path that does not fit would name another file: no record then.
        const size_t head = TRACE_FORMAT_TO(m_path, sizeof m_path, "%s/%s", load.folder, load.logName);
        if (head != strlen(load.folder) + 1 + strlen(load.logName)) return false;
        const size_t at = head - (strlen(load.logName) - stem);
        const size_t tail = TRACE_FORMAT_TO(m_path + at, sizeof m_path - at, "%s%s", suffix, fr::kExtension);
        if (tail != strlen(suffix) + strlen(fr::kExtension)) return false;
        fd = os::CreateFileExclusive(m_path);
        if (fd != -EEXIST) break;
    }
    if (fd < 0) {
        m_path[0] = '\0';
        return false;
    }

    char* const base = static_cast<char*>(os::ReserveAddressRange(fr::kMaxFileSize));
    uint64_t size = fr::kHeaderSize + fr::kGrowStep;
    int fullError = os::ReserveFileSpace(fd, 0, size);
    if (fullError) size = kLeastFileSize;
    if (!base || (fullError && os::ReserveFileSpace(fd, 0, size)) || os::MapFileInto(base, fd, 0, size)) {
        os::ReleaseAddressRange(base, fr::kMaxFileSize);
        os::CloseFile(fd);
        os::RemoveFile(m_path);
        m_path[0] = '\0';
        return false;
    }

    TouchPages(base, base + size);
    fr::FileHeader& h = *reinterpret_cast<fr::FileHeader*>(base);
    h.version = fr::kVersion;
    h.header_size = fr::kHeaderSize;
    h.slot_size = fr::kSlotSize;
#if defined(TRACELET_TWAIN_ABI_MACOS)
    h.abi = fr::kAbiMacos;
#else
    h.abi = fr::kAbiNative;
#endif
    h.pid = os::CurrentProcessId();
    h.load_in_log = static_cast<uint32_t>(nth);
    os::ProcessStart(&h.process_start_ticks, &h.ticks_per_second);
    h.load_wall_ns = os::WallNanoseconds();
    h.load_mono_ns = os::MonotonicNanoseconds();
    h.utc_offset_seconds = os::UtcOffsetSeconds(h.load_wall_ns / 1000000000);
    h.log_offset = load.logOffset;
    h.max_file_size = fr::kMaxFileSize;
    os::ReadFirstLine("/proc/sys/kernel/random/boot_id", h.boot_id, sizeof h.boot_id);
    os::ReadFirstLine("/proc/self/comm", h.process_name, sizeof h.process_name);
    CopyText(h.version_text, TRACELET_VERSION_TEXT);
    CopyText(h.log_name, load.logName);
    CopyText(h.ds_path, load.dsPath);
    CopyText(h.companion_path, load.companionPath);
    h.capture = fr::kCaptureCalls | (load.captureImages ? fr::kCaptureImages : 0u);
    h.capture_max_structure = fr::kCaptureMaxStructure;
    h.capture_max_block = fr::kCaptureMaxBlock;
    h.capture_hash_sample = fr::kCaptureHashSample;
    CopyText(h.capture_images, fr::kCaptureImagesFolder);
    m_images = load.captureImages;
    // The magic last: a reader that finds it finds the header whole.
    __atomic_thread_fence(__ATOMIC_RELEASE);
    memcpy(h.magic, fr::kMagic, sizeof h.magic);

    if (!s_forkHandlerSet.exchange(true)) os::OnForkChild(CountFork);
    m_fd = fd;
    m_mapped = size;
    m_epoch = s_epochs.fetch_add(1, std::memory_order_relaxed) + 1;
    m_otherRecords.store(0, std::memory_order_relaxed);
    m_stopped.store(false, std::memory_order_relaxed);
    // The last slot mapped is held back for the stop record; a file that
    // could not get its first step stops at once, in its first slot.
    m_usable.store(fullError ? 0 : SlotsIn(size) - 1, std::memory_order_relaxed);
    m_base.store(base, std::memory_order_release);
    if (fullError) {
        m_growLock.lock();
        Stop(fr::kFlagFull, fr::kStopNoSpace, static_cast<uint32_t>(fullError));
        m_growLock.unlock();
    }
    return true;
}

void FlightRecorder::Close(bool keepMapping) {
    fr::FileHeader* h = Header();
    if (!h) return;
    uint32_t index = 0;
    const uint32_t thread = ThisThread();
    // Every slot reserved below the usable ones holds a call or a thread's
    // name (a call still being written counts as recorded).
    const uint32_t reserved = __atomic_load_n(&h->slots_reserved, __ATOMIC_RELAXED);
    const uint32_t usable = m_usable.load(std::memory_order_relaxed);
    const uint32_t calls = (reserved < usable ? reserved : usable) - m_otherRecords.load(std::memory_order_relaxed);
    if (auto* r = static_cast<fr::UnloadRecord*>(Reserve(fr::kKindUnload, &index))) {
        r->kind = fr::kKindUnload;
        r->slots = 1;
        r->thread = thread;
        r->calls = calls;
        r->time_ns = os::MonotonicNanoseconds();
        __atomic_store_n(&r->seal, fr::Seal(index, fr::kKindUnload), __ATOMIC_RELEASE);
    }
    __atomic_fetch_or(&h->flags, fr::kFlagClosed, __ATOMIC_RELEASE);

    // The mapping stays unless told otherwise: a call still running on
    // another thread (a host that exits while a thread is inside a call)
    // writes its end into it when it returns.
    char* const base = m_base.exchange(nullptr, std::memory_order_acq_rel);
    if (!keepMapping) os::ReleaseAddressRange(base, fr::kMaxFileSize);
    os::CloseFile(m_fd);
    m_fd = -1;
}

uint32_t FlightRecorder::ThisThread() {
    const uint64_t forks = s_forks.load(std::memory_order_relaxed);
    if (t_epoch == m_epoch && t_forks == forks) return t_thread;
    t_thread = os::CurrentThreadId();
    t_epoch = m_epoch;
    t_forks = forks;
    uint32_t index = 0;
    if (auto* r = static_cast<fr::ThreadNameRecord*>(Reserve(fr::kKindThreadName, &index))) {
        m_otherRecords.fetch_add(1, std::memory_order_relaxed);
        r->kind = fr::kKindThreadName;
        r->slots = 1;
        r->thread = t_thread;
        r->time_ns = os::MonotonicNanoseconds();
        os::ReadFirstLine("/proc/thread-self/comm", r->name, sizeof r->name);
        __atomic_store_n(&r->seal, fr::Seal(index, fr::kKindThreadName), __ATOMIC_RELEASE);
    }
    return t_thread;
}

void* FlightRecorder::ReserveRecord(uint16_t kind, uint32_t slots, uint32_t* index) {
    if (slots == 0 || !IsOpen()) return nullptr;
    void* const r = Reserve(kind, index, slots);
    // Its slots are neither calls nor thread names: the unload's count of
    // calls leaves them out.
    if (r) m_otherRecords.fetch_add(slots, std::memory_order_relaxed);
    return r;
}

bool FlightRecorder::ImagePath(uint32_t callId, char* out, size_t size, size_t* nameAt) const {
    // The record's folder and stem: m_path less its ".calls".
    const char* slash = strrchr(m_path, '/');
    const size_t length = strlen(m_path), extension = sizeof fr::kExtension - 1;
    if (!slash || length < extension) return false;
    const size_t folder = static_cast<size_t>(slash - m_path) + 1;  // with its '/'
    const size_t images = sizeof fr::kCaptureImagesFolder - 1;
    const size_t stem = length - extension - folder;
    if (length - extension <= folder || folder + images + 1 + stem >= size) return false;
    memcpy(out, m_path, folder);
    memcpy(out + folder, fr::kCaptureImagesFolder, images);
    out[folder + images] = '/';
    memcpy(out + folder + images + 1, slash + 1, stem);
    const size_t at = folder + images + 1 + stem;
    const size_t tail = TRACE_FORMAT_TO(out + at, size - at, ".%lu%s", static_cast<unsigned long>(callId),
                                        fr::kImageExtension);
    if (at + tail + 1 >= size) return false;  // cut: another file's name
    *nameAt = folder + images + 1;
    return true;
}

void* FlightRecorder::Reserve(uint16_t kind, uint32_t* index, uint32_t slots) {
    (void)kind;
    char* const base = m_base.load(std::memory_order_acquire);
    if (!base || m_stopped.load(std::memory_order_relaxed)) return nullptr;
    fr::FileHeader* h = reinterpret_cast<fr::FileHeader*>(base);
    const uint32_t i = __atomic_fetch_add(&h->slots_reserved, slots, __ATOMIC_RELAXED);
    const uint32_t last = i + (slots - 1);
    if (last < i) return nullptr;
    if (last >= m_usable.load(std::memory_order_acquire) && !MapThrough(last)) return nullptr;
    *index = i;
    char* const slot = base + fr::kHeaderSize + static_cast<uint64_t>(i) * fr::kSlotSize;
    // The slots ahead are new lines that no cache holds: ask for one a few
    // records on, for writing, so that a later record does not wait for it.
    if (i + kPrefetchAhead < m_usable.load(std::memory_order_relaxed))
        __builtin_prefetch(slot + kPrefetchAhead * fr::kSlotSize, 1, 3);
    return slot;
}

bool FlightRecorder::MapThrough(uint32_t index) {
    char* const base = m_base.load(std::memory_order_acquire);
    m_growLock.lock();
    while (index >= m_usable.load(std::memory_order_relaxed)) {
        if (m_stopped.load(std::memory_order_relaxed)) break;
        if (m_mapped >= fr::kMaxFileSize) {
            Stop(fr::kFlagFull, fr::kStopMaxSize, 0);
            break;
        }
        const uint64_t step = m_mapped + fr::kGrowStep <= fr::kMaxFileSize ? fr::kGrowStep : fr::kMaxFileSize - m_mapped;
        if (const int err = os::ReserveFileSpace(m_fd, m_mapped, step)) {
            Stop(fr::kFlagFull, fr::kStopNoSpace, static_cast<uint32_t>(err));
            break;
        }
        if (const int err = os::MapFileInto(base, m_fd, m_mapped, step)) {
            Stop(fr::kFlagMapFailed, fr::kStopMapFailed, static_cast<uint32_t>(err));
            break;
        }
        TouchPages(base + m_mapped, base + m_mapped + step);
        m_mapped += step;
        m_usable.store(SlotsIn(m_mapped) - 1, std::memory_order_release);
    }
    const bool mapped = index < m_usable.load(std::memory_order_relaxed);
    m_growLock.unlock();
    return mapped;
}

void FlightRecorder::Stop(uint32_t flag, uint32_t reason, uint32_t error) {
    char* const base = m_base.load(std::memory_order_relaxed);
    fr::FileHeader* h = reinterpret_cast<fr::FileHeader*>(base);
    m_stopped.store(true, std::memory_order_relaxed);
    // The held-back slot: no call was given it, since it was never usable.
    const uint32_t index = m_usable.load(std::memory_order_relaxed);
    uint32_t reserved = __atomic_load_n(&h->slots_reserved, __ATOMIC_RELAXED);
    while (reserved <= index &&
           !__atomic_compare_exchange_n(&h->slots_reserved, &reserved, index + 1, true, __ATOMIC_RELAXED,
                                        __ATOMIC_RELAXED)) {
    }
    auto* r = reinterpret_cast<fr::StopRecord*>(base + fr::kHeaderSize + static_cast<uint64_t>(index) * fr::kSlotSize);
    r->kind = fr::kKindStop;
    r->slots = 1;
    r->reason = reason;
    r->error = error;
    r->time_ns = os::MonotonicNanoseconds();
    __atomic_store_n(&r->seal, fr::Seal(index, fr::kKindStop), __ATOMIC_RELEASE);
    __atomic_fetch_or(&h->flags, flag, __ATOMIC_RELEASE);
}

fr::CallRecord* FlightRecorder::StartCall(const CallStart& call) {
    if (!IsOpen()) return nullptr;
    const uint32_t thread = ThisThread();
    uint32_t index = 0;
    auto* r = static_cast<fr::CallRecord*>(Reserve(fr::kKindCall, &index));
    if (!r) return nullptr;
    r->kind = fr::kKindCall;
    r->slots = 1;
    r->call_id = index + 1;
    r->thread = thread;
    r->dg = call.dg;
    r->dat = call.dat;
    r->msg = call.msg;
    r->cap = call.hasCap ? call.cap : 0;
    r->tag = call.tag;
    r->flags = call.hasCap ? fr::kCallHasCap : 0;
    r->state_before = call.stateBefore;
    r->during_id = call.duringId;
    r->concurrent_id = call.concurrentId;
    r->start_ns = call.startNs ? call.startNs : os::MonotonicNanoseconds();
    __atomic_store_n(&r->start_seal, fr::Seal(index, fr::kKindCall), __ATOMIC_RELEASE);
    return r;
}

void FlightRecorder::EndCall(fr::CallRecord* r, int64_t endNs, uint16_t rc, uint8_t stateAfter, bool traced,
                             uint32_t seq) {
    if (!r) return;
    r->end_ns = endNs;
    r->rc = rc;
    r->state_after = stateAfter;
    if (traced) {
        r->flags = static_cast<uint8_t>(r->flags | fr::kCallTraced);
        r->seq = seq;
    }
    __atomic_store_n(&r->end_seal, fr::EndSeal(r->call_id - 1), __ATOMIC_RELEASE);
}

}  // namespace record
}  // namespace tracelet
