#include "trace/states.hpp"

#include <stdexcept>
#include <vector>

#include "trace/text.hpp"

namespace tracelet::trace {

extern const char* const kBuiltinValidStates;  // generated from data/twain-valid-states.tsv

namespace {

std::string key(std::string_view dg, std::string_view dat, std::string_view msg) {
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

int predict_state(int before, const Call& c) {
    const std::string& m = c.msg;
    const std::string& d = c.dat;
    if (m == "MSG_OPENDSM") return before == 2 ? 3 : before;
    if (m == "MSG_CLOSEDSM") return before == 3 ? 2 : before;
    if (m == "MSG_OPENDS") return before == 3 ? 4 : before;
    if (m == "MSG_CLOSEDS") return before == 4 ? 3 : before;
    if (m == "MSG_ENABLEDS") return before == 4 ? 5 : before;
    if (m == "MSG_DISABLEDS") return d == "DAT_USERINTERFACE" && before == 5 ? 4 : before;
    bool xfer = d == "DAT_IMAGEMEMXFER" || d == "DAT_IMAGENATIVEXFER" || d == "DAT_IMAGEFILEXFER";
    if (m == "MSG_PROCESSEVENT") {
        if (d == "DAT_EVENT") {
            const Node* ev = c.block("TW_EVENT");
            const Field* f = ev ? ev->field("TWMessage") : nullptr;
            if (f && f->raw == "MSG_XFERREADY") return before == 5 ? 6 : before;
            if (f && f->raw == "MSG_CLOSEDSREQ") return before == 5 ? 4 : before;
            return before;
        }
        return xfer && before == 6 ? 7 : before;
    }
    if (m == "MSG_GET") return xfer && before == 6 ? 7 : before;
    if (m == "MSG_ENDXFER" && d == "DAT_PENDINGXFERS") {
        long long count = 0;
        if (before < 6 || !int_field(c.block("TW_PENDINGXFERS"), "Count", count)) return before;
        return count != 0 ? 6 : 5;
    }
    if (m == "MSG_RESET" && d == "DAT_PENDINGXFERS") return before == 6 ? 5 : before;
    return before;
}

StateTracker::Step StateTracker::step(const Call& c) {
    if (c.file != file_) {
        file_ = c.file;
        state_ = 3;
    }
    Step s;
    s.before = state_;
    if (c.state_after >= 0)
        state_ = c.state_after;
    else if (c.overflow && c.has_result && !c.failed())
        state_ = predict_state(state_, c);
    s.after = state_;
    return s;
}

StateTracker::Step TwainStateModel::step(const Call& c) {
    if (c.file != file_) {
        file_ = c.file;
        state_ = 3;
    }
    StateTracker::Step s;
    s.before = state_;
    if (c.has_result && !c.failed()) {
        const Node* ev = c.claimed_event() ? c.block("TW_EVENT") : nullptr;
        const Field* m = ev ? ev->field("TWMessage") : nullptr;
        if (m && (m->raw == "MSG_CLOSEDSREQ" || m->raw == "MSG_CLOSEDSOK"))
            state_ = state_ >= 5 && state_ <= 7 ? 5 : state_;
        else if (c.msg == "MSG_ENABLEDSUIONLY" && c.dat == "DAT_USERINTERFACE")
            state_ = state_ == 4 ? 5 : state_;
        else
            state_ = predict_state(state_, c);
    }
    s.after = state_;
    return s;
}

}  // namespace tracelet::trace
