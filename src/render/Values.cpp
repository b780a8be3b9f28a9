// The name lookups of the value helpers.
#include "render/Values.h"

#include "render/Format.h"

const char* const CRLF = "\r\n";

namespace {
// The row of `value` (the ERROR! row, the last, is found by position, never
// by value); null on a miss.
const TwNameRow* FindRow(const TwNameRow* table, size_t rows, uint64_t value) {
    for (size_t i = 0; i + 1 < rows; ++i)
        if (table[i].value == value) return &table[i];
    return nullptr;
}
}  // namespace

NameText::NameText(const TwNameRow* table, size_t rows, uint64_t value) {
    const TwNameRow* row = FindRow(table, rows, value);
    // A name longer than a name buffer is cut as a copy would cut it.
    if (row && strnlen(row->name, kNameSize) < kNameSize) {
        m_row = row->name;
    } else if (row) {
        memcpy(m_miss, row->name, kNameSize - 1);
        m_miss[kNameSize - 1] = '\0';
    } else {
        TRACE_FORMAT_TO(m_miss, sizeof m_miss, "%s(%d)", rows ? table[rows - 1].name : "ERROR!",
                        static_cast<int32_t>(value));
    }
}

bool FindName(const TwNameRow* table, size_t rows, uint64_t value, char* out) {
    const TwNameRow* row = FindRow(table, rows, value);
    if (!row) return false;
    const size_t n = strnlen(row->name, kNameSize - 1);
    memcpy(out, row->name, n);
    out[n] = '\0';
    return true;
}

void ValToName(const TwNameRow* table, size_t rows, uint64_t value, char* out) {
    const NameText name(table, rows, value);
    const size_t n = strnlen(name.c_str(), kNameSize - 1);
    memcpy(out, name.c_str(), n);
    out[n] = '\0';
}

void CapToName(TW_UINT16 cap, char* out) {
    const bool found = cap > 0x8000 ? FindName(cap_nv_macros, TableRows(cap_nv_macros), cap, out)
                                    : FindName(cap_macros, TableRows(cap_macros), cap, out);
    if (found) return;
    if (cap > 0x8000)
        ValToName(icap_nv_macros, cap, out);
    else
        ValToName(icap_macros, cap, out);
}
