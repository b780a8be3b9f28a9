// TWAIN session states: which states each triplet may be sent in, and the
// state the trace's own tracker reaches after each call.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "trace/model.hpp"

namespace tracelet::trace {

struct TripletStates {
    unsigned mask = 0;       // bit n set: allowed in state n
    bool unknown = false;    // the standard names no state for (one of) its senders
    std::string text;        // as in the table, e.g. "4-7" or "2-7 / 4-7"
    std::string sent_by;     // e.g. "app>ds" or "app>dsm, app>ds"
    bool allows(int state) const { return unknown || (state >= 0 && state < 32 && (mask >> state) & 1u); }
};

class ValidStates {
public:
    // Reads the tab-separated table (dg, dat, msg, valid_states, next_state, sent_by, notes);
    // '#' lines are comments. Throws std::runtime_error on a malformed row.
    explicit ValidStates(std::string_view tsv);
    static const ValidStates& builtin();  // the table built into the program

    const TripletStates* find(std::string_view dg, std::string_view dat, std::string_view msg) const;
    std::size_t size() const { return rows_.size(); }

private:
    std::unordered_map<std::string, TripletStates> rows_;
};

// "4-7", "3", "4,5,7" -> a readable list for messages: "4 to 7", "3", "4, 5 or 7".
std::string describe_states(unsigned mask);

// The state a successful call leads to, as the trace's tracker computes it
// (used when a call's state line was lost to the 5120-byte cut).
int predict_state(int before, const Call& c);

// Follows the tracked state through a session: 3 at the start of each file
// (the state the log is opened in), then each call's state line.
class StateTracker {
public:
    struct Step {
        int before = 0;
        int after = 0;
    };
    Step step(const Call& c);
    int state() const { return state_; }

private:
    int file_ = -1;
    int state_ = 3;
};

// Follows the session state as the TWAIN standard defines it. It differs from
// the trace's own tracker where that one takes a shortcut: a source's
// MSG_CLOSEDSREQ (or MSG_CLOSEDSOK) leaves the session in state 5 until the
// application sends MSG_DISABLEDS, and MSG_ENABLEDSUIONLY enables the source.
class TwainStateModel {
public:
    StateTracker::Step step(const Call& c);
    int state() const { return state_; }

private:
    int file_ = -1;
    int state_ = 3;
};

// Reads an integer member of a block: "Count" of TW_PENDINGXFERS and the like.
bool int_field(const Node* n, std::string_view name, long long& out);

}  // namespace tracelet::trace
