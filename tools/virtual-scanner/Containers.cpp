#include "Containers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tracelet/twain_memory.h"

namespace vscan {

CapItem CapItem::Number(std::int64_t value) {
    CapItem item;
    item.word = static_cast<std::uint32_t>(value);
    return item;
}

CapItem CapItem::Fix(double value) {
    const std::int32_t scaled = static_cast<std::int32_t>(std::lround(value * 65536.0));
    TW_FIX32 fix;
    fix.Whole = static_cast<TW_INT16>(scaled >> 16);
    fix.Frac = static_cast<TW_UINT16>(scaled & 0xffff);
    CapItem item;
    std::memcpy(&item.word, &fix, sizeof fix);
    return item;
}

CapItem CapItem::Frame(const TW_FRAME& frame) {
    CapItem item;
    item.frame = frame;
    return item;
}

std::size_t ItemSize(TW_UINT16 itemType) {
    // The scanner keeps numbers and frames; it has no text items.
    const std::size_t size = TwainItemSize(itemType);
    return size <= sizeof(TW_FRAME) ? size : 0;
}

std::int32_t ItemAsInt(TW_UINT16 itemType, const CapItem& item) {
    switch (itemType) {
    case TWTY_INT8: return static_cast<std::int8_t>(item.word & 0xff);
    case TWTY_UINT8: return static_cast<std::int32_t>(item.word & 0xff);
    case TWTY_INT16: return static_cast<std::int16_t>(item.word & 0xffff);
    case TWTY_UINT16:
    case TWTY_BOOL: return static_cast<std::int32_t>(item.word & 0xffff);
    default: return static_cast<std::int32_t>(item.word);
    }
}

double ItemAsFix(const CapItem& item) {
    TW_FIX32 fix;
    std::memcpy(&fix, &item.word, sizeof fix);
    return fix.Whole + fix.Frac / 65536.0;
}

bool SameItem(TW_UINT16 itemType, const CapItem& a, const CapItem& b) {
    if (itemType == TWTY_FRAME) return std::memcmp(&a.frame, &b.frame, sizeof a.frame) == 0;
    return ItemAsInt(itemType, a) == ItemAsInt(itemType, b);
}

void WriteItem(TW_UINT16 itemType, const CapItem& item, unsigned char* dst) {
    if (itemType == TWTY_FRAME) {
        std::memcpy(dst, &item.frame, sizeof item.frame);
        return;
    }
    // Little-endian: the low bytes of the word are the item.
    std::memcpy(dst, &item.word, ItemSize(itemType));
}

CapItem ReadItem(TW_UINT16 itemType, const unsigned char* src) {
    CapItem item;
    if (itemType == TWTY_FRAME) {
        std::memcpy(&item.frame, src, sizeof item.frame);
        return item;
    }
    std::memcpy(&item.word, src, ItemSize(itemType));
    return item;
}

namespace {

void PutU16(unsigned char* base, std::size_t offset, TW_UINT16 v) { std::memcpy(base + offset, &v, sizeof v); }
void PutU32(unsigned char* base, std::size_t offset, TW_UINT32 v) { std::memcpy(base + offset, &v, sizeof v); }
TW_UINT16 GetU16(const unsigned char* base, std::size_t offset) {
    TW_UINT16 v;
    std::memcpy(&v, base + offset, sizeof v);
    return v;
}
TW_UINT32 GetU32(const unsigned char* base, std::size_t offset) {
    TW_UINT32 v;
    std::memcpy(&v, base + offset, sizeof v);
    return v;
}

// Largest list a container read here accepts; real capabilities stay far
// below it.
constexpr TW_UINT32 kMaxItems = 4096;

}  // namespace

TW_HANDLE BuildContainer(const ContainerContent& c) {
    const std::size_t itemSize = ItemSize(c.itemType);
    if (itemSize == 0) return nullptr;
    std::size_t size = 0;
    switch (c.conType) {
    case TWON_ONEVALUE:
        size = std::max(sizeof(TW_ONEVALUE), offsetof(TW_ONEVALUE, Item) + itemSize);
        break;
    case TWON_ENUMERATION:
        size = std::max(sizeof(TW_ENUMERATION), offsetof(TW_ENUMERATION, ItemList) + itemSize * c.items.size());
        break;
    case TWON_ARRAY:
        size = std::max(sizeof(TW_ARRAY), offsetof(TW_ARRAY, ItemList) + itemSize * c.items.size());
        break;
    case TWON_RANGE:
        if (itemSize > sizeof(TW_UINT32)) return nullptr;
        size = sizeof(TW_RANGE);
        break;
    default: return nullptr;
    }
    TW_HANDLE h = TwainNewHandle(static_cast<TW_UINT32>(size));
    if (!h) return nullptr;
    unsigned char* p = static_cast<unsigned char*>(TwainLockHandle(h));
    if (!p) {
        TwainDisposeHandle(h);
        return nullptr;
    }
    switch (c.conType) {
    case TWON_ONEVALUE:
        PutU16(p, offsetof(TW_ONEVALUE, ItemType), c.itemType);
        WriteItem(c.itemType, c.current, p + offsetof(TW_ONEVALUE, Item));
        break;
    case TWON_ENUMERATION:
        PutU16(p, offsetof(TW_ENUMERATION, ItemType), c.itemType);
        PutU32(p, offsetof(TW_ENUMERATION, NumItems), static_cast<TW_UINT32>(c.items.size()));
        PutU32(p, offsetof(TW_ENUMERATION, CurrentIndex), c.currentIndex);
        PutU32(p, offsetof(TW_ENUMERATION, DefaultIndex), c.defaultIndex);
        for (std::size_t i = 0; i < c.items.size(); ++i)
            WriteItem(c.itemType, c.items[i], p + offsetof(TW_ENUMERATION, ItemList) + i * itemSize);
        break;
    case TWON_ARRAY:
        PutU16(p, offsetof(TW_ARRAY, ItemType), c.itemType);
        PutU32(p, offsetof(TW_ARRAY, NumItems), static_cast<TW_UINT32>(c.items.size()));
        for (std::size_t i = 0; i < c.items.size(); ++i)
            WriteItem(c.itemType, c.items[i], p + offsetof(TW_ARRAY, ItemList) + i * itemSize);
        break;
    case TWON_RANGE:
        // Range items are numbers: at most the 32-bit field each one has.
        PutU16(p, offsetof(TW_RANGE, ItemType), c.itemType);
        std::memcpy(p + offsetof(TW_RANGE, MinValue), &c.minValue.word, itemSize);
        std::memcpy(p + offsetof(TW_RANGE, MaxValue), &c.maxValue.word, itemSize);
        std::memcpy(p + offsetof(TW_RANGE, StepSize), &c.stepSize.word, itemSize);
        std::memcpy(p + offsetof(TW_RANGE, DefaultValue), &c.defaultValue.word, itemSize);
        std::memcpy(p + offsetof(TW_RANGE, CurrentValue), &c.current.word, itemSize);
        break;
    }
    TwainUnlockHandle(h);
    return h;
}

bool ReadContainer(TW_HANDLE h, TW_UINT16 conType, ContainerContent* out) {
    if (!h || !out) return false;
    const unsigned char* p = static_cast<const unsigned char*>(TwainLockHandle(h));
    if (!p) return false;
    bool ok = true;
    ContainerContent c;
    c.conType = conType;
    switch (conType) {
    case TWON_ONEVALUE:
        c.itemType = GetU16(p, offsetof(TW_ONEVALUE, ItemType));
        ok = ItemSize(c.itemType) != 0;
        if (ok) c.current = ReadItem(c.itemType, p + offsetof(TW_ONEVALUE, Item));
        break;
    case TWON_ENUMERATION:
    case TWON_ARRAY: {
        const bool isEnum = conType == TWON_ENUMERATION;
        c.itemType = GetU16(p, 0);
        const TW_UINT32 n = GetU32(p, isEnum ? offsetof(TW_ENUMERATION, NumItems) : offsetof(TW_ARRAY, NumItems));
        const std::size_t list = isEnum ? offsetof(TW_ENUMERATION, ItemList) : offsetof(TW_ARRAY, ItemList);
        const std::size_t itemSize = ItemSize(c.itemType);
        ok = itemSize != 0 && n <= kMaxItems;
        if (!ok) break;
        if (isEnum) {
            c.currentIndex = GetU32(p, offsetof(TW_ENUMERATION, CurrentIndex));
            c.defaultIndex = GetU32(p, offsetof(TW_ENUMERATION, DefaultIndex));
        }
        for (TW_UINT32 i = 0; i < n; ++i) c.items.push_back(ReadItem(c.itemType, p + list + i * itemSize));
        if (isEnum && c.currentIndex < n) c.current = c.items[c.currentIndex];
        if (isEnum && c.defaultIndex < n) c.defaultValue = c.items[c.defaultIndex];
        break;
    }
    case TWON_RANGE:
        c.itemType = GetU16(p, offsetof(TW_RANGE, ItemType));
        ok = ItemSize(c.itemType) != 0 && ItemSize(c.itemType) <= sizeof(TW_UINT32);
        if (!ok) break;
        c.minValue = ReadItem(c.itemType, p + offsetof(TW_RANGE, MinValue));
        c.maxValue = ReadItem(c.itemType, p + offsetof(TW_RANGE, MaxValue));
        c.stepSize = ReadItem(c.itemType, p + offsetof(TW_RANGE, StepSize));
        c.defaultValue = ReadItem(c.itemType, p + offsetof(TW_RANGE, DefaultValue));
        c.current = ReadItem(c.itemType, p + offsetof(TW_RANGE, CurrentValue));
        break;
    default: ok = false;
    }
    TwainUnlockHandle(h);
    if (ok) *out = c;
    return ok;
}

}  // namespace vscan
