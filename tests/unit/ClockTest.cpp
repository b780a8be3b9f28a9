// The flight record's clock: CLOCK_MONOTONIC, read through the CPU's
// counter once its rate is measured.
#include <gtest/gtest.h>

#include <time.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/FlightFile.h"

namespace {

using tracelet::platform::MonotonicClockUsesCounter;
using tracelet::platform::MonotonicNanoseconds;

int64_t System() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Reads until the counter has taken over, for at most half a second.
bool WaitForCounter() {
    const int64_t until = System() + 500000000;
    while (!MonotonicClockUsesCounter() && System() < until) MonotonicNanoseconds();
    return MonotonicClockUsesCounter();
}

TEST(MonotonicClock, CounterReadingsStayOnTheSystemClock) {
    if (!WaitForCounter()) GTEST_SKIP() << "no invariant counter readable here";
    // Several of the clock's reference moves fall in these 300 ms: each
    // converted reading lies between two system readings taken around it,
    // give or take the rate's error, and never runs far behind the one
    // before it on this thread.
    constexpr int64_t kSlackNs = 20000;
    const int64_t end = System() + 300000000;
    int64_t previous = 0;
    long readings = 0;
    while (System() < end) {
        const int64_t before = System();
        const int64_t now = MonotonicNanoseconds();
        const int64_t after = System();
        ASSERT_GE(now, before - kSlackNs);
        ASSERT_LE(now, after + kSlackNs);
        ASSERT_GE(now, previous - kSlackNs);
        previous = now;
        ++readings;
    }
    EXPECT_GT(readings, 1000);
    EXPECT_TRUE(MonotonicClockUsesCounter());
}

TEST(MonotonicClock, ThreadsReadWhileTheReferenceMoves) {
    if (!WaitForCounter()) GTEST_SKIP() << "no invariant counter readable here";
    std::atomic<bool> stop{false};
    std::atomic<int> behind{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            int64_t previous = 0;
            while (!stop.load(std::memory_order_relaxed)) {
                const int64_t now = MonotonicNanoseconds();
                if (now < previous - 20000) behind.fetch_add(1);
                previous = now;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(behind.load(), 0);
}

TEST(MonotonicClock, SystemClockOnlyWhenAsked) {
    tracelet::platform::UseSystemMonotonicClockForTesting(true);
    EXPECT_FALSE(MonotonicClockUsesCounter());
    const int64_t before = System();
    const int64_t now = MonotonicNanoseconds();
    EXPECT_GE(now, before);
    EXPECT_LE(now, System());
    tracelet::platform::UseSystemMonotonicClockForTesting(false);
}

}  // namespace
