// TWAIN session states: which states each triplet may be sent in, and the
// state the trace's own tracker reaches after each call.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "trace/model.hpp"
#include "tracelet/logmodel.h"

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

// Follows the TWAIN state through a session, call by call: 3 at the start of
// each load of the source, then the state machine the log's state lines
// follow (one model with the data source), read the log's way or the
// standard's way.
//
// The log's state lines are taken as they are while they agree with that
// machine. Where the log shows no notification, one transition is restored:
// a call that succeeded while the state was 5, although the standard allows
// it only in states 6 and 7 (DAT_IMAGEINFO, a transfer's MSG_GET, ...), means
// the source had signalled transfer ready (5 -> 6, marked inferred). The state
// then follows the machine until the log's lines agree with it again.
class SessionStates {
public:
    struct Step {
        int previous = 0;        // the state after the call before (3 at the start of a load)
        int before = 0;          // the state before the call's block: previous, or 6 where the source
                                 // had signalled transfer ready (inferred, or its block comes later)
        int after = 0;           // the state after it
        int sent_in = 0;         // the state the call was sent in: before, unless the source
                                 // signalled while the call was in flight (its block comes first)
        int logged = -1;         // the log's state line; -1 when the call has none
        bool inferred = false;   // transfer ready was restored just before this call
        bool corrected = false;  // after differs from the state the log shows at this point
    };
    explicit SessionStates(logmodel::Reading reading = logmodel::Reading::Log,
                           const ValidStates& table = ValidStates::builtin())
        : reading_(reading), table_(table) {}
    Step step(const Call& c);
    int state() const { return state_; }

private:
    logmodel::Reading reading_;
    const ValidStates& table_;
    int load_ = -1;
    int state_ = logmodel::kStateAtLoad;
    bool notice_seen_ = false;  // calls showed a transfer ready whose block is still to come
    bool in_flight_ = false;    // a notification arrived during an application call not yet seen
    long long in_flight_call_ = -1;  // that call, by value (triplet_code); -1 when its names are unknown
    int in_flight_state_ = 0;
    int logged_ = logmodel::kStateAtLoad;  // the state the log's own lines are at
};

// Reads an integer member of a block: "Count" of TW_PENDINGXFERS and the like.
bool int_field(const Node* n, std::string_view name, long long& out);

}  // namespace tracelet::trace
