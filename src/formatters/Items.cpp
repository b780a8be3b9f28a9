// Item values: one typed item, a capability's TW_UINT16 value, and the item
// list of an array or enumeration.
//
// Every item is copied out of the container before it is printed, and the
// copy never takes more than the item's own width (a text item: up to its
// NUL and never past its slot), nor more than the caller says the container
// holds. An item list stops as soon as the log text buffer is full, so a
// count of four billion costs no more than one full buffer.
#include "formatters/Formatters.h"
#include "platform/ForeignReader.h"

namespace {

// Widest item a list holds: a TW_STR255 slot.
constexpr size_t kSlotBytes = sizeof(TW_STR255);

const char kNotImplemented[] = "!!! not implemented.!!!";

bool IsTextType(TW_UINT16 type) { return type >= TWTY_STR32 && type <= TWTY_STR255; }

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

// One line of an item list of a numeric type: its index, the value of the
// item at `from`, "," unless it is the last, CR LF.
template <TW_UINT16 Type>
inline void NumericLine(TextOut& out, int i, const unsigned char* from, bool last) {
    if constexpr (Type == TWTY_FIX32) {
        const double v = Fix(CopyIn<TW_FIX32>(from));
        if (last) TRACE_APPEND(out, "        %3d:%.3f\r\n", i, v);
        else TRACE_APPEND(out, "        %3d:%.3f,\r\n", i, v);
    } else if constexpr (Type == TWTY_INT8 || Type == TWTY_UINT8) {
        // A TW_INT8 is widened with its sign: 0xFF prints as 0xffffffff.
        const unsigned v = Type == TWTY_INT8 ? static_cast<unsigned>(Signed(CopyIn<TW_INT8>(from))) : from[0];
        if (last) TRACE_APPEND(out, "        %3d:0x%02x\r\n", i, v);
        else TRACE_APPEND(out, "        %3d:0x%02x,\r\n", i, v);
    } else if constexpr (Type == TWTY_BOOL) {
        const char* v = Bool(CopyIn<TW_BOOL>(from));
        if (last) TRACE_APPEND(out, "        %3d:%s\r\n", i, v);
        else TRACE_APPEND(out, "        %3d:%s,\r\n", i, v);
    } else {
        // A TW_UINT32 prints as signed: 0xFFFFFFFF is -1.
        const int v = Type == TWTY_INT16 ? CopyIn<TW_INT16>(from)
                      : Type == TWTY_INT32 ? CopyIn<TW_INT32>(from)
                                           : Signed(CopyIn<TW_UINT32>(from));
        if (last) TRACE_APPEND(out, "        %3d:%d\r\n", i, v);
        else TRACE_APPEND(out, "        %3d:%d,\r\n", i, v);
    }
}

// The state of one item list as its lines are written.
struct ListWalk {
    TextOut& out;
    ForeignReader& in;
    const unsigned char* items;
    size_t width;
    TW_UINT32 count;    // NumItems
    size_t inBlock;     // whole items the block holds
    TW_UINT32 next = 0;  // the next item's number

    // The item `next` when it may be listed and its bytes read, else null
    // (the list ends; a note says why where it must).
    __attribute__((always_inline)) const unsigned char* Next() {
        if (next >= count || out.Full() || !out.HasBuffer() || next >= inBlock || !items) return nullptr;
        const unsigned char* from = items + static_cast<size_t>(next) * width;
        const size_t readable = in.Readable(from, width);
        if (in.TakeRefusalNote()) TRACE_APPEND(out, kUncheckedItemNote, CRLF);
        if (readable < width) {
            if (in.HitUnreadable()) TRACE_APPEND(out, kListCutNote, static_cast<unsigned long>(next), CRLF);
            return nullptr;
        }
        return from;
    }
};

template <TW_UINT16 Type>
void NumericLines(ListWalk& w) {
    for (; const unsigned char* from = w.Next(); ++w.next)
        NumericLine<Type>(w.out, static_cast<int>(w.next), from, w.next + 1 == w.count);
}

// The lines of the items of any other type, each copied out first (a text:
// up to its NUL within its slot).
void OtherLines(ListWalk& w, TW_UINT16 cap, TW_UINT16 type) {
    unsigned char slot[kSlotBytes + 1];
    char value[kSlotBytes + 1];
    for (; const unsigned char* from = w.Next(); ++w.next) {
        size_t bytes = w.width;
        if (IsTextType(type)) bytes = strnlen(reinterpret_cast<const char*>(from), w.width);
        CopyItem(slot, from, bytes);
        slot[bytes] = 0;
        ValueText(cap, type, slot, value);
        TRACE_APPEND(w.out, "        %3d:%s%s", static_cast<int>(w.next), value, w.next + 1 == w.count ? "\r\n" : ",\r\n");
    }
}

// After the items of a known block: a text item the block cuts off (what
// the block holds of it, and a note when its text has no end there), then a
// note when the list claims more items than were printed. Nothing when the
// list stopped for another reason (a full log text, unreadable memory).
void NoteWhatTheBlockLacks(ListWalk& w, TW_UINT16 cap, TW_UINT16 type, size_t itemBytes) {
    const size_t held = itemBytes / w.width;
    if (w.count <= held || w.next != held || w.out.Full() || !w.out.HasBuffer() || !w.items) return;
    size_t shown = held;
    const size_t rest = itemBytes % w.width;
    if (IsTextType(type) && rest) {
        const unsigned char* from = w.items + held * w.width;
        if (w.in.Readable(from, rest) == rest) {
            const size_t n = strnlen(reinterpret_cast<const char*>(from), rest);
            unsigned char slot[kSlotBytes + 1] = {};
            memcpy(slot, from, n);
            char value[kSlotBytes + 1];
            ValueText(cap, type, slot, value);
            TRACE_APPEND(w.out, "        %3d:%s%s", static_cast<int>(held), value, held + 1 == w.count ? "\r\n" : ",\r\n");
            ++shown;
            if (n == rest) TRACE_APPEND(w.out, kNoEndNoteFormat, static_cast<unsigned long>(held), CRLF);
        }
    }
    if (w.count > shown)
        TRACE_APPEND(w.out, kCountNoteFormat, static_cast<unsigned long>(w.count), static_cast<unsigned long>(shown), CRLF);
}

}  // namespace

// Renders one item. `value` points to the item (for single values and
// ranges: to the 32-bit container field); what is read is the item's width
// and no more: 1, 2, 4 or 16 bytes, a text up to its NUL within its slot.
// `text` must hold at least 257 bytes.
size_t ValueText(TW_UINT16 cap, TW_UINT16 itemType, const void* value, char* text) {
    if (!text) return 0;
    text[0] = '\0';
    if (!value) return 0;
    constexpr size_t kRoom = kSlotBytes + 1;
    switch (itemType) {
        case TWTY_INT8:
            // Widened with its sign: 0xFF prints as 0xffffffff.
            return TRACE_FORMAT_TO(text, kRoom, "0x%02x", static_cast<unsigned>(Signed(CopyIn<TW_INT8>(value))));
        case TWTY_INT16: return TRACE_FORMAT_TO(text, kRoom, "%d", CopyIn<TW_INT16>(value));
        case TWTY_INT32: return TRACE_FORMAT_TO(text, kRoom, "%d", CopyIn<TW_INT32>(value));
        case TWTY_UINT8: return TRACE_FORMAT_TO(text, kRoom, "0x%02x", static_cast<unsigned>(CopyIn<TW_UINT8>(value)));
        case TWTY_UINT16:
            CapValueName(cap, CopyIn<TW_UINT16>(value), text);
            return strlen(text);
        // Printed as signed: 0xFFFFFFFF is -1.
        case TWTY_UINT32: return TRACE_FORMAT_TO(text, kRoom, "%d", Signed(CopyIn<TW_UINT32>(value)));
        case TWTY_BOOL: return TRACE_FORMAT_TO(text, kRoom, "%s", Bool(CopyIn<TW_BOOL>(value)));
        case TWTY_FIX32: return TRACE_FORMAT_TO(text, kRoom, "%.3f", Fix(CopyIn<TW_FIX32>(value)));
        case TWTY_FRAME: {
            const TW_FRAME frame = CopyIn<TW_FRAME>(value);
            return TRACE_FORMAT_TO(text, kRoom, "%.3f,%.3f,%.3f,%.3f", Fix(frame.Left), Fix(frame.Top),
                                   Fix(frame.Right), Fix(frame.Bottom));
        }
        case TWTY_STR32:
        case TWTY_STR64:
        case TWTY_STR128:
        case TWTY_STR255:
            return SlotText(value, TwainItemSize(itemType), text);
        default:
            // A type this trace does not know: the 32-bit container field.
            return TRACE_FORMAT_TO(text, kRoom, "%d", CopyIn<TW_INT32>(value));
    }
}

void CapValueName(TW_UINT16 cap, TW_UINT16 value, char* text) {
    if (!text) return;
    const TwValToCapRow* rows;
    size_t count;
    if (cap > 0x8000) {
        if (cap == CAP_NV_VERSION) {
            NvVersionText(value, text);
            return;
        }
        rows = VALTOCAPNV;
        count = sizeof VALTOCAPNV / sizeof VALTOCAPNV[0];
    } else {
        if (cap == CAP_SUPPORTEDCAPS) {
            SupportedCapName(value, text);
            return;
        }
        rows = VALTOCAP;
        count = sizeof VALTOCAP / sizeof VALTOCAP[0];
    }
    for (size_t i = 0; i < count && rows[i].cap != 0xFFFFFFFFu; ++i) {
        if (rows[i].cap != cap) continue;
        ValToName(rows[i].table, rows[i].rows, value, text);
        return;
    }
    // No value table: the number.
    TRACE_FORMAT_TO(text, kNameSize, "%d", static_cast<int>(value));
}

void SupportedCapName(TW_UINT16 capId, char* text) {
    if (!text) return;
    text[0] = '\0';
    if (capId != 0) CapToName(capId, text);
}

void NvVersionText(TW_UINT16 version, char* text) {
    if (!text) return;
    TRACE_FORMAT_TO(text, kNameSize, "%x.%x", static_cast<unsigned>(version >> 8), static_cast<unsigned>(version & 0xFFu));
}

// Appends the item list of `numItems` items of `itemType` starting at
// `items`, of which `itemBytes` bytes may be read (SIZE_MAX: as many as the
// count says). Only whole items inside those bytes are listed, then, where
// the bytes are known, what they hold of a text item they cut off, and a
// note when the count claims more (NoteWhatTheBlockLacks); the list also
// ends as soon as the log text buffer is full, and at the first item that
// lies in memory that cannot be read, with a note. The items are read
// through `reader` (the container's), or one of the list's own that takes
// the page of the first item as readable.
void ItemList(TextOut& out, TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 numItems, const void* items,
              size_t itemBytes, ForeignReader* reader) {
    ForeignReader own(items, itemBytes);
    ForeignReader& in = reader ? *reader : own;

    TRACE_APPEND(out, "      ItemList = {%s", CRLF);
    const size_t width = TwainItemSize(itemType);
    const unsigned char* item = static_cast<const unsigned char*>(items);
    ListWalk walk{out, in, item, width, numItems, width == 0 ? SIZE_MAX : itemBytes / width};
    if (width == 0 || itemType == TWTY_FRAME) {
        // Items this list does not show: a line each, nothing read.
        for (; walk.next < numItems && !out.Full() && out.HasBuffer() && walk.next < walk.inBlock; ++walk.next)
            TRACE_APPEND(out, "        %3d:%s%s", static_cast<int>(walk.next), kNotImplemented,
                         walk.next + 1 == numItems ? "\r\n" : ",\r\n");
    } else {
        // At most one item per 14 bytes of log text is ever listed.
        const size_t most = numItems < kLogTextSize / 14 + 1 ? numItems : kLogTextSize / 14 + 1;
        in.Expect(item, most * width);
        switch (itemType) {
            case TWTY_FIX32: NumericLines<TWTY_FIX32>(walk); break;
            case TWTY_INT8: NumericLines<TWTY_INT8>(walk); break;
            case TWTY_UINT8: NumericLines<TWTY_UINT8>(walk); break;
            case TWTY_INT16: NumericLines<TWTY_INT16>(walk); break;
            case TWTY_INT32: NumericLines<TWTY_INT32>(walk); break;
            case TWTY_UINT32: NumericLines<TWTY_UINT32>(walk); break;
            case TWTY_BOOL: NumericLines<TWTY_BOOL>(walk); break;
            default: OtherLines(walk, cap, itemType); break;
        }
    }
    if (itemBytes != SIZE_MAX && width != 0) NoteWhatTheBlockLacks(walk, cap, itemType, itemBytes);
    TRACE_APPEND(out, "      }%s", CRLF);
}
