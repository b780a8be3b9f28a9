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

#include "analyzer/ForeignReader.h"

namespace {

// Widest item a list holds: a TW_STR255 slot.
constexpr size_t kSlotBytes = sizeof(TW_STR255);
// Room ValToStr may fill: the longest text is a TW_STR255 of 255 characters.
constexpr size_t kValueText = kSlotBytes + 1;

const char kNotImplemented[] = "!!! not implemented.!!!";

bool IsTextType(TW_UINT16 type) { return type >= TWTY_STR32 && type <= TWTY_STR255; }

// The start of one line of an item list, "        %3d:", into `line`; its
// length. The value, "," unless the item is the last, and CR LF follow.
// Composed by hand rather than formatted: it runs once per item.
size_t ItemLineStart(TW_UINT32 index, char* line) {
    memcpy(line, "           ", 11);
    const size_t digits = trace_compile::DecimalLength(index);
    const size_t n = digits < 3 ? 11 : 8 + digits;
    trace_compile::PutDecimal(line + n - digits, index, digits);
    line[n] = ':';
    return n + 1;
}

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

}  // namespace

// Renders one item. `value` points to the item (for single values and
// ranges: to the 32-bit container field); what is read is the item's width
// and no more: 1, 2, 4 or 16 bytes, a text up to its NUL within its slot.
// `text` must hold at least 257 bytes.
size_t CParaAnalyze::ValToStr(TW_UINT16 cap, TW_UINT16 itemType, const void* value, char* text) {
    if (!text) return 0;
    text[0] = '\0';
    if (!value) return 0;
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
        case TWTY_FIX32: {
            const TW_FIX32 f = CopyIn<TW_FIX32>(value);
            if (s_bRenderByLibrary) return Length(TraceFormat(text, kValueText, "%.3f", Fix32ToDouble(f)));
            // "%.3f" of Whole + Frac / 65536 straight from the 65536ths,
            // the list's most common item.
            const int32_t units = static_cast<int32_t>(f.Whole) * 65536 + f.Frac;
            const bool negative = units < 0;
            char* end = trace_compile::PutFix3Units(text, negative ? 0u - static_cast<uint32_t>(units) : units, negative);
            *end = '\0';
            return static_cast<size_t>(end - text);
        }
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

    for (TW_UINT32 i = 0; i < numItems; ++i) {
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
        size_t n = ItemLineStart(i, to);
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
