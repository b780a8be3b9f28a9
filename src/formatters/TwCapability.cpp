// Capability containers: TW_CAPABILITY and its one-value, enumeration,
// array or range container.
//
// The container is read through its locked handle. Each formatter is told
// how many bytes the block holds (SIZE_MAX where the handles of the layout
// being built cannot tell) and copies out only what lies inside: a block
// too small for the container's own fields is not dumped, and an item list
// lists only the whole items the block holds. Everything past the block's
// first page is read through a ForeignReader, so a block that ends before
// its fields or items do, where memory ends, is cut there instead of
// faulting.
#include <stdio.h>

#include "platform/ForeignReader.h"
#include "analyzer/ParaAnalyze.h"
#include "platform/CDSMInterface.h"

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

// The once-per-log note that the reads of this container went unchecked.
void NoteUncheckedReads(CParaAnalyze& a, ForeignReader& in) {
    if (in.TakeRefusalNote()) a.AppendF(kUncheckedNote, CRLF);
}

// Copies the item of a TW_ONEVALUE into `item` (zero-filled, a TW_STR255
// slot and its NUL): a frame's 16 bytes, a text up to its NUL within its
// slot, else the 32-bit Item field; never more than the `avail` bytes the
// block holds from Item on, nor past readable memory.
void TakeOneValueItem(ForeignReader& in, TW_UINT16 type, const unsigned char* from, size_t avail,
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
    size_t n = in.Readable(from, want < avail ? want : avail);
    if (text) n = strnlen(reinterpret_cast<const char*>(from), n);
    memcpy(item, from, n);
}

// TWQC_ flags by name, joined by "|", then any other bits in hexadecimal;
// "0x0" when no bit is set.
void QueryFlagsText(TW_UINT16 flags, char* out, size_t size) {
    static const struct {
        TW_UINT16 bit;
        const char* name;
    } kFlags[] = {
        {TWQC_GET, "TWQC_GET"},
        {TWQC_SET, "TWQC_SET"},
        {TWQC_GETDEFAULT, "TWQC_GETDEFAULT"},
        {TWQC_GETCURRENT, "TWQC_GETCURRENT"},
        {TWQC_RESET, "TWQC_RESET"},
    };
    if (flags == 0) {
        snprintf(out, size, "0x0");
        return;
    }
    size_t len = 0;
    out[0] = '\0';
    unsigned rest = flags;
    for (const auto& f : kFlags) {
        if (!(rest & f.bit)) continue;
        rest &= ~static_cast<unsigned>(f.bit);
        len += static_cast<size_t>(snprintf(out + len, size - len, "%s%s", len ? "|" : "", f.name));
    }
    if (rest) snprintf(out + len, size - len, "%s0x%x", len ? "|" : "", rest);
}

}  // namespace

bool CParaAnalyze::TwCapabilityAnalyze(const TW_CAPABILITY* p) {
    if (!p) return true;
    const TW_CAPABILITY cap = CopyIn<TW_CAPABILITY>(p);
    char szCap[kNameSize] = {};
    CapToName(cap.Cap, szCap);

    AppendF("  TW_CAPABILITY = {%s", CRLF);
    AppendF("    Cap        = [%s]%s", szCap, CRLF);
    AppendF("    ConType    = [%s]%s", Name(twon_macros, cap.ConType), CRLF);
    AppendF("    hContainer = <0x%08x>%s", Low32(cap.hContainer), CRLF);
    // A failed call's container holds nothing the application may read.
    if (m_RC != TWRC_FAILURE) TwContainerAnalyaze(p);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwContainerAnalyaze(const TW_CAPABILITY* p) {
    if (!p) return true;
    const TW_CAPABILITY cap = CopyIn<TW_CAPABILITY>(p);
    if (!cap.hContainer) return true;
    switch (cap.ConType) {
        case TWON_ARRAY:
        case TWON_ENUMERATION:
        case TWON_ONEVALUE:
        case TWON_RANGE:
            break;
        default:
            return true;
    }
    // An empty block, or a handle the memory manager does not know (size
    // 0), holds nothing to read: it is neither locked nor read.
    const size_t block = CDSMInterface::BlockSize(cap.hContainer);
    if (block == 0) return true;

    const char* data = CDSMInterface::LockMemory(cap.hContainer);
    switch (cap.ConType) {
        case TWON_ARRAY:
            TwArrayAnalyze(cap.Cap, reinterpret_cast<const TW_ARRAY*>(data), block);
            break;
        case TWON_ENUMERATION:
            TwEnumerationAnalyze(cap.Cap, reinterpret_cast<const TW_ENUMERATION*>(data), block);
            break;
        case TWON_ONEVALUE:
            TwOneValueAnalyze(cap.Cap, reinterpret_cast<const TW_ONEVALUE*>(data), block);
            break;
        case TWON_RANGE:
            TwRangeAnalyze(cap.Cap, reinterpret_cast<const TW_RANGE*>(data), block);
            break;
    }
    CDSMInterface::UnlockMemory(cap.hContainer);
    return true;
}

bool CParaAnalyze::TwArrayAnalyze(TW_UINT16 cap, const TW_ARRAY* a, size_t blockBytes) {
    constexpr size_t kHead = offsetof(TW_ARRAY, ItemList);
    TW_ARRAY head;
    ForeignReader in(a, blockBytes);
    if (!CopyHead(in, a, blockBytes, kHead, head)) return true;

    AppendF("    TW_ARRAY = {%s", CRLF);
    AppendF("      ItemType = [%s]%s", Name(twty_macros, head.ItemType), CRLF);
    AppendF("      NumItems = [%lu]%s", static_cast<unsigned long>(head.NumItems), CRLF);
    MakeItemList(cap, head.ItemType, head.NumItems, Bytes(a) + kHead, Remaining(blockBytes, kHead), &in);
    NoteUncheckedReads(*this, in);
    AppendF("    }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwEnumerationAnalyze(TW_UINT16 cap, const TW_ENUMERATION* e, size_t blockBytes) {
    constexpr size_t kHead = offsetof(TW_ENUMERATION, ItemList);
    TW_ENUMERATION head;
    ForeignReader in(e, blockBytes);
    if (!CopyHead(in, e, blockBytes, kHead, head)) return true;

    AppendF("    TW_ENUMERATION = {%s", CRLF);
    AppendF("      ItemType     = [%s]%s", Name(twty_macros, head.ItemType), CRLF);
    AppendF("      NumItems     = [%lu]%s", static_cast<unsigned long>(head.NumItems), CRLF);
    AppendF("      CurrentIndex = [%lu]%s", static_cast<unsigned long>(head.CurrentIndex), CRLF);
    AppendF("      DefaultIndex = [%lu]%s", static_cast<unsigned long>(head.DefaultIndex), CRLF);
    MakeItemList(cap, head.ItemType, head.NumItems, Bytes(e) + kHead, Remaining(blockBytes, kHead), &in);
    NoteUncheckedReads(*this, in);
    AppendF("    }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwOneValueAnalyze(TW_UINT16 cap, const TW_ONEVALUE* o, size_t blockBytes) {
    TW_ONEVALUE one;
    ForeignReader in(o, blockBytes);
    if (!CopyHead(in, o, blockBytes, sizeof one, one)) return true;
    // The item starts at Item whatever its type; a frame or a text runs on
    // past the structure, as far as the block goes.
    unsigned char item[sizeof(TW_STR255) + 1] = {};
    constexpr size_t kItem = offsetof(TW_ONEVALUE, Item);
    TakeOneValueItem(in, one.ItemType, Bytes(o) + kItem, Remaining(blockBytes, kItem), item);
    char value[512] = {};

    AppendF("    TW_ONEVALUE = {%s", CRLF);
    AppendF("      ItemType = [%s]%s", Name(twty_macros, one.ItemType), CRLF);
    ValToStr(cap, one.ItemType, item, value);
    AppendF("      Item     = [%s]%s", value, CRLF);
    NoteUncheckedReads(*this, in);
    AppendF("    }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwRangeAnalyze(TW_UINT16 cap, const TW_RANGE* r, size_t blockBytes) {
    // The range, then zero bytes: a frame or a text read from one of its
    // fields sees the fields after it, then zeros, never what follows the
    // structure.
    unsigned char copy[sizeof(TW_RANGE) + sizeof(TW_STR255)] = {};
    TW_RANGE range;
    ForeignReader in(r, blockBytes);
    if (!CopyHead(in, r, blockBytes, sizeof range, range)) return true;
    memcpy(copy, &range, sizeof range);

    char value[512] = {};
    auto field = [&](size_t offset) {
        ValToStr(cap, range.ItemType, copy + offset, value);
        return value;
    };
    AppendF("    TW_RANGE = {%s", CRLF);
    AppendF("      ItemType     = [%s]%s", Name(twty_macros, range.ItemType), CRLF);
    AppendF("      MinValue     = [%s]%s", field(offsetof(TW_RANGE, MinValue)), CRLF);
    AppendF("      MaxValue     = [%s]%s", field(offsetof(TW_RANGE, MaxValue)), CRLF);
    AppendF("      StepSize     = [%s]%s", field(offsetof(TW_RANGE, StepSize)), CRLF);
    AppendF("      DefaultValue = [%s]%s", field(offsetof(TW_RANGE, DefaultValue)), CRLF);
    AppendF("      CurrentValue = [%s]%s", field(offsetof(TW_RANGE, CurrentValue)), CRLF);
    NoteUncheckedReads(*this, in);
    AppendF("    }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwCapExtAnalyze(const TW_CAPEXT* x) {
    if (!x) return true;
    const TW_CAPEXT ext = CopyIn<TW_CAPEXT>(x);
    char szCap[kNameSize] = {};
    CapToName(ext.Cap, szCap);
    char szProperties[128] = {};
    QueryFlagsText(ext.Properties, szProperties, sizeof szProperties);

    AppendF("  TW_CAPEXT = {%s", CRLF);
    AppendF("    Cap        = [%s]%s", szCap, CRLF);
    AppendF("    Properties = [%s]%s", szProperties, CRLF);
    AppendF("  }%s", CRLF);
    return true;
}
