// "diff": structural comparison of two sessions. Addresses, handles, identity
// Ids and sequence numbers are left out; everything else a call shows counts.
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

std::vector<FieldDiff> compare_calls(const Call& a, const Call& b);

// One step of the alignment of the two call lists.
struct Aligned {
    enum Kind { Same, Changed, OnlyA, OnlyB } kind;
    std::size_t a = 0, b = 0;  // indexes into the sessions' calls (the one that applies)
};

std::vector<Aligned> align(const Session& a, const Session& b, std::size_t window = 200);

struct DiffOptions {
    std::size_t context = 2;  // equal calls shown before the first divergence
    bool all = false;         // list every difference, not only the first
};

// Writes the report; returns the number of differences (0: same).
std::size_t diff_sessions(const Session& a, const Session& b, std::ostream& out, const DiffOptions& options = {});

}  // namespace tracelet::trace
