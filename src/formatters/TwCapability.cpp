// Capability containers: TW_CAPABILITY and its one-value, enumeration,
// array or range container.
//
// The container is read through its locked handle. Each formatter is told
// how many bytes the block holds (SIZE_MAX where the handles of the layout
// being built cannot tell) and copies out only what lies inside: a block
// too small for the container's own fields is not dumped (where its size is
// known, a note says so), and an item list lists only the whole items the
// block holds (where its size is known, a note says when it claims more).
// Everything past the block's first page is read through a ForeignReader,
// so a block that ends before its fields or items do, where memory ends,
// is cut there instead of faulting.
#include <stdio.h>

#include "bounds/BlockTable.h"
#include "formatters/Formatters.h"
#include "platform/CDSMInterface.h"
#include "platform/ForeignReader.h"

namespace {

const unsigned char* Bytes(const void* p) { return static_cast<const unsigned char*>(p); }

// Bytes of a block left after its first `used` bytes (used <= block).
size_t Remaining(size_t block, size_t used) { return block == SIZE_MAX ? SIZE_MAX : block - used; }

// The fields of a container that come before its item list, copied out of
// the block; false when the block (or the readable memory) is too small to
// hold them.
template <class T>
bool CopyHead(ForeignReader& in, const void* p, size_t blockBytes, size_t headBytes, T& head) {
    if (!p || blockBytes < headBytes) return false;
    memset(&head, 0, sizeof head);
    return in.Copy(&head, p, headBytes) == headBytes;
}

// A container whose block is known to be too short for its own fields:
// its opening line, the note in place of its members, its closing line.
// False (nothing written) when the fields fit or the block's size is not
// known.
bool ShortHeader(TextOut& out, const char* type, size_t blockBytes, size_t headBytes) {
    if (blockBytes == SIZE_MAX || blockBytes >= headBytes) return false;
    TRACE_APPEND(out, "    %s = {%s", type, CRLF);
    TRACE_APPEND(out, kShortHeaderNoteFormat, static_cast<unsigned long>(blockBytes), CRLF);
    TRACE_APPEND(out, "    }%s", CRLF);
    return true;
}

// The once-per-log note that the reads of this container went unchecked.
void NoteUncheckedReads(TextOut& out, ForeignReader& in) {
    if (in.TakeRefusalNote()) TRACE_APPEND(out, kUncheckedNote, CRLF);
}

// Copies the item of a TW_ONEVALUE into `item` (zero-filled, a TW_STR255
// slot and its NUL): a frame's 16 bytes, a text up to its NUL within its
// slot, else the 32-bit Item field; never more than the `avail` bytes the
// block holds from Item on, nor past readable memory. True for a text
// that the block's known end cuts off before its NUL.
bool TakeOneValueItem(ForeignReader& in, TW_UINT16 type, const unsigned char* from, size_t avail,
                      unsigned char (&item)[sizeof(TW_STR255) + 1]) {
    size_t want = sizeof(TW_UINT32);
    bool text = false;
    switch (type) {
        case TWTY_FRAME: want = sizeof(TW_FRAME); break;
        case TWTY_STR32: want = sizeof(TW_STR32); text = true; break;
        case TWTY_STR64: want = sizeof(TW_STR64); text = true; break;
        case TWTY_STR128: want = sizeof(TW_STR128); text = true; break;
        case TWTY_STR255: want = sizeof(TW_STR255); text = true; break;
        default: break;
    }
    const size_t readable = in.Readable(from, want < avail ? want : avail);
    const size_t n = text ? strnlen(reinterpret_cast<const char*>(from), readable) : readable;
    memcpy(item, from, n);
    return text && avail != SIZE_MAX && avail < want && n == avail;
}

// TWQC_ flags by name, joined by "|", then any other bits in hexadecimal;
// "0x0" when no bit is set.
void QueryFlagsText(TW_UINT16 flags, char* out, size_t size) {
    if (flags == 0) {
        TRACE_FORMAT_TO(out, size, "0x0");
        return;
    }
    // Each piece is cut to the room left, so `len` never passes the buffer.
    size_t len = 0;
    out[0] = '\0';
    unsigned rest = flags;
    for (size_t i = 0; i + 1 < TableRows(twqc_macros); ++i) {
        const unsigned bit = static_cast<unsigned>(twqc_macros[i].value);
        if (!(rest & bit)) continue;
        rest &= ~bit;
        len += TRACE_FORMAT_TO(out + len, size - len, "%s%s", len ? "|" : "", twqc_macros[i].name);
    }
    if (rest) TRACE_FORMAT_TO(out + len, size - len, "%s0x%x", len ? "|" : "", rest);
}

}  // namespace

void DumpCapability(TextOut& out, const TW_CAPABILITY& cap, bool failed) {
    char szCap[kNameSize] = {};
    CapToName(cap.Cap, szCap);

    TRACE_APPEND(out, "  TW_CAPABILITY = {%s", CRLF);
    TRACE_APPEND(out, "    Cap        = [%s]%s", szCap, CRLF);
    TRACE_APPEND(out, "    ConType    = [%s]%s", Name(twon_macros, cap.ConType).c_str(), CRLF);
    TRACE_APPEND(out, "    hContainer = <0x%08x>%s", Handle(cap.hContainer), CRLF);
    // A failed call's container holds nothing the application may read.
    if (!failed) DumpContainer(out, cap);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpContainer(TextOut& out, const TW_CAPABILITY& cap) {
    if (!cap.hContainer) return;
    switch (cap.ConType) {
        case TWON_ARRAY:
        case TWON_ENUMERATION:
        case TWON_ONEVALUE:
        case TWON_RANGE:
            break;
        default:
            return;
    }
    // An empty block, or a handle the memory manager does not know (size
    // 0), holds nothing to read: it is neither locked nor read.
    const size_t block = tracelet::bounds::ContainerBytes(cap.hContainer);
    if (block == 0) return;

    const char* data = CDSMInterface::LockMemory(cap.hContainer);
    switch (cap.ConType) {
        case TWON_ARRAY:
            DumpArray(out, cap.Cap, reinterpret_cast<const TW_ARRAY*>(data), block);
            break;
        case TWON_ENUMERATION:
            DumpEnumeration(out, cap.Cap, reinterpret_cast<const TW_ENUMERATION*>(data), block);
            break;
        case TWON_ONEVALUE:
            DumpOneValue(out, cap.Cap, reinterpret_cast<const TW_ONEVALUE*>(data), block);
            break;
        case TWON_RANGE:
            DumpRange(out, cap.Cap, reinterpret_cast<const TW_RANGE*>(data), block);
            break;
    }
    CDSMInterface::UnlockMemory(cap.hContainer);
}

void DumpArray(TextOut& out, TW_UINT16 cap, const TW_ARRAY* a, size_t blockBytes) {
    constexpr size_t kHead = offsetof(TW_ARRAY, ItemList);
    TW_ARRAY head;
    if (!a || ShortHeader(out, "TW_ARRAY", blockBytes, kHead)) return;
    ForeignReader in(a, blockBytes);
    if (!CopyHead(in, a, blockBytes, kHead, head)) return;

    TRACE_APPEND(out, "    TW_ARRAY = {%s", CRLF);
    TRACE_APPEND(out, "      ItemType = [%s]%s", Name(twty_macros, head.ItemType).c_str(), CRLF);
    TRACE_APPEND(out, "      NumItems = [%lu]%s", Unsigned(head.NumItems), CRLF);
    ItemList(out, cap, head.ItemType, head.NumItems, Bytes(a) + kHead, Remaining(blockBytes, kHead), &in);
    NoteUncheckedReads(out, in);
    TRACE_APPEND(out, "    }%s", CRLF);
}

void DumpEnumeration(TextOut& out, TW_UINT16 cap, const TW_ENUMERATION* e, size_t blockBytes) {
    constexpr size_t kHead = offsetof(TW_ENUMERATION, ItemList);
    TW_ENUMERATION head;
    if (!e || ShortHeader(out, "TW_ENUMERATION", blockBytes, kHead)) return;
    ForeignReader in(e, blockBytes);
    if (!CopyHead(in, e, blockBytes, kHead, head)) return;

    TRACE_APPEND(out, "    TW_ENUMERATION = {%s", CRLF);
    TRACE_APPEND(out, "      ItemType     = [%s]%s", Name(twty_macros, head.ItemType).c_str(), CRLF);
    TRACE_APPEND(out, "      NumItems     = [%lu]%s", Unsigned(head.NumItems), CRLF);
    TRACE_APPEND(out, "      CurrentIndex = [%lu]%s", Unsigned(head.CurrentIndex), CRLF);
    TRACE_APPEND(out, "      DefaultIndex = [%lu]%s", Unsigned(head.DefaultIndex), CRLF);
    ItemList(out, cap, head.ItemType, head.NumItems, Bytes(e) + kHead, Remaining(blockBytes, kHead), &in);
    NoteUncheckedReads(out, in);
    TRACE_APPEND(out, "    }%s", CRLF);
}

void DumpOneValue(TextOut& out, TW_UINT16 cap, const TW_ONEVALUE* o, size_t blockBytes) {
    TW_ONEVALUE one;
    if (!o || ShortHeader(out, "TW_ONEVALUE", blockBytes, sizeof one)) return;
    ForeignReader in(o, blockBytes);
    if (!CopyHead(in, o, blockBytes, sizeof one, one)) return;
    // The item starts at Item whatever its type; a frame or a text runs on
    // past the structure, as far as the block goes.
    unsigned char item[sizeof(TW_STR255) + 1] = {};
    constexpr size_t kItem = offsetof(TW_ONEVALUE, Item);
    const bool noEnd = TakeOneValueItem(in, one.ItemType, Bytes(o) + kItem, Remaining(blockBytes, kItem), item);
    char value[512] = {};

    TRACE_APPEND(out, "    TW_ONEVALUE = {%s", CRLF);
    TRACE_APPEND(out, "      ItemType = [%s]%s", Name(twty_macros, one.ItemType).c_str(), CRLF);
    ValueText(cap, one.ItemType, item, value);
    TRACE_APPEND(out, "      Item     = [%s]%s", value, CRLF);
    if (noEnd) TRACE_APPEND(out, kNoEndNoteFormat, 0ul, CRLF);
    NoteUncheckedReads(out, in);
    TRACE_APPEND(out, "    }%s", CRLF);
}

void DumpRange(TextOut& out, TW_UINT16 cap, const TW_RANGE* r, size_t blockBytes) {
    // The range, then zero bytes: a frame or a text read from one of its
    // fields sees the fields after it, then zeros, never what follows the
    // structure.
    unsigned char copy[sizeof(TW_RANGE) + sizeof(TW_STR255)] = {};
    TW_RANGE range;
    if (!r || ShortHeader(out, "TW_RANGE", blockBytes, sizeof range)) return;
    ForeignReader in(r, blockBytes);
    if (!CopyHead(in, r, blockBytes, sizeof range, range)) return;
    memcpy(copy, &range, sizeof range);

    char value[512] = {};
    auto field = [&](size_t offset) {
        ValueText(cap, range.ItemType, copy + offset, value);
        return value;
    };
    TRACE_APPEND(out, "    TW_RANGE = {%s", CRLF);
    TRACE_APPEND(out, "      ItemType     = [%s]%s", Name(twty_macros, range.ItemType).c_str(), CRLF);
    TRACE_APPEND(out, "      MinValue     = [%s]%s", field(offsetof(TW_RANGE, MinValue)), CRLF);
    TRACE_APPEND(out, "      MaxValue     = [%s]%s", field(offsetof(TW_RANGE, MaxValue)), CRLF);
    TRACE_APPEND(out, "      StepSize     = [%s]%s", field(offsetof(TW_RANGE, StepSize)), CRLF);
    TRACE_APPEND(out, "      DefaultValue = [%s]%s", field(offsetof(TW_RANGE, DefaultValue)), CRLF);
    TRACE_APPEND(out, "      CurrentValue = [%s]%s", field(offsetof(TW_RANGE, CurrentValue)), CRLF);
    NoteUncheckedReads(out, in);
    TRACE_APPEND(out, "    }%s", CRLF);
}

void DumpCapExt(TextOut& out, const TW_CAPEXT& ext) {
    char szCap[kNameSize] = {};
    CapToName(ext.Cap, szCap);
    char szProperties[128] = {};
    QueryFlagsText(ext.Properties, szProperties, sizeof szProperties);

    TRACE_APPEND(out, "  TW_CAPEXT = {%s", CRLF);
    TRACE_APPEND(out, "    Cap        = [%s]%s", szCap, CRLF);
    TRACE_APPEND(out, "    Properties = [%s]%s", szProperties, CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}
