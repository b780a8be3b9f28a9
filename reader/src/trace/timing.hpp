// What the flight records add to the reports: the time sections of
// "summary" and the time findings of "check". Logs without records give
// nothing here, and the reports print as they would without it.
#pragma once

#include <cstdint>
#include <ostream>
#include <unordered_set>
#include <vector>

#include "trace/check.hpp"
#include "trace/json.hpp"
#include "trace/record.hpp"
#include "trace/summary.hpp"

namespace tracelet::trace {

// Passes every call on to another sink after noting it in the session's
// times, so that the records learn the load numbers the log's ids carry.
class NoteLoads : public Sink {
public:
    NoteLoads(Sink& next, SessionTimes& times) : next_(next), times_(times) {}
    void file(int index, const std::string& name) override { next_.file(index, name); }
    void call(Call&& c) override {
        times_.note_call(c);
        next_.call(std::move(c));
    }
    void message(Message&& m) override { next_.message(std::move(m)); }
    void problem(Problem&& p) override { next_.problem(std::move(p)); }

private:
    Sink& next_;
    SessionTimes& times_;
};

// The time sections: duration, time per state, per triplet, the slowest
// calls, pauses, throughput, calls in flight. `now_ns` is this machine's
// monotonic clock, for calls of a host that still runs.
void print_times(const SessionTimes& times, const std::vector<Summary::Page>& pages, std::ostream& out,
                 int64_t now_ns);

// The end of a load as far as the record shows it: the unload, now for a
// host that still runs, else the last record any thread wrote.
int64_t load_end_ns(const FlightRecord& r, int64_t now_ns);

// How long a call that never returned has been in flight, and the words
// that say which measure it is.
struct InFlight {
    int64_t ns = 0;
    std::string text;  // "for 3.200 s until now (the host still runs)", ...
};
InFlight in_flight(const FlightRecord& r, const TimedCall& c, int64_t now_ns);

// The findings only a record can give, listed by "check --rules" after the others.
const std::vector<Rule>& time_rules();

// Feed the log's calls in order, then finish(). Slow calls with blocks in the
// log are reported as they are read; calls that never returned, slow calls
// without blocks and loads never closed, at the end.
class TimeChecker {
public:
    TimeChecker(const SessionTimes& times, Checker::Report report, int64_t slow_ns, int64_t now_ns);
    void feed(const Call& c);
    void finish();

private:
    bool exempt(const TimedCall& t, const Call* c) const;
    void slow(const FlightRecord& r, const TimedCall& t, const Call* c);
    const SessionTimes& times_;
    Checker::Report report_;
    int64_t slow_ns_, now_ns_;
    std::unordered_set<const TimedCall*> seen_slow_;
};

// "2026-12-08T00:33:21.001234+01:00": an instant of a record in its load's local time.
std::string iso_time(const FlightRecord& r, int64_t mono_ns);

// The text log with each triplet line's start time and duration beside it
// (LF line ends). Lines of calls the records do not hold get an empty column.
void show_log(const std::vector<std::string>& log_files, const SessionTimes& times, std::ostream& out);

}  // namespace tracelet::trace
