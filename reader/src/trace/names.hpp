// The numbers behind the names the log prints for data argument types and
// messages, from the name tables the data source prints them with.
#pragma once

#include <cstdint>
#include <string_view>

#include "trace/model.hpp"
#include "tracelet/logmodel.h"

namespace tracelet::trace {

// -1 for a name no table holds (an ERROR!(n) text gives n).
int dat_code(std::string_view name);
int msg_code(std::string_view name);

// What the state machine needs to know of a call, from its names and dump.
logmodel::CallFacts call_facts(const Call& c);

}  // namespace tracelet::trace
