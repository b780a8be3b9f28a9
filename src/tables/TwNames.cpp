#include "tables/TwNames.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "tables/twaintbl.h"

namespace twnames {

namespace {

// The rows of one generated table, its closing ERROR! row left out.
struct Rows {
    const TwNameRow* row = nullptr;
    size_t count = 0;
    const TwNameRow* begin() const { return row; }
    const TwNameRow* end() const { return row + count; }
};

template <size_t N>
constexpr Rows RowsOf(const TwNameRow (&table)[N]) {
    return {table, N - 1};
}

// The tables a kind's names come from, in the order the first row of a name wins.
struct KindTables {
    Rows tables[4];
};

KindTables TablesOf(Kind kind) {
    switch (kind) {
        case Kind::Dg: return {{RowsOf(dg_macros)}};
        case Kind::Dat: return {{RowsOf(dat_macros), RowsOf(dat_nv_macros)}};
        case Kind::Msg: return {{RowsOf(msg_macros), RowsOf(msg_nv_macros)}};
        case Kind::Cap:
            return {{RowsOf(cap_macros), RowsOf(icap_macros), RowsOf(cap_nv_macros), RowsOf(icap_nv_macros)}};
        case Kind::Rc: return {{RowsOf(twrc_macros)}};
        case Kind::Cc: return {{RowsOf(twcc_macros)}};
    }
    return {};
}

constexpr int kKinds = 6;

struct Index {
    std::unordered_map<std::string_view, std::uint64_t> byKind[kKinds];
    std::unordered_map<std::string_view, std::uint64_t> any;
    Index() {
        for (int k = 0; k < kKinds; ++k)
            for (const Rows& rows : TablesOf(static_cast<Kind>(k)).tables)
                for (const TwNameRow& r : rows) byKind[k].emplace(r.name, r.value);
        for (const TwNamedTable& t : g_aTwNameTables)
            for (size_t i = 0; i + 1 < t.count; ++i) any.emplace(t.rows[i].name, t.rows[i].value);
    }
};

const Index& TheIndex() {
    static const Index index;
    return index;
}

std::string_view FindIn(const Rows& rows, std::uint64_t value) {
    for (const TwNameRow& r : rows)
        if (r.value == value) return r.name;
    return {};
}

}  // namespace

std::optional<std::int64_t> ErrorValue(std::string_view text) {
    constexpr std::string_view kOpen = "ERROR!(";
    if (text.size() <= kOpen.size() + 1 || text.substr(0, kOpen.size()) != kOpen || text.back() != ')')
        return std::nullopt;
    const std::string digits(text.substr(kOpen.size(), text.size() - kOpen.size() - 1));
    if (digits.empty() || !(digits[0] == '-' || (digits[0] >= '0' && digits[0] <= '9'))) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(digits.c_str(), &end, 10);
    if (errno || *end) return std::nullopt;
    return n;
}

std::optional<std::uint32_t> Value(Kind kind, std::string_view name) {
    const auto& map = TheIndex().byKind[static_cast<int>(kind)];
    auto it = map.find(name);
    if (it != map.end()) return static_cast<std::uint32_t>(it->second);
    if (auto n = ErrorValue(name)) return static_cast<std::uint32_t>(*n);
    return std::nullopt;
}

std::optional<std::int64_t> ConstantValue(std::string_view name) {
    const auto& map = TheIndex().any;
    auto it = map.find(name);
    if (it != map.end()) return static_cast<std::int64_t>(it->second);
    return ErrorValue(name);
}

std::string_view Name(Kind kind, std::uint32_t value) {
    // The ranges the trace picks its tables by: vendor values above 0x8000.
    const bool vendor = value > 0x8000;
    switch (kind) {
        case Kind::Dg: return FindIn(RowsOf(dg_macros), value);
        case Kind::Dat: return FindIn(vendor ? RowsOf(dat_nv_macros) : RowsOf(dat_macros), value);
        case Kind::Msg: return FindIn(vendor ? RowsOf(msg_nv_macros) : RowsOf(msg_macros), value);
        case Kind::Cap: {
            std::string_view n = FindIn(vendor ? RowsOf(cap_nv_macros) : RowsOf(cap_macros), value);
            return n.empty() ? FindIn(vendor ? RowsOf(icap_nv_macros) : RowsOf(icap_macros), value) : n;
        }
        case Kind::Rc: return FindIn(RowsOf(twrc_macros), value);
        case Kind::Cc: return FindIn(RowsOf(twcc_macros), value);
    }
    return {};
}

std::string_view NameIn(std::string_view table, std::uint64_t value) {
    for (const TwNamedTable& t : g_aTwNameTables)
        if (table == t.name) return FindIn(Rows{t.rows, t.count - 1}, value);
    return {};
}

std::string NameOrError(Kind kind, std::uint32_t value) {
    std::string_view n = Name(kind, value);
    if (!n.empty()) return std::string(n);
    return "ERROR!(" + std::to_string(static_cast<std::int32_t>(value)) + ")";
}

std::string NameOrHex(std::string_view name, std::uint64_t value) {
    if (!name.empty()) return std::string(name);
    char text[24];
    std::snprintf(text, sizeof text, "0x%04llx", static_cast<unsigned long long>(value));
    return text;
}

std::string NameOrHex(Kind kind, std::uint32_t value) { return NameOrHex(Name(kind, value), value); }

std::string NameInOrHex(std::string_view table, std::uint64_t value) {
    return NameOrHex(NameIn(table, value), value);
}

std::string_view ValueTable(std::uint16_t cap) {
    for (const TwValToCapRow* row = cap > 0x8000 ? VALTOCAPNV : VALTOCAP; row->table; ++row)
        if (row->cap == cap) {
            for (const TwNamedTable& t : g_aTwNameTables)
                if (t.rows == row->table) return t.name;
        }
    return {};
}

std::string_view CapValueName(std::uint16_t cap, std::uint16_t value) {
    for (const TwValToCapRow* row = cap > 0x8000 ? VALTOCAPNV : VALTOCAP; row->table; ++row)
        if (row->cap == cap) return FindIn(Rows{row->table, row->rows - 1}, value);
    return {};
}

bool ReadOnly(std::uint16_t cap) {
    const uint16_t* end = g_aTwReadOnlyCaps + kTwReadOnlyCaps;
    return std::binary_search(g_aTwReadOnlyCaps, end, cap);
}

}  // namespace twnames
