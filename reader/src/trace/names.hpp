// TWAIN constants by name and by value for the reader, from the names
// library the data source prints with. Every lookup by name also takes the
// "ERROR!(n)" text the trace prints for a value its tables do not name, so a
// log is read the same whether it printed a name or the number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tables/TwNames.h"
#include "trace/model.hpp"
#include "tracelet/logmodel.h"

namespace tracelet::trace {

// Dg, Dat, Msg, Cap, Rc, Cc.
using NameKind = twnames::Kind;

// The value of a name of `kind` as a log prints it, or n for "ERROR!(n)";
// -1 for a text that is neither.
long long code(NameKind kind, std::string_view name);
long long dg_code(std::string_view name);
long long dat_code(std::string_view name);
long long msg_code(std::string_view name);
long long cap_code(std::string_view name);
long long rc_code(std::string_view name);
long long cc_code(std::string_view name);

// A triplet by value, DG << 32 | DAT << 16 | MSG, from its three names or
// from a "DG/DAT/MSG" text; -1 when a part is neither a name nor "ERROR!(n)".
long long triplet_code(std::string_view dg, std::string_view dat, std::string_view msg);
long long triplet_code(std::string_view text);
// The same for a triplet's values.
constexpr long long triplet_value(std::uint32_t dg, std::uint16_t dat, std::uint16_t msg) {
    return static_cast<long long>(dg) << 32 | static_cast<long long>(dat) << 16 | msg;
}

// The value of any named constant of any table (TWPT_GRAY, TWON_ARRAY,
// TWTY_UINT16, ...), or n for "ERROR!(n)"; nothing for other text.
std::optional<long long> constant_value(std::string_view name);

// Whether two texts a log printed for constants stand for the same value:
// by value where both are names or "ERROR!(n)", else as text.
bool same_constant(std::string_view a, std::string_view b);

// The name of a value as the data source prints it, "ERROR!(n)" for a value
// its tables do not name.
std::string name_of(NameKind kind, std::uint32_t value);

// The name of a value in one table, by the table's name in data/
// ("twpt_macros", "twon_macros", ...); empty when the table does not name it.
std::string_view constant_name(std::string_view table, long long value);

// What the state machine needs to know of a call, from its names and dump.
logmodel::CallFacts call_facts(const Call& c);

}  // namespace tracelet::trace
