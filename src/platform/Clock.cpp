// The flight record's monotonic clock. Every call reads it twice, so it
// must be cheap: on a virtual machine CLOCK_MONOTONIC goes through the
// hypervisor's clock page and costs about 30 ns a reading, the CPU's time
// stamp counter about half of that. Where the counter is invariant (one
// rate on every core, running in every power state) and user mode may read
// it, readings are taken from it and converted to CLOCK_MONOTONIC
// nanoseconds with a rate measured against the system clock; everywhere
// else, and until the rate is known, the system clock is read.
//
// Calibration: the first readings take both clocks. Once kCalibrateNs have
// passed since the first, the rate is the ratio of the two spans and the
// counter takes over from a reference point (a pair of readings). A reading
// more than an interval past its reference (as long as the span measured so
// far, at most kRecheckNs) reads the system clock again,
// returns that, and moves the reference there with a rate measured over the
// whole span since the first reading, so the error of a converted reading
// stays within the drift of one interval (tens of nanoseconds) and a long
// idle time never carries an old rate forward.
//
// The reference is published under a sequence counter: readers never wait;
// a reader that meets a reference being moved reads the system clock.
#include "platform/FlightFile.h"

#include <atomic>

#include <sys/prctl.h>
#include <time.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define TRACELET_HAS_TSC 1
#else
#define TRACELET_HAS_TSC 0
#endif

namespace tracelet {
namespace platform {

namespace {

constexpr int64_t kCalibrateNs = 10 * 1000 * 1000;   // 10 ms of both clocks before the counter is used
constexpr int64_t kRecheckNs = 500 * 1000 * 1000;    // a new reference every half second of use
// The widest bracket of counter readings around one system clock reading
// that may serve as a reference: a reading takes a few hundred ticks, so
// this is a few microseconds at the counters' rates, and a wider bracket
// means the thread was preempted in between.
constexpr uint64_t kPairTicks = 20000;

int64_t SystemMonotonic() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

enum Mode : int { kUnknown = 0, kCalibrating = 1, kCounter = 2, kSystemOnly = 3 };

struct CounterClock {
    std::atomic<int> mode{kUnknown};
    std::atomic<bool> forceSystem{false};
    std::atomic<bool> moving{false};     // one thread moves the reference at a time
    // The first pair of readings: the base of every rate.
    std::atomic<int64_t> firstNs{0};
    std::atomic<uint64_t> firstTicks{0};
    // The reference, under `seq` (odd while being written).
    std::atomic<uint32_t> seq{0};
    std::atomic<int64_t> refNs{0};
    std::atomic<uint64_t> refTicks{0};
    std::atomic<uint64_t> nsPerTick32{0};   // nanoseconds per tick, times 2^32
    std::atomic<uint64_t> recheckTicks{0};  // kRecheckNs in ticks
};

CounterClock s_clock;

#if TRACELET_HAS_TSC
uint64_t Ticks() { return __rdtsc(); }

bool CounterUsable() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_max(0x80000000u, nullptr) < 0x80000007u) return false;
    __cpuid(0x80000007u, a, b, c, d);
    if (!((d >> 8) & 1u)) return false;  // not invariant
    int tsc = 0;
    // A process may have made the counter fault in user mode.
    if (prctl(PR_GET_TSC, &tsc, 0, 0, 0) != 0 || tsc != PR_TSC_ENABLE) return false;
    return true;
}
#else
uint64_t Ticks() { return 0; }
bool CounterUsable() { return false; }
#endif

// Moves the reference to (ns, ticks), the rate measured since the first
// pair. False when the spans are unusable (the counter stood still or ran
// backwards): the clock then stays with the system clock.
bool MoveReference(int64_t ns, uint64_t ticks) {
    const int64_t spanNs = ns - s_clock.firstNs.load(std::memory_order_relaxed);
    const uint64_t first = s_clock.firstTicks.load(std::memory_order_relaxed);
    if (spanNs <= 0 || ticks <= first) return false;
    const uint64_t spanTicks = ticks - first;
    const unsigned __int128 rate = (static_cast<unsigned __int128>(spanNs) << 32) / spanTicks;
    if (rate == 0 || rate >> 63) return false;
    // The next check comes after as long again as the span measured so far
    // (up to kRecheckNs), so the error the rate carries into an interval
    // stays about as small in the first intervals as in the later ones.
    const int64_t nextNs = spanNs < kRecheckNs ? spanNs : kRecheckNs;
    const uint64_t recheck = static_cast<uint64_t>((static_cast<unsigned __int128>(nextNs) << 32) / rate);
    const uint32_t s = s_clock.seq.load(std::memory_order_relaxed);
    s_clock.seq.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    s_clock.refNs.store(ns, std::memory_order_relaxed);
    s_clock.refTicks.store(ticks, std::memory_order_relaxed);
    s_clock.nsPerTick32.store(static_cast<uint64_t>(rate), std::memory_order_relaxed);
    s_clock.recheckTicks.store(recheck ? recheck : 1, std::memory_order_relaxed);
    s_clock.seq.store(s + 2, std::memory_order_release);
    return true;
}

// Both clocks read; the counter's reference set up or moved when due. The
// system clock's reading is bracketed by two counter readings, and only a
// tight bracket may become a reference: a thread preempted between the two
// clocks would otherwise shift every later reading by the time it waited.
int64_t ReadBoth(int mode) {
    const uint64_t before = Ticks();
    const int64_t ns = SystemMonotonic();
    const uint64_t after = Ticks();
    if (after < before || after - before > kPairTicks) return ns;
    const uint64_t ticks = before + (after - before) / 2;
    bool expected = false;
    if (!s_clock.moving.compare_exchange_strong(expected, true, std::memory_order_acquire)) return ns;
    if (mode == kUnknown) {
        if (s_clock.mode.load(std::memory_order_relaxed) == kUnknown) {
            s_clock.firstNs.store(ns, std::memory_order_relaxed);
            s_clock.firstTicks.store(ticks, std::memory_order_relaxed);
            s_clock.mode.store(CounterUsable() ? kCalibrating : kSystemOnly, std::memory_order_release);
        }
    } else if (mode == kCalibrating) {
        if (ns - s_clock.firstNs.load(std::memory_order_relaxed) >= kCalibrateNs) {
            s_clock.mode.store(MoveReference(ns, ticks) ? kCounter : kSystemOnly, std::memory_order_release);
        }
    } else if (!MoveReference(ns, ticks)) {
        s_clock.mode.store(kSystemOnly, std::memory_order_release);
    }
    s_clock.moving.store(false, std::memory_order_release);
    return ns;
}

}  // namespace

int64_t MonotonicNanoseconds() {
    const int mode = s_clock.mode.load(std::memory_order_acquire);
    if (mode == kSystemOnly || s_clock.forceSystem.load(std::memory_order_relaxed)) return SystemMonotonic();
    if (mode != kCounter) return ReadBoth(mode);
    const uint32_t s = s_clock.seq.load(std::memory_order_acquire);
    const int64_t refNs = s_clock.refNs.load(std::memory_order_relaxed);
    const uint64_t refTicks = s_clock.refTicks.load(std::memory_order_relaxed);
    const uint64_t rate = s_clock.nsPerTick32.load(std::memory_order_relaxed);
    const uint64_t recheck = s_clock.recheckTicks.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if ((s & 1u) || s_clock.seq.load(std::memory_order_relaxed) != s) return SystemMonotonic();
    const uint64_t ticks = Ticks();
    // A reading before the reference (another core's reference taken a
    // moment later) or past the recheck interval goes to the system clock.
    if (ticks < refTicks || ticks - refTicks > recheck) return ReadBoth(kCounter);
    return refNs + static_cast<int64_t>((static_cast<unsigned __int128>(ticks - refTicks) * rate) >> 32);
}

bool MonotonicClockUsesCounter() {
    return s_clock.mode.load(std::memory_order_acquire) == kCounter &&
           !s_clock.forceSystem.load(std::memory_order_relaxed);
}

void UseSystemMonotonicClockForTesting(bool system) {
    s_clock.forceSystem.store(system, std::memory_order_relaxed);
}

}  // namespace platform
}  // namespace tracelet
