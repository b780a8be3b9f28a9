#include "TwainValues.h"

#include <algorithm>
#include <cstring>

#include "tracelet/twain_memory.h"

namespace tracelet::values {

// --- TW_FIX32 and TW_FRAME -------------------------------------------------------

std::uint32_t Fix32Word(double value) { return TwainFix32Word(TwainFix32Of(value)); }
double Fix32Value(std::uint32_t word) { return TwainFix32Value(TwainFix32OfWord(word)); }

TW_FRAME Frame(double left, double top, double right, double bottom) {
    TW_FRAME f;
    f.Left = TwainFix32Of(left);
    f.Top = TwainFix32Of(top);
    f.Right = TwainFix32Of(right);
    f.Bottom = TwainFix32Of(bottom);
    return f;
}

// --- Text fields -------------------------------------------------------------------

std::string FieldText(const char* field, std::size_t width) {
    if (!field) return {};
    const void* nul = std::memchr(field, 0, width);
    return std::string(field, nul ? static_cast<const char*>(nul) - field : width);
}

void PutFieldText(char* field, std::size_t width, std::string_view text) {
    if (!field || !width) return;
    const std::size_t n = std::min(text.size(), width - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, width - n);
}

// --- Container items -----------------------------------------------------------------

Item Item::OfNumber(TW_UINT16 itemType, std::int64_t value) {
    // Little-endian: the low bytes of the number are the item.
    const std::uint32_t word = static_cast<std::uint32_t>(value);
    return OfBytes(&word, std::min(TwainItemSize(itemType), sizeof word));
}

Item Item::OfFix32(double value) { return OfNumber(TWTY_FIX32, Fix32Word(value)); }

Item Item::OfFrame(const TW_FRAME& frame) { return OfBytes(&frame, sizeof frame); }

Item Item::OfText(TW_UINT16 itemType, std::string_view text) {
    std::string field(TwainItemSize(itemType), '\0');
    PutFieldText(field.data(), field.size(), text);
    return OfBytes(field.data(), field.size());
}

Item Item::OfBytes(const void* bytes, std::size_t size) {
    Item item;
    item.m_bytes.assign(static_cast<const char*>(bytes), size);
    return item;
}

std::uint32_t Item::Word() const {
    std::uint32_t word = 0;
    std::memcpy(&word, m_bytes.data(), std::min(m_bytes.size(), sizeof word));
    return word;
}

std::int64_t Item::Int(TW_UINT16 itemType) const {
    const std::uint32_t w = Word();
    switch (itemType) {
    case TWTY_INT8: return static_cast<std::int8_t>(w & 0xff);
    case TWTY_UINT8: return w & 0xff;
    case TWTY_INT16: return static_cast<std::int16_t>(w & 0xffff);
    case TWTY_UINT16:
    case TWTY_BOOL: return w & 0xffff;
    case TWTY_INT32:
    case TWTY_FIX32: return static_cast<std::int32_t>(w);
    default: return w;
    }
}

double Item::Value(TW_UINT16 itemType) const {
    if (itemType == TWTY_FIX32) return Fix32Value(Word());
    return static_cast<double>(Int(itemType));
}

TW_FRAME Item::Frame() const {
    TW_FRAME frame{};
    std::memcpy(&frame, m_bytes.data(), std::min(m_bytes.size(), sizeof frame));
    return frame;
}

std::string Item::Text() const { return FieldText(m_bytes.data(), m_bytes.size()); }

Item Sum(TW_UINT16 itemType, const Item& a, const Item& b) {
    std::uint32_t w = a.Word() + b.Word();
    if (itemType == TWTY_FIX32) w = Fix32Word(a.Value(itemType) + b.Value(itemType));
    return Item::OfBytes(&w, std::min(a.size(), sizeof w));
}

// --- Containers --------------------------------------------------------------------

Container Container::OneValue(TW_UINT16 itemType, Item item) {
    Container c;
    c.conType = TWON_ONEVALUE;
    c.itemType = itemType;
    c.items.push_back(std::move(item));
    return c;
}

namespace {

// Where a container's item list starts; 0 for the containers without one.
std::size_t ListOffset(TW_UINT16 conType) {
    switch (conType) {
    case TWON_ONEVALUE: return offsetof(TW_ONEVALUE, Item);
    case TWON_ENUMERATION: return offsetof(TW_ENUMERATION, ItemList);
    case TWON_ARRAY: return offsetof(TW_ARRAY, ItemList);
    default: return 0;
    }
}

std::size_t CountOffset(TW_UINT16 conType) {
    return conType == TWON_ENUMERATION ? offsetof(TW_ENUMERATION, NumItems) : offsetof(TW_ARRAY, NumItems);
}

// The range's fields in their order in TW_RANGE, with the container's
// member each one fills.
struct RangeField {
    std::size_t offset;
    Item Container::*member;
};
constexpr RangeField kRangeFields[] = {
    {offsetof(TW_RANGE, MinValue), &Container::minValue},
    {offsetof(TW_RANGE, MaxValue), &Container::maxValue},
    {offsetof(TW_RANGE, StepSize), &Container::stepSize},
    {offsetof(TW_RANGE, DefaultValue), &Container::defaultValue},
    {offsetof(TW_RANGE, CurrentValue), &Container::currentValue},
};

void Put(unsigned char* base, std::size_t offset, const void* value, std::size_t size) {
    std::memcpy(base + offset, value, size);
}

// Reads within a block of known or unknown size.
class Bytes {
public:
    Bytes(const unsigned char* p, std::size_t size) : m_p(p), m_size(size) {}
    bool Holds(std::size_t offset, std::size_t n) const { return offset <= m_size && n <= m_size - offset; }
    template <class T>
    bool Get(std::size_t offset, T* v) const {
        if (!Holds(offset, sizeof *v)) return false;
        std::memcpy(v, m_p + offset, sizeof *v);
        return true;
    }
    bool GetItem(std::size_t offset, std::size_t n, Item* item) const {
        if (!Holds(offset, n)) return false;
        *item = Item::OfBytes(m_p + offset, n);
        return true;
    }

private:
    const unsigned char* m_p;
    std::size_t m_size;
};

}  // namespace

std::size_t ContainerBytes(const Container& c) {
    const std::size_t itemSize = TwainItemSize(c.itemType);
    if (itemSize == 0) return 0;
    switch (c.conType) {
    case TWON_ONEVALUE: return std::max(sizeof(TW_ONEVALUE), offsetof(TW_ONEVALUE, Item) + itemSize);
    case TWON_ENUMERATION:
    case TWON_ARRAY: {
        if (c.items.size() > kMaxItems) return 0;
        const std::size_t whole = c.conType == TWON_ENUMERATION ? sizeof(TW_ENUMERATION) : sizeof(TW_ARRAY);
        return std::max(whole, ListOffset(c.conType) + itemSize * c.items.size());
    }
    case TWON_RANGE: return itemSize <= sizeof(TW_UINT32) ? sizeof(TW_RANGE) : 0;
    default: return 0;
    }
}

bool WriteContainer(const Container& c, void* block, std::size_t size) {
    const std::size_t need = ContainerBytes(c);
    if (need == 0 || !block || size < need) return false;
    auto* p = static_cast<unsigned char*>(block);
    std::memset(p, 0, need);
    const std::size_t itemSize = TwainItemSize(c.itemType);
    // Each item in its slot: as many of its bytes as the slot takes, the
    // rest of the slot zero.
    auto putItem = [&](std::size_t at, const Item& item, std::size_t slot) {
        Put(p, at, item.data(), std::min(item.size(), slot));
    };
    Put(p, 0, &c.itemType, sizeof c.itemType);  // ItemType leads every container
    if (c.conType == TWON_RANGE) {
        for (const RangeField& f : kRangeFields) putItem(f.offset, c.*f.member, itemSize);
        return true;
    }
    if (c.conType == TWON_ONEVALUE) {
        if (!c.items.empty()) putItem(ListOffset(c.conType), c.items[0], itemSize);
        return true;
    }
    const TW_UINT32 n = static_cast<TW_UINT32>(c.items.size());
    Put(p, CountOffset(c.conType), &n, sizeof n);
    if (c.conType == TWON_ENUMERATION) {
        Put(p, offsetof(TW_ENUMERATION, CurrentIndex), &c.currentIndex, sizeof c.currentIndex);
        Put(p, offsetof(TW_ENUMERATION, DefaultIndex), &c.defaultIndex, sizeof c.defaultIndex);
    }
    for (std::size_t i = 0; i < c.items.size(); ++i) putItem(ListOffset(c.conType) + i * itemSize, c.items[i], itemSize);
    return true;
}

TW_HANDLE BuildContainer(const Container& c) {
    const std::size_t size = ContainerBytes(c);
    if (size == 0) return nullptr;
    TW_HANDLE h = TwainNewHandle(static_cast<TW_UINT32>(size));
    if (!h) return nullptr;
    void* p = TwainLockHandle(h);
    const bool written = WriteContainer(c, p, size);
    TwainUnlockHandle(h);
    if (!written) {
        TwainDisposeHandle(h);
        return nullptr;
    }
    return h;
}

bool ReadContainer(const void* block, std::size_t size, TW_UINT16 conType, Container* out) {
    if (!out) return false;
    *out = Container();
    out->conType = conType;
    out->itemType = 0;
    if (!block) return false;
    const Bytes b(static_cast<const unsigned char*>(block), size);
    if (!b.Get(0, &out->itemType)) return false;
    const std::size_t itemSize = TwainItemSize(out->itemType);
    if (itemSize == 0) return false;
    switch (conType) {
    case TWON_ONEVALUE: {
        Item item;
        if (!b.GetItem(ListOffset(conType), itemSize, &item)) return false;
        out->items.push_back(std::move(item));
        return true;
    }
    case TWON_ENUMERATION:
    case TWON_ARRAY: {
        TW_UINT32 n = 0;
        if (!b.Get(CountOffset(conType), &n) || n > kMaxItems) return false;
        if (conType == TWON_ENUMERATION && (!b.Get(offsetof(TW_ENUMERATION, CurrentIndex), &out->currentIndex) ||
                                            !b.Get(offsetof(TW_ENUMERATION, DefaultIndex), &out->defaultIndex)))
            return false;
        const std::size_t list = ListOffset(conType);
        if (!b.Holds(list, itemSize * n)) return false;
        out->items.resize(n);
        for (TW_UINT32 i = 0; i < n; ++i) b.GetItem(list + i * itemSize, itemSize, &out->items[i]);
        return true;
    }
    case TWON_RANGE:
        for (const RangeField& f : kRangeFields)
            if (!b.GetItem(f.offset, std::min(itemSize, sizeof(TW_UINT32)), &(out->*f.member))) return false;
        return true;
    default: return false;
    }
}

bool ReadContainer(TW_HANDLE handle, TW_UINT16 conType, Container* out) {
    const void* p = handle ? TwainLockHandle(handle) : nullptr;
    const bool ok = ReadContainer(p, HandleBytes(handle), conType, out);
    if (p) TwainUnlockHandle(handle);
    return ok;
}

std::size_t HandleBytes(TW_HANDLE handle) {
    if (!handle) return 0;
#if defined(TRACELET_TWAIN_ABI_MACOS)
    return GetHandleSize(handle);
#else
    return SIZE_MAX;
#endif
}

}  // namespace tracelet::values
