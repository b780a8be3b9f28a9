#include "trace/timing.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <map>

#include "trace/names.hpp"
#include "trace/text.hpp"

namespace tracelet::trace {

namespace {

constexpr int64_t kSecond = 1000000000;
constexpr uint16_t kDatUserInterface = 0x0009;
constexpr uint16_t kMsgEnableDs = 0x0502;
constexpr uint16_t kMsgEnableDsUiOnly = 0x0503;

// The triplet a call is counted under: no capability, "[DS] " for the
// source's own calls.
std::string triplet_key(const TimedCall& c) {
    TimedCall plain = c;
    plain.cap = -1;
    return (c.from_source ? "[DS] " : "") + triplet_text(plain);
}

std::string label(const TimedCall& c) {
    return (c.from_source ? "[DS] " : "") + triplet_text(c);
}

int64_t percentile(const std::vector<int64_t>& sorted, int pct) {
    // Nearest rank.
    std::size_t rank = (sorted.size() * static_cast<std::size_t>(pct) + 99) / 100;
    return sorted[rank == 0 ? 0 : rank - 1];
}

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

}  // namespace

int64_t load_end_ns(const FlightRecord& r, int64_t now_ns) {
    if (r.closed && r.unload_ns >= 0) return r.unload_ns;
    if (!r.closed && r.host == HostState::running) return std::max(now_ns, r.last_ns);
    return std::max(r.last_ns, r.load_mono_ns);
}

InFlight in_flight(const FlightRecord& r, const TimedCall& c, int64_t now_ns) {
    InFlight f;
    if (!r.closed && r.host == HostState::running) {
        f.ns = std::max<int64_t>(0, now_ns - c.start_ns);
        f.text = "for " + duration_text(f.ns) + " until now (the host still runs)";
    } else {
        f.ns = std::max<int64_t>(0, r.last_ns - c.start_ns);
        f.text = "for at least " + duration_text(f.ns) + " (the host is gone: until the last record any thread wrote)";
    }
    return f;
}

void print_times(const SessionTimes& times, const std::vector<Summary::Page>& pages, std::ostream& out,
                 int64_t now_ns) {
    const auto& records = times.records();
    out << "\nTimes (from the flight record" << (records.size() == 1 ? "" : "s") << "):\n";
    int64_t first_wall = 0, last_wall = 0;
    bool any = false;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const FlightRecord& r = records[i];
        out << "  record " << i + 1 << ": " << (r.path.empty() ? r.log_name : r.path.substr(r.path.rfind('/') + 1));
        if (!r.header_ok) {
            out << ": unreadable\n";
            continue;
        }
        int64_t end = load_end_ns(r, now_ns);
        out << ", " << r.process_name << " (pid " << r.pid << "), " << r.clock_text(r.load_mono_ns) << " to "
            << r.clock_text(end) << ", " << duration_text(end - r.load_mono_ns) << ", " << r.calls.size() << " calls, ";
        if (r.closed)
            out << "unloaded";
        else if (r.host == HostState::running)
            out << "still loaded (the host still runs)";
        else
            out << "never unloaded (the host stopped without unloading)";
        out << '\n';
        if (!r.stop_text().empty()) out << "    " << r.stop_text() << '\n';
        int64_t w0 = r.wall_ns(r.load_mono_ns), w1 = r.wall_ns(end);
        if (!any || w0 < first_wall) first_wall = w0;
        if (!any || w1 > last_wall) last_wall = w1;
        any = true;
    }
    const int64_t duration = any ? last_wall - first_wall : 0;
    out << "  Duration: " << duration_text(duration) << '\n';

    // Time per state: the state changes at each call's start (its state
    // before) and end (its state after), across all threads.
    std::map<int, int64_t> per_state;
    std::map<std::string, std::vector<int64_t>> per_triplet;
    struct Ref {
        const FlightRecord* r;
        const TimedCall* c;
    };
    std::vector<Ref> ended, open;
    for (const FlightRecord& r : records) {
        std::vector<std::pair<int64_t, int>> events;
        events.reserve(r.calls.size() * 2);
        for (const TimedCall& c : r.calls) {
            events.emplace_back(c.start_ns, c.state_before);
            if (c.ended()) {
                events.emplace_back(c.end_ns, c.state_after);
                per_triplet[triplet_key(c)].push_back(c.duration_ns());
                ended.push_back({&r, &c});
            } else {
                open.push_back({&r, &c});
            }
        }
        if (!r.header_ok || events.empty()) continue;
        std::stable_sort(events.begin(), events.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        int64_t at = std::min(r.load_mono_ns, events.front().first);
        int state = events.front().second;
        for (const auto& [t, s] : events) {
            per_state[state] += t - at;
            at = t;
            state = s;
        }
        per_state[state] += std::max<int64_t>(0, load_end_ns(r, now_ns) - at);
    }
    out << "\nTime per state:\n";
    for (const auto& [state, ns] : per_state)
        if (ns > 0)
            out << "  state " << state << "  " << std::setw(12) << duration_text(ns) << "  "
                << (duration > 0 ? fixed(100.0 * static_cast<double>(ns) / static_cast<double>(duration), 1) : "-")
                << " %\n";

    out << "\nTime per triplet (calls that returned: count, total, median, 95th percentile, longest):\n";
    std::vector<std::pair<std::string, std::vector<int64_t>>> rows(per_triplet.begin(), per_triplet.end());
    std::vector<int64_t> totals;
    for (auto& row : rows) std::sort(row.second.begin(), row.second.end());
    auto total = [](const std::vector<int64_t>& v) {
        int64_t s = 0;
        for (int64_t d : v) s += d;
        return s;
    };
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const auto& a, const auto& b) { return total(a.second) > total(b.second); });
    if (rows.empty()) out << "  (none)\n";
    for (const auto& [name, d] : rows)
        out << "  " << std::setw(7) << d.size() << "  " << std::setw(10) << duration_text(total(d)) << "  "
            << std::setw(10) << duration_text(percentile(d, 50)) << "  " << std::setw(10)
            << duration_text(percentile(d, 95)) << "  " << std::setw(10) << duration_text(d.back()) << "  " << name
            << '\n';

    out << "\nSlowest calls:\n";
    std::vector<Ref> slowest = ended;
    std::size_t n = std::min<std::size_t>(5, slowest.size());
    std::partial_sort(slowest.begin(), slowest.begin() + static_cast<std::ptrdiff_t>(n), slowest.end(),
                      [](const Ref& a, const Ref& b) { return a.c->duration_ns() > b.c->duration_ns(); });
    if (n == 0) out << "  (none)\n";
    for (std::size_t i = 0; i < n; ++i) {
        const Ref& s = slowest[i];
        out << "  " << std::setw(9) << std::left << times.call_label(*s.r, *s.c) << std::right << " "
            << std::setw(10) << duration_text(s.c->duration_ns()) << "  " << label(*s.c) << "  at "
            << s.r->clock_text(s.c->start_ns) << " on thread " << s.r->thread_name(s.c->thread) << '\n';
    }

    // Pauses: stretches of over a second with no call in flight on any thread.
    out << "\nPauses of over 1 s between calls:\n";
    std::size_t pauses = 0;
    for (const FlightRecord& r : records) {
        int64_t busy_until = -1;
        const TimedCall* last = nullptr;
        for (const TimedCall& c : r.calls) {
            if (last && c.start_ns - busy_until > kSecond) {
                if (++pauses <= 20)
                    out << "  " << std::setw(10) << duration_text(c.start_ns - busy_until) << "  after "
                        << times.call_label(r, *last) << " " << label(*last) << ", before "
                        << times.call_label(r, c) << " " << label(c) << " at " << r.clock_text(c.start_ns)
                        << '\n';
            }
            int64_t end = c.ended() ? c.end_ns : load_end_ns(r, now_ns);
            if (end >= busy_until) {
                busy_until = end;
                last = &c;
            }
        }
    }
    if (pauses == 0) out << "  (none)\n";
    if (pauses > 20) out << "  ... " << pauses - 20 << " more\n";

    out << "\nThroughput:\n";
    long long bytes = 0;
    for (const Summary::Page& p : pages) bytes += p.bytes;
    if (pages.empty() || duration <= 0) {
        out << "  (no transfers)\n";
    } else {
        double seconds = static_cast<double>(duration) / 1e9;
        out << "  " << pages.size() << " page" << (pages.size() == 1 ? "" : "s") << " in " << duration_text(duration)
            << ": " << fixed(static_cast<double>(pages.size()) * 60.0 / seconds, 1) << " pages per minute\n";
        if (bytes > 0)
            out << "  " << bytes << " image bytes by memory transfer: "
                << fixed(static_cast<double>(bytes) / seconds, 0) << " bytes per second\n";
    }

    if (!open.empty()) {
        out << "\nCalls in flight when the record ends:\n";
        for (const Ref& o : open)
            out << "  " << std::setw(9) << std::left << times.call_label(*o.r, *o.c) << std::right << " "
                << label(*o.c) << " on thread " << o.r->thread_name(o.c->thread) << ", started "
                << o.r->clock_text(o.c->start_ns) << ", in flight " << in_flight(*o.r, *o.c, now_ns).text << '\n';
    }
    if (!times.problems().empty()) {
        out << "\nRecord problems:\n";
        for (const std::string& p : times.problems()) out << "  " << p << '\n';
    }
}

// Findings ----------------------------------------------------------------------

const std::vector<Rule>& time_rules() {
    static const std::vector<Rule> rules = {
        {"never-returned", "A call returns: one that started and never ended hung or took its host down"},
        {"slow-call", "A call returns within the slow threshold (5 s unless --slow-ms says otherwise); "
                      "MSG_ENABLEDS with ShowUI and MSG_ENABLEDSUIONLY wait for a person and are exempt"},
        {"no-unload", "The host unloads the source before it ends: a load never closed by a host that is gone"},
    };
    return rules;
}

TimeChecker::TimeChecker(const SessionTimes& times, Checker::Report report, int64_t slow_ns, int64_t now_ns)
    : times_(times), report_(std::move(report)), slow_ns_(slow_ns), now_ns_(now_ns) {}

bool TimeChecker::exempt(const TimedCall& t, const Call* c) const {
    if (t.dat != kDatUserInterface) return false;
    if (t.msg == kMsgEnableDsUiOnly) return true;
    if (t.msg != kMsgEnableDs) return false;
    // ShowUI as the call's block shows it; without the block, count the call.
    const Node* ui = c ? c->block("TW_USERINTERFACE") : nullptr;
    const Field* show = ui ? ui->field("ShowUI") : nullptr;
    return show && show->raw != "false" && show->raw != "0";
}

void TimeChecker::slow(const FlightRecord& r, const TimedCall& t, const Call* c) {
    if (!t.ended() || t.duration_ns() <= slow_ns_ || !seen_slow_.insert(&t).second || exempt(t, c)) return;
    Finding f;
    f.rule = "slow-call";
    f.call = c ? c->id() : times_.call_label(r, t);
    f.file = c ? c->file : 0;
    f.line = c ? c->line : 0;
    f.triplet = triplet_text(t);
    f.message = (t.from_source ? "[DS] " : "") + f.triplet + " took " + duration_text(t.duration_ns()) +
                " (on thread " + r.thread_name(t.thread) + ", from " + r.clock_text(t.start_ns) + ")";
    report_(f);
}

void TimeChecker::feed(const Call& c) {
    const FlightRecord* r = times_.record_of(c);
    const TimedCall* t = times_.find(c);
    if (r && t) slow(*r, *t, &c);
}

void TimeChecker::finish() {
    for (const FlightRecord& r : times_.records()) {
        bool gone = !r.closed && r.host == HostState::gone;
        for (const TimedCall& t : r.calls) {
            if (t.ended()) {
                slow(r, t, nullptr);
                continue;
            }
            Finding f;
            f.rule = "never-returned";
            f.call = times_.call_label(r, t);
            f.triplet = triplet_text(t);
            f.message = (t.from_source ? "[DS] " : "") + f.triplet + " on thread " + r.thread_name(t.thread) +
                        " started " + r.clock_text(t.start_ns) + " in state " + std::to_string(t.state_before) +
                        " and never returned: in flight " + in_flight(r, t, now_ns_).text;
            if (gone) f.message += "; the host stopped without unloading";
            report_(f);
        }
        if (gone && r.header_ok) {
            Finding f;
            f.rule = "no-unload";
            f.call = r.calls.empty() ? "-" : times_.call_label(r, r.calls.back());
            f.message = "the load of " + r.log_name + " by " + r.process_name + " (pid " + std::to_string(r.pid) +
                        ") was never closed: the host stopped without unloading; its last record is from " +
                        r.clock_text(r.last_ns >= 0 ? r.last_ns : r.load_mono_ns);
            report_(f);
        }
    }
}

}  // namespace tracelet::trace

namespace tracelet::trace {

// "2026-12-08T00:33:21.001234+01:00": the call's start in the load's local time.
std::string iso_time(const FlightRecord& r, int64_t mono_ns) {
    int64_t offset = r.utc_offset_seconds;
    int64_t local = r.wall_ns(mono_ns) + offset * 1000000000;
    int64_t secs = local / 1000000000, frac = local % 1000000000;
    if (frac < 0) frac += 1000000000, --secs;
    time_t t = static_cast<time_t>(secs);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%06lld%c%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<long long>(frac / 1000),
                  offset < 0 ? '-' : '+', static_cast<int>(std::abs(offset) / 3600),
                  static_cast<int>(std::abs(offset) / 60 % 60));
    return buf;
}

namespace {

std::string hex_bytes(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string address_text(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
    return text;
}

// A name from a table, or the number where the table does not name it.
Json named(std::string_view table, long long value) {
    const std::string_view name = constant_name(table, value);
    return name.empty() ? Json(value) : Json(std::string(name));
}

Json part_json(const CapturedPart& p) {
    Json j = Json::object();
    j["size"] = p.size;
    j["kept"] = p.bytes.size();
    if (p.cut) j["cut"] = true;
    if (p.unreadable) j["unreadable"] = true;
    j["hex"] = hex_bytes(p.bytes);
    return j;
}

Json data_json(const CapturedData& d) {
    if (!d.present) return nullptr;
    Json j = Json::object();
    j["pData"] = d.null_data ? Json(nullptr) : Json(address_text(d.data));
    if (d.structure.size) j["structure"] = part_json(d.structure);
    if (d.has_block) {
        Json c = Json::object();
        c["handle"] = address_text(d.handle);
        c["con_type"] = named("twon_macros", d.con_type);
        if (!d.block.bytes.empty() || d.block.size) {
            c["item_type"] = named("twty_macros", d.item_type);
            c["num_items"] = d.num_items;
            if (d.block_limit != UINT64_MAX) c["block_size"] = d.block_limit;
            if (d.block_too_small) c["too_small"] = true;
            c["bytes"] = part_json(d.block);
        }
        j["container"] = std::move(c);
    }
    return j;
}

Json image_json(const FlightRecord& r, const CapturedImage& m) {
    static const char* const from[] = {"unknown", "bytes_written", "image_header", "allocation"};
    static const char* const hash[] = {"none", "sample", "full"};
    Json j = Json::object();
    j["transfer"] = m.transfer == CapturedImage::Transfer::native ? "native" : "memory";
    j["length"] = m.length;
    j["length_from"] = from[static_cast<int>(m.length_from)];
    j["hash"] = m.hash_kind == CapturedImage::Hash::none ? Json(nullptr) : Json(address_text(m.hash).substr(2));
    j["hash_of"] = hash[static_cast<int>(m.hash_kind)];
    j["hashed_bytes"] = m.hashed_bytes;
    if (m.unreadable) j["unreadable"] = true;
    if (m.stored) j["file"] = r.image_path(m);
    if (m.write_failed) j["write_failed"] = true;
    return j;
}

}  // namespace

void add_call_times(Json& j, const SessionTimes& times, const Call& c) {
    const FlightRecord* r = times.record_of(c);
    const TimedCall* t = times.find(c);
    if (!r || !t) return;
    j["start"] = iso_time(*r, t->start_ns);
    j["duration_ms"] = t->ended() ? Json(static_cast<double>(t->duration_ns()) / 1e6) : Json(nullptr);
    j["thread"] = t->thread;
    // The call's pData as it came in beside what the source left.
    if (const CallCapture* k = r->capture_of(t->id)) {
        Json cap = Json::object();
        cap["in"] = data_json(k->in);
        cap["out"] = data_json(k->out);
        if (k->image.present) cap["image"] = image_json(*r, k->image);
        j["capture"] = std::move(cap);
    }
}

}  // namespace tracelet::trace

namespace tracelet::trace {

void show_log(const std::vector<std::string>& log_files, const SessionTimes& times, std::ostream& out) {
    const std::string blank(28, ' ');
    for (std::size_t i = 0; i < log_files.size(); ++i) {
        std::ifstream f(log_files[i], std::ios::binary);
        if (!f) throw std::runtime_error("cannot open " + log_files[i]);
        if (log_files.size() > 1) out << (i ? "\n" : "") << "==> " << log_files[i] << " <==\n";
        std::string line;
        Call probe;
        probe.file = static_cast<int>(i);
        for (std::size_t n = 1; std::getline(f, line); ++n) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const TimedCall* t = nullptr;
            const FlightRecord* r = nullptr;
            long long seq = 0;
            std::size_t close = line.find(']');
            if (line.size() > 8 && line[0] == '[' && close != std::string::npos && close > 1 &&
                line.compare(close, 3, "] [") == 0 && parse_int(std::string_view(line).substr(1, close - 1), seq)) {
                probe.line = n;
                probe.seq = seq;
                t = times.find(probe);
                r = times.record_of(probe);
            }
            if (t && r) {
                char col[64];
                std::snprintf(col, sizeof col, "%-12s %12s  ", r->clock_text(t->start_ns).c_str(),
                              duration_text(t->duration_ns()).c_str());
                out << col << line << '\n';
            } else {
                out << (line.empty() ? std::string() : blank + line) << '\n';
            }
        }
        // Calls that never returned left no line: name them where the file ends.
        for (const FlightRecord& r : times.records()) {
            if (r.log_name.empty() || r.log_name != log_files[i].substr(log_files[i].rfind('/') + 1)) continue;
            for (const TimedCall& t : r.calls)
                if (!t.ended()) {
                    char col[64];
                    std::snprintf(col, sizeof col, "%-12s %12s  ", r.clock_text(t.start_ns).c_str(), "(no return)");
                    out << col << "... " << (t.from_source ? "[DS] " : "[APP] ") << triplet_text(t) << " on thread "
                        << r.thread_name(t.thread) << ": never returned\n";
                }
        }
    }
}

}  // namespace tracelet::trace
