#include "trace/chrome_trace.hpp"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>

#include "trace/timing.hpp"

namespace tracelet::trace {

namespace {

using Json = nlohmann::ordered_json;

class EventWriter {
public:
    explicit EventWriter(std::ostream& out) : out_(out) { out_ << "{\"displayTimeUnit\":\"ms\",\"traceEvents\":[\n"; }
    void event(const Json& e) {
        out_ << (first_ ? "" : ",\n");
        out_ << e.dump(-1, ' ', false, Json::error_handler_t::replace);
        first_ = false;
    }
    void end() { out_ << "\n]}\n"; }

private:
    std::ostream& out_;
    bool first_ = true;
};

// Microseconds, to the nanosecond.
Json micros(int64_t ns) { return Json(static_cast<double>(ns) / 1000.0); }

}  // namespace

void write_chrome_trace(const SessionTimes& times, std::ostream& out, int64_t now_ns) {
    EventWriter w(out);
    int64_t base = 0;
    bool have_base = false;
    for (const FlightRecord& r : times.records())
        if (r.header_ok && (!have_base || r.load_wall_ns < base)) base = r.load_wall_ns, have_base = true;
    uint64_t flow_id = 0;
    std::set<uint32_t> named_processes;
    for (const FlightRecord& r : times.records()) {
        if (!r.header_ok) continue;
        const uint32_t pid = r.pid;
        auto ts = [&](int64_t mono) { return micros(r.wall_ns(mono) - base); };
        if (named_processes.insert(pid).second) {
            w.event({{"ph", "M"}, {"name", "process_name"}, {"pid", pid}, {"tid", 0},
                     {"args", {{"name", r.process_name.empty() ? "host" : r.process_name}}}});
        }
        std::set<uint32_t> threads;
        for (const TimedCall& c : r.calls) threads.insert(c.thread);
        for (uint32_t t : threads) {
            auto it = r.thread_names.find(t);
            std::string name = it != r.thread_names.end() && !it->second.empty() ? it->second
                                                                                 : "thread " + std::to_string(t);
            w.event({{"ph", "M"}, {"name", "thread_name"}, {"pid", pid}, {"tid", t}, {"args", {{"name", name}}}});
        }
        const int64_t end_of_load = load_end_ns(r, now_ns);

        // Spans, parents before the children that start with them.
        std::vector<const TimedCall*> order;
        order.reserve(r.calls.size());
        for (const TimedCall& c : r.calls) order.push_back(&c);
        auto end_of = [&](const TimedCall* c) { return c->ended() ? c->end_ns : std::max(end_of_load, c->start_ns); };
        std::stable_sort(order.begin(), order.end(), [&](const TimedCall* a, const TimedCall* b) {
            if (a->start_ns != b->start_ns) return a->start_ns < b->start_ns;
            return end_of(a) > end_of(b);
        });
        for (const TimedCall* c : order) {
            const int64_t end = end_of(c);
            Json args = {{"call", times.call_label(r, *c)},
                         {"rc", rc_text(c->rc)},
                         {"state_before", c->state_before}};
            if (c->ended())
                args["state_after"] = c->state_after;
            else
                args["never_returned"] = in_flight(r, *c, now_ns).text;
            std::string name = (c->from_source ? "[DS] " : "") + triplet_text(*c);
            w.event({{"ph", "X"}, {"name", name}, {"cat", c->from_source ? "notice" : "call"}, {"pid", pid},
                     {"tid", c->thread}, {"ts", ts(c->start_ns)}, {"dur", micros(end - c->start_ns)},
                     {"args", std::move(args)}});
            // A notice from a thread no application call runs on: a flow from
            // the application call in flight to it.
            if (c->from_source && c->during_id == 0 && c->concurrent_id != 0) {
                if (const TimedCall* app = r.call_by_id(c->concurrent_id)) {
                    int64_t at = std::clamp(c->start_ns, app->start_ns, end_of(app));
                    ++flow_id;
                    w.event({{"ph", "s"}, {"name", "notice"}, {"cat", "notice"}, {"id", flow_id}, {"pid", pid},
                             {"tid", app->thread}, {"ts", ts(at)}});
                    w.event({{"ph", "f"}, {"bp", "e"}, {"name", "notice"}, {"cat", "notice"}, {"id", flow_id},
                             {"pid", pid}, {"tid", c->thread}, {"ts", ts(c->start_ns)}});
                }
            }
            if (c->rc == 1)
                w.event({{"ph", "i"}, {"s", "t"}, {"name", "TWRC_FAILURE " + triplet_text(*c)}, {"cat", "failure"},
                         {"pid", pid}, {"tid", c->thread}, {"ts", ts(end)}});
        }
        // The state: where the load began, then each change a call's end made.
        std::vector<std::pair<int64_t, int>> changes;
        for (const TimedCall& c : r.calls)
            if (c.ended()) changes.emplace_back(c.end_ns, c.state_after);
        std::stable_sort(changes.begin(), changes.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
        if (!order.empty()) changes.insert(changes.begin(), {std::min(r.load_mono_ns, order.front()->start_ns),
                                                             order.front()->state_before});
        int state = -1;
        for (const auto& [at, s] : changes) {
            if (s == state) continue;
            state = s;
            w.event({{"ph", "C"}, {"name", "TWAIN state"}, {"pid", pid}, {"ts", ts(at)}, {"args", {{"state", s}}}});
        }
    }
    w.end();
}

}  // namespace tracelet::trace
