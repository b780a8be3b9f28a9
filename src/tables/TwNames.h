// TWAIN constants by name and by value, both ways, for the tools and the log
// reader. Everything here reads the generated name tables (twaintbl), so a
// name is known here exactly when the trace can print it. Not for the trace
// path: the first lookup builds its indexes on the heap.
#ifndef TRACELET_TWNAMES_H
#define TRACELET_TWNAMES_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace twnames {

// The kinds of value a triplet line and a result line are printed with.
enum class Kind {
    Dg,   // dg_macros
    Dat,  // dat_macros, then dat_nv_macros
    Msg,  // msg_macros, then msg_nv_macros
    Cap,  // cap_macros, icap_macros, cap_nv_macros, icap_nv_macros
    Rc,   // twrc_macros
    Cc,   // twcc_macros
};

// "ERROR!(n)" (the text the trace prints for a value no table names) gives n;
// anything else gives nothing.
std::optional<std::int64_t> ErrorValue(std::string_view text);

// The value `name` stands for among the tables of `kind`, or n for an
// "ERROR!(n)" text; nothing for a name of another kind or of no table.
std::optional<std::uint32_t> Value(Kind kind, std::string_view name);

// The value of any named constant of any table (TWPT_GRAY, TWON_ARRAY,
// TWTY_UINT16, MSG_GET, ...), or n for an "ERROR!(n)" text. A negative
// constant gives its negative value.
std::optional<std::int64_t> ConstantValue(std::string_view name);

// The name the trace prints for `value` of `kind` (the tables it picks by
// the value's range, the first row that names the value); empty when none.
std::string_view Name(Kind kind, std::uint32_t value);

// The name of `value` in one table, by the table's name in data/
// ("twpt_macros"); the first row wins. Empty when the table does not name it.
std::string_view NameIn(std::string_view table, std::uint64_t value);

// As the trace prints it: the name, or "ERROR!(n)" with the value as a
// signed 32-bit number.
std::string NameOrError(Kind kind, std::uint32_t value);

// As a report names a value: the name, or the value in hexadecimal
// ("0x7fff") where there is none. From a name already looked up, from the
// tables of `kind`, or from one table by its name.
std::string NameOrHex(std::string_view name, std::uint64_t value);
std::string NameOrHex(Kind kind, std::uint32_t value);
std::string NameInOrHex(std::string_view table, std::uint64_t value);

// The table that names the TW_UINT16 values of a capability
// ("twpt_macros" for ICAP_PIXELTYPE); empty for a capability without one.
std::string_view ValueTable(std::uint16_t cap);

// The name of a TW_UINT16 value of a capability (TWPT_GRAY for 1 of
// ICAP_PIXELTYPE); empty when the capability has no value table or the
// table does not name the value.
std::string_view CapValueName(std::uint16_t cap, std::uint16_t value);

// Whether TWAIN lets an application only read the capability.
bool ReadOnly(std::uint16_t cap);

}  // namespace twnames

#endif  // TRACELET_TWNAMES_H
