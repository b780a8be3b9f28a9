// Value rendering: one typed item, a capability's TW_UINT16 value, and the
// item list of an array or enumeration.
//
// Every item is copied out of the container before it is printed, and the
// copy never takes more than the item's own width (a text item: up to its
// NUL and never past its slot), nor more than the caller says the container
// holds. An item list stops as soon as the log text buffer is full, so a
// count of four billion costs no more than one full buffer.
#include "analyzer/ParaAnalyze.h"

#include <stdio.h>

#include "platform/ForeignReader.h"

namespace {

// Widest item a list holds: a TW_STR255 slot.
constexpr size_t kSlotBytes = sizeof(TW_STR255);
// Room ValToStr may fill: the longest text is a TW_STR255 of 255 characters.
constexpr size_t kValueText = kSlotBytes + 1;

const char kNotImplemented[] = "!!! not implemented.!!!";

bool IsTextType(TW_UINT16 type) { return type >= TWTY_STR32 && type <= TWTY_STR255; }

// Room an item line needs at most: its start, the longest value text, ","
// and CR LF.
constexpr size_t kItemLineBound = 8 + 10 + 1 + kValueText + 3;

// Copies an item's n bytes; the widths of the numeric items are copied as
// the constants they are (a copy of unknown length costs more than the item).
inline void CopyItem(unsigned char* to, const unsigned char* from, size_t n) {
    switch (n) {
        case 1: memcpy(to, from, 1); break;
        case 2: memcpy(to, from, 2); break;
        case 4: memcpy(to, from, 4); break;
        case 16: memcpy(to, from, 16); break;
        default: memcpy(to, from, n); break;
    }
}

// Text of the first NUL-terminated run of a slot, never past its width; its length.
size_t SlotText(const void* slot, size_t width, char* text) {
    const size_t n = strnlen(static_cast<const char*>(slot), width);
    memcpy(text, slot, n);
    text[n] = '\0';
    return n;
}

// The length of a value text from TraceFormat's result (never past the room).
size_t Length(int n) { return n < 0 ? 0 : static_cast<size_t>(n) < kValueText ? static_cast<size_t>(n) : kValueText - 1; }

// --- The common case of an item list, composed at full speed ----------------

// Room one line of a numeric item needs at most: "        " and an index of
// up to ten digits and ":", a value of up to 16 characters, "," and CR LF.
constexpr size_t kNumericLineBound = 8 + 10 + 1 + 16 + 3;

// "        %3d:" at `o`; one past it.
inline char* PutItemLineStart(char* o, TW_UINT32 index) {
    memcpy(o, "        ", 8);
    o += 8;
    if (index < 1000) {
        memcpy(o, trace_compile::kBlankPadded3.at[index], 3);
        o += 3;
    } else {
        o = trace_compile::PutDecimal(o, index, trace_compile::DecimalLength(index));
    }
    *o = ':';
    return o + 1;
}

// "0x%02x" of `v`.
inline char* PutHex2(char* o, uint32_t v) {
    static const char kHex[] = "0123456789abcdef";
    *o++ = '0';
    *o++ = 'x';
    int digits = 2;
    while (digits < 8 && (v >> (4 * digits)) != 0) ++digits;
    for (int d = digits - 1; d >= 0; --d) *o++ = kHex[(v >> (4 * d)) & 0xFu];
    return o;
}

// "%d" of `v`.
inline char* PutSigned(char* o, int32_t v) {
    uint32_t m = static_cast<uint32_t>(v);
    if (v < 0) {
        *o++ = '-';
        m = 0u - m;
    }
    return trace_compile::PutDecimal(o, m, trace_compile::DecimalLength(m));
}

// The value text of one numeric item at `from`, as ValToStr writes it.
template <TW_UINT16 Type>
inline char* PutNumeric(char* o, const unsigned char* from) {
    if constexpr (Type == TWTY_FIX32) {
        const TW_FIX32 f = CopyIn<TW_FIX32>(from);
        const int32_t units = static_cast<int32_t>(f.Whole) * 65536 + f.Frac;
        const bool negative = units < 0;
        return trace_compile::PutFix3Units(o, negative ? 0u - static_cast<uint32_t>(units) : units, negative);
    } else if constexpr (Type == TWTY_INT8) {
        return PutHex2(o, static_cast<uint32_t>(static_cast<int32_t>(CopyIn<TW_INT8>(from))));
    } else if constexpr (Type == TWTY_UINT8) {
        return PutHex2(o, CopyIn<TW_UINT8>(from));
    } else if constexpr (Type == TWTY_INT16) {
        return PutSigned(o, CopyIn<TW_INT16>(from));
    } else if constexpr (Type == TWTY_INT32) {
        return PutSigned(o, CopyIn<TW_INT32>(from));
    } else if constexpr (Type == TWTY_UINT32) {
        return PutSigned(o, static_cast<int32_t>(CopyIn<TW_UINT32>(from)));
    } else {
        static_assert(Type == TWTY_BOOL, "a numeric item type");
        const char* t = BoolText(CopyIn<TW_BOOL>(from));
        const size_t n = t[0] == 't' ? 4 : 5;
        memcpy(o, t, n);
        return o + n;
    }
}

// The value text of one item of a numeric type at `o`, one past it; null
// for any other type.
char* PutNumericItem(TW_UINT16 type, char* o, const unsigned char* from) {
    switch (type) {
        case TWTY_FIX32: return PutNumeric<TWTY_FIX32>(o, from);
        case TWTY_INT8: return PutNumeric<TWTY_INT8>(o, from);
        case TWTY_UINT8: return PutNumeric<TWTY_UINT8>(o, from);
        case TWTY_INT16: return PutNumeric<TWTY_INT16>(o, from);
        case TWTY_INT32: return PutNumeric<TWTY_INT32>(o, from);
        case TWTY_UINT32: return PutNumeric<TWTY_UINT32>(o, from);
        case TWTY_BOOL: return PutNumeric<TWTY_BOOL>(o, from);
        default: return nullptr;
    }
}

// The lines of the first items of a list of `total` items of one numeric
// type at `items`, `count` of them known readable, while a line surely fits
// in [o, limit); one past the last line written, the items listed in `*next`.
template <TW_UINT16 Type>
char* PutNumericLines(char* o, const char* limit, const unsigned char* items, TW_UINT32 count,
                      TW_UINT32 total, TW_UINT32* next) {
    constexpr size_t width = TwainItemSize(Type);
    TW_UINT32 i = 0;
    for (; i < count && limit - o >= static_cast<ptrdiff_t>(kNumericLineBound); ++i) {
        o = PutItemLineStart(o, i);
        o = PutNumeric<Type>(o, items + static_cast<size_t>(i) * width);
        if (i + 1 != total) *o++ = ',';
        o[0] = '\r';
        o[1] = '\n';
        o += 2;
    }
    *next = i;
    return o;
}

}  // namespace

// The lines of a list of numeric items whose bytes are known readable,
// straight into the log text while a line surely fits: the common case,
// without the per-item checks of MakeItemList's own loop, which lists the
// rest (if any) with the same bytes. Returns the items listed.
TW_UINT32 CParaAnalyze::FastItemLines(TW_UINT16 itemType, const unsigned char* items, TW_UINT32 numItems,
                                      size_t most, ForeignReader& in) {
    const size_t width = TwainItemSize(itemType);
    if (s_bRenderByLibrary || !items || width == 0 || !m_pOutput) return 0;
    const size_t readable = in.Readable(items, most * width) / width;
    // The list's own loop writes the refusal note before its first item.
    if (in.Refused()) return 0;
    const TW_UINT32 count = static_cast<TW_UINT32>(readable < numItems ? readable : numItems);
    char* o = m_pOutput + m_nOutputLen;
    const char* limit = m_pOutput + m_nOutputSize;
    TW_UINT32 done = 0;
    switch (itemType) {
        case TWTY_FIX32: o = PutNumericLines<TWTY_FIX32>(o, limit, items, count, numItems, &done); break;
        case TWTY_INT8: o = PutNumericLines<TWTY_INT8>(o, limit, items, count, numItems, &done); break;
        case TWTY_UINT8: o = PutNumericLines<TWTY_UINT8>(o, limit, items, count, numItems, &done); break;
        case TWTY_INT16: o = PutNumericLines<TWTY_INT16>(o, limit, items, count, numItems, &done); break;
        case TWTY_INT32: o = PutNumericLines<TWTY_INT32>(o, limit, items, count, numItems, &done); break;
        case TWTY_UINT32: o = PutNumericLines<TWTY_UINT32>(o, limit, items, count, numItems, &done); break;
        case TWTY_BOOL: o = PutNumericLines<TWTY_BOOL>(o, limit, items, count, numItems, &done); break;
        default: return 0;
    }
    *o = '\0';
    m_nOutputLen = static_cast<size_t>(o - m_pOutput);
    return done;
}

// Renders one item. `value` points to the item (for single values and
// ranges: to the 32-bit container field); what is read is the item's width
// and no more: 1, 2, 4 or 16 bytes, a text up to its NUL within its slot.
// `text` must hold at least 257 bytes.
size_t CParaAnalyze::ValToStr(TW_UINT16 cap, TW_UINT16 itemType, const void* value, char* text) {
    if (!text) return 0;
    text[0] = '\0';
    if (!value) return 0;
    // Numbers are composed directly; the printf-style formats below render
    // them only when the library renders (the oracle the tests compare with).
    if (!s_bRenderByLibrary) {
        if (char* end = PutNumericItem(itemType, text, static_cast<const unsigned char*>(value))) {
            *end = '\0';
            return static_cast<size_t>(end - text);
        }
    }
    switch (itemType) {
        case TWTY_INT8: {
            // Widened with its sign: 0xFF prints as 0xffffffff.
            const int32_t v = CopyIn<TW_INT8>(value);
            return Length(TraceFormat(text, kValueText, "0x%02x", static_cast<unsigned>(v)));
        }
        case TWTY_INT16:
            return Length(TraceFormat(text, kValueText, "%d", CopyIn<TW_INT16>(value)));
        case TWTY_INT32:
            return Length(TraceFormat(text, kValueText, "%d", CopyIn<TW_INT32>(value)));
        case TWTY_UINT8:
            return Length(TraceFormat(text, kValueText, "0x%02x", static_cast<unsigned>(CopyIn<TW_UINT8>(value))));
        case TWTY_UINT16:
            ValToCap(cap, CopyIn<TW_UINT16>(value), text);
            return strlen(text);
        case TWTY_UINT32:
            // Printed as signed: 0xFFFFFFFF is -1.
            return Length(TraceFormat(text, kValueText, "%d", static_cast<int32_t>(CopyIn<TW_UINT32>(value))));
        case TWTY_BOOL:
            return Length(TraceFormat(text, kValueText, "%s", BoolText(CopyIn<TW_BOOL>(value))));
        case TWTY_FIX32:
            return Length(TraceFormat(text, kValueText, "%.3f", Fix32ToDouble(CopyIn<TW_FIX32>(value))));
        case TWTY_FRAME: {
            const TW_FRAME frame = CopyIn<TW_FRAME>(value);
            const TW_FIX32 left = frame.Left, top = frame.Top, right = frame.Right,
                           bottom = frame.Bottom;
            return Length(TraceFormat(text, kValueText, "%.3f,%.3f,%.3f,%.3f", Fix32ToDouble(left),
                     Fix32ToDouble(top), Fix32ToDouble(right), Fix32ToDouble(bottom)));
        }
        case TWTY_STR32:
        case TWTY_STR64:
        case TWTY_STR128:
        case TWTY_STR255:
            return SlotText(value, TwainItemSize(itemType), text);
        default:
            // A type this trace does not know: the 32-bit container field.
            return Length(TraceFormat(text, kValueText, "%d", CopyIn<TW_INT32>(value)));
    }
}

void CParaAnalyze::ValToCap(TW_UINT16 cap, TW_UINT16 value, char* text) {
    if (!text) return;
    const TwValToCapRow* rows;
    size_t count;
    if (cap > 0x8000) {
        if (cap == CAP_NV_VERSION) {
            MakeCapNvVersion(value, text);
            return;
        }
        rows = VALTOCAPNV;
        count = sizeof VALTOCAPNV / sizeof VALTOCAPNV[0];
    } else {
        if (cap == CAP_SUPPORTEDCAPS) {
            MakeCapSupportedCaps(value, text);
            return;
        }
        rows = VALTOCAP;
        count = sizeof VALTOCAP / sizeof VALTOCAP[0];
    }
    for (size_t i = 0; i < count && rows[i].cap != 0xFFFFFFFFu; ++i) {
        if (rows[i].cap != cap) continue;
        ValToName(rows[i].table, rows[i].rows, value, m_szName);
        const size_t len = strnlen(m_szName, kNameSize - 1);
        memcpy(text, m_szName, len);
        text[len] = '\0';
        return;
    }
    // No value table: the number.
    TraceFormat(text, kNameSize, "%d", static_cast<int>(value));
}

void CParaAnalyze::MakeCapSupportedCaps(TW_UINT16 capId, char* text) {
    if (!text) return;
    char name[kNameSize] = {};
    if (capId != 0) CapToName(capId, name);
    memcpy(text, name, strlen(name) + 1);
}

void CParaAnalyze::MakeCapNvVersion(TW_UINT16 version, char* text) {
    if (!text) return;
    snprintf(text, kNameSize, "%x.%x", static_cast<unsigned>(version >> 8),
             static_cast<unsigned>(version & 0xFFu));
}

// Appends the item list of `numItems` items of `itemType` starting at
// `items`, of which `itemBytes` bytes may be read (SIZE_MAX: as many as the
// count says). Only whole items inside those bytes are listed; the list also
// ends as soon as the log text buffer is full, and at the first item that
// lies in memory that cannot be read, with a note. The items are read
// through `reader` (the container's), or one of the list's own that takes
// the page of the first item as readable.
void CParaAnalyze::MakeItemList(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 numItems,
                                const void* items, size_t itemBytes, ForeignReader* reader) {
    char line[2048];
    // One item's bytes, copied out of the container (a text: up to its NUL).
    unsigned char slot[kSlotBytes + 1];
    ForeignReader own(items, itemBytes);
    ForeignReader& in = reader ? *reader : own;

    AppendF("      ItemList = {%s", CRLF);
    const size_t width = TwainItemSize(itemType);
    const bool listed = width != 0 && itemType != TWTY_FRAME;
    const size_t inBlock = width == 0 ? SIZE_MAX : itemBytes / width;
    const unsigned char* item = static_cast<const unsigned char*>(items);
    // At most one item per 14 bytes of log text is ever listed.
    const size_t most = numItems < kLogTextSize / 14 + 1 ? numItems : kLogTextSize / 14 + 1;
    if (listed) in.Expect(item, most * width);

    TW_UINT32 i = listed ? FastItemLines(itemType, item, numItems, most < inBlock ? most : inBlock, in) : 0;
    for (; i < numItems; ++i) {
        if (OutputFull() || i >= inBlock) break;
        if (listed) {
            if (!item) break;
            const unsigned char* from = item + static_cast<size_t>(i) * width;
            const size_t readable = in.Readable(from, width);
            if (in.TakeRefusalNote()) AppendF(kUncheckedItemNote, CRLF);
            if (readable < width) {
                if (in.HitUnreadable()) AppendF(kListCutNote, static_cast<unsigned long>(i), CRLF);
                break;
            }
            size_t bytes = width;
            if (IsTextType(itemType)) bytes = strnlen(reinterpret_cast<const char*>(from), width);
            CopyItem(slot, from, bytes);
            slot[bytes] = 0;
        }
        // The line goes straight into the log text where it surely fits,
        // else through `line` and a bounded append.
        const bool direct = m_nOutputSize - m_nOutputLen >= kItemLineBound;
        char* to = direct ? m_pOutput + m_nOutputLen : line;
        size_t n = static_cast<size_t>(PutItemLineStart(to, i) - to);
        char* value = to + n;
        if (listed) {
            n += ValToStr(cap, itemType, slot, value);
        } else {
            memcpy(value, kNotImplemented, sizeof kNotImplemented);
            n += sizeof kNotImplemented - 1;
        }
        if (i + 1 != numItems) to[n++] = ',';
        to[n++] = '\r';
        to[n++] = '\n';
        if (direct) {
            m_nOutputLen += n;
            m_pOutput[m_nOutputLen] = '\0';
        } else {
            Append(line, n);
        }
    }
    AppendF("      }%s", CRLF);
}
