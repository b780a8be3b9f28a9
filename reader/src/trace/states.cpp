#include "trace/states.hpp"

#include <stdexcept>
#include <vector>

#include "trace/names.hpp"
#include "trace/text.hpp"

namespace tracelet::trace {

extern const char* const kBuiltinValidStates;  // generated from data/twain-valid-states.tsv

namespace {

// A triplet's key: its value where its names are known (so that a call a log
// printed as "ERROR!(n)" finds its row), else its text.
std::string key(std::string_view dg, std::string_view dat, std::string_view msg) {
    long long v = triplet_code(dg, dat, msg);
    if (v >= 0) return "#" + std::to_string(v);
    std::string k;
    k.reserve(dg.size() + dat.size() + msg.size() + 2);
    k.append(dg).push_back('/');
    k.append(dat).push_back('/');
    k.append(msg);
    return k;
}

bool parse_states(std::string_view s, unsigned& mask) {
    for (std::string_view part : split(s, ',')) {
        part = trim(part);
        std::size_t dash = part.find('-');
        long long lo = 0, hi = 0;
        if (dash == std::string_view::npos) {
            if (!parse_int(part, lo)) return false;
            hi = lo;
        } else if (!parse_int(part.substr(0, dash), lo) || !parse_int(part.substr(dash + 1), hi)) {
            return false;
        }
        if (lo < 1 || hi > 7 || lo > hi) return false;
        for (long long st = lo; st <= hi; ++st) mask |= 1u << st;
    }
    return true;
}

}  // namespace

ValidStates::ValidStates(std::string_view tsv) {
    std::size_t lineno = 0;
    bool header_seen = false;
    for (std::string_view line : split(tsv, '\n')) {
        ++lineno;
        line = trim(line);
        if (line.empty() || line.front() == '#') continue;
        auto cols = split(line, '\t');
        if (!header_seen && !cols.empty() && cols[0] == "dg") {
            header_seen = true;
            continue;
        }
        if (cols.size() < 6) throw std::runtime_error("valid-states table, line " + std::to_string(lineno) + ": too few columns");
        TripletStates& row = rows_[key(cols[0], cols[1], cols[2])];
        std::string_view states = trim(cols[3]);
        if (states == "?") {
            row.unknown = true;
        } else if (!parse_states(states, row.mask)) {
            throw std::runtime_error("valid-states table, line " + std::to_string(lineno) + ": bad states '" +
                                     std::string(states) + "'");
        }
        if (!row.text.empty()) row.text += " / ";
        row.text += std::string(states);
        if (!row.sent_by.empty()) row.sent_by += ", ";
        row.sent_by += std::string(trim(cols[5]));
    }
}

const ValidStates& ValidStates::builtin() {
    static const ValidStates table(kBuiltinValidStates);
    return table;
}

const TripletStates* ValidStates::find(std::string_view dg, std::string_view dat, std::string_view msg) const {
    auto it = rows_.find(key(dg, dat, msg));
    return it == rows_.end() ? nullptr : &it->second;
}

std::string describe_states(unsigned mask) {
    std::string out;
    int st = 1;
    std::vector<std::string> parts;
    while (st <= 7) {
        if (!((mask >> st) & 1u)) {
            ++st;
            continue;
        }
        int end = st;
        while (end + 1 <= 7 && ((mask >> (end + 1)) & 1u)) ++end;
        if (end == st)
            parts.push_back(std::to_string(st));
        else if (end == st + 1) {
            parts.push_back(std::to_string(st));
            parts.push_back(std::to_string(end));
        } else
            parts.push_back(std::to_string(st) + " to " + std::to_string(end));
        st = end + 1;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += i + 1 == parts.size() ? " or " : ", ";
        out += parts[i];
    }
    return out;
}

bool int_field(const Node* n, std::string_view name, long long& out) {
    if (!n) return false;
    const Field* f = n->field(name);
    return f && parse_int(f->raw, out);
}

namespace {

constexpr long long kEnable = triplet_value(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS);

// The state one call leads to from `state`, by the machine. enabling: the
// source's notification came while an application MSG_ENABLEDS was in flight.
int next(int state, const Call& c, const logmodel::CallFacts& f, bool enabling, logmodel::Reading reading) {
    if (!c.has_result || c.failed()) return state;
    if (c.from_source()) return logmodel::NotifiedState(state, f.msg, enabling, reading);
    return logmodel::NextState(state, f, reading);
}

}  // namespace

SessionStates::Step SessionStates::step(const Call& c) {
    if (c.load != load_) {
        load_ = c.load;
        state_ = logged_ = logmodel::kStateAtLoad;
        in_flight_ = false;
        notice_seen_ = false;
    }
    const logmodel::CallFacts f = call_facts(c);
    const bool ok = c.has_result && !c.failed();
    Step s;
    s.logged = c.state_after;
    s.previous = s.before = s.sent_in = state_;

    if (c.from_source() && ok && f.msg == MSG_XFERREADY && notice_seen_) {
        // Sent from the source's own thread and written after the calls it
        // woke: its move was read from their state lines already.
        notice_seen_ = false;
        s.sent_in = 5;
        s.after = state_;
        return s;
    }
    // The enable may be in flight on another thread: the notification's
    // line then shows the enable completed first (4 -> 6). A transfer ready
    // in 4 can only mean an enable in flight, whatever the line shows.
    const bool ready = c.from_source() && ok && f.msg == MSG_XFERREADY;
    const bool enabling_logged = c.from_source() && (c.during_enable() || (ready && logged_ == 4 && c.state_after == 6));
    const bool enabling = enabling_logged || (ready && state_ == 4);
    // What the log's own lines say after this call; a line lost to the
    // 5120-byte cut is what the log's rule gives.
    const int log_expected = next(logged_, c, f, enabling_logged, logmodel::Reading::Log);
    const int log_after = c.state_after >= 0 ? c.state_after : c.overflow ? log_expected : logged_;
    const bool log_agrees = log_after == log_expected;
    logged_ = log_after;

    if (state_ == 5 && ok && c.has_triplet && !c.from_source()) {
        const TripletStates* t = table_.find(c.dg, c.dat, c.msg);
        constexpr unsigned kTransferStates = 1u << 6 | 1u << 7;
        if (!log_agrees && next(6, c, f, false, logmodel::Reading::Log) == log_after) {
            s.before = 6;  // the source signalled; its block is written later
            notice_seen_ = true;
        } else if (t && !t->unknown && t->mask != 0 && (t->mask & ~kTransferStates) == 0) {
            s.before = 6;
            s.inferred = true;
        }
    }
    // The log's lines win where they break with the machine (lost calls, a
    // log of another writer): the reading starts again from them.
    s.after = log_agrees || s.before != state_ ? next(s.before, c, f, enabling, reading_) : log_after;
    s.corrected = s.after != log_after;
    s.sent_in = s.before;
    if (enabling && !in_flight_) {
        in_flight_ = true;
        in_flight_call_ = c.during.empty() ? kEnable : triplet_code(c.during);
        in_flight_state_ = s.before;
    } else if (in_flight_ && c.has_triplet && !c.from_source() && in_flight_call_ >= 0 &&
               in_flight_call_ == triplet_code(c.dg, c.dat, c.msg)) {
        s.sent_in = in_flight_state_;
        in_flight_ = false;
    }
    state_ = s.after;
    return s;
}

}  // namespace tracelet::trace
