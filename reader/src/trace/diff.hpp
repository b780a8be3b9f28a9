// "diff": compares what two sessions did, whatever version, machine or
// manager wrote their logs. Calls are matched as triplets by value (a name
// and the ERROR!(n) text of the same value are the same), constants in the
// dumped structures compare by value, and states compare as the transitions
// each reading gives, inferred ones included. Addresses, handles, identity
// Ids, sequence numbers and times are left out, and so are the log's raw
// state lines (how a version printed the state, not what happened).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "trace/session.hpp"

namespace tracelet::trace {

struct FieldDiff {
    std::string path;  // "TW_CAPABILITY.TW_ONEVALUE.Item"
    std::string a, b;  // values as printed; "(absent)" when one side lacks it
};

// The fields two matched calls differ in, their states left out.
std::vector<FieldDiff> compare_calls(const Call& a, const Call& b);

// One step of the alignment of the two call lists.
struct Aligned {
    enum Kind { Same, Changed, OnlyA, OnlyB } kind;
    std::size_t a = 0, b = 0;      // indexes into the sessions' calls (the one that applies)
    std::vector<FieldDiff> diffs;  // Changed: what differs, the state's transition included
};

// Matches the calls, then compares the matched calls' fields and states.
// A state difference that opens with a call only one side has (a source's
// notice the other log lacks, whose move that log infers at a later call) is
// that call's alone: it is not reported again on the matched calls until the
// two readings are in the same state again.
std::vector<Aligned> align(const Session& a, const Session& b, std::size_t window = 200);

struct DiffOptions {
    std::size_t context = 2;  // equal calls shown before the first divergence
    bool all = false;         // list every difference, not only the first
};

// One step of an alignment as the report shows it: "= A id / B id  call", the
// changed fields of a "!" step ("path: A value  B value"; the first three
// unless `detail`), or "- A ..." / "+ B ..." for a call one side lacks.
void write_step(const Session& a, const Session& b, const Aligned& step, std::ostream& out, bool detail);

// Writes the report; returns the number of differences (0: same).
std::size_t diff_sessions(const Session& a, const Session& b, std::ostream& out, const DiffOptions& options = {});

}  // namespace tracelet::trace
