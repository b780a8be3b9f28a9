// TWAIN values as the tools and their tests handle them: capability
// containers (built into handles, read back from handles or from bytes,
// every container and item type), TW_FIX32 words and TW_FRAME values, and
// the fixed-width text fields (TW_STR32 ... TW_STR255). The value of a
// TW_FIX32 and the nearest TW_FIX32 to a number are the ones in
// tracelet/twain.h, which the trace uses too.
//
// Reads are bounded: by the block's size where it is known (the handles of
// the macos layout keep it), by the item list's count cap everywhere, and
// text never past its field's width. Not for the trace path: it allocates.
#ifndef TRACELET_COMMON_TWAINVALUES_H
#define TRACELET_COMMON_TWAINVALUES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tracelet/twain.h"

namespace tracelet::values {

// --- TW_FIX32 and TW_FRAME -------------------------------------------------------

// A number as the 32-bit word of the TW_FIX32 nearest to it, and back.
std::uint32_t Fix32Word(double value);
double Fix32Value(std::uint32_t word);

TW_FRAME Frame(double left, double top, double right, double bottom);

// --- Text fields -------------------------------------------------------------------

// The text of a fixed-width field: up to its NUL, never past its width.
std::string FieldText(const char* field, std::size_t width);
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    return FieldText(field, N);
}
// Writes `text` into a field of `width` bytes: cut to leave a NUL, the rest
// zeroed.
void PutFieldText(char* field, std::size_t width, std::string_view text);
template <std::size_t N>
void PutFieldText(char (&field)[N], std::string_view text) {
    PutFieldText(field, N, text);
}

// --- Container items -----------------------------------------------------------------

// One item of a container, as its bytes lie in the item list: the item
// type's size (a range's values: the low bytes of their 32-bit fields, at
// most four). Items compare by their bytes.
class Item {
public:
    Item() = default;
    // The number in the item type's bytes (for TWTY_FIX32: the raw word).
    static Item OfNumber(TW_UINT16 itemType, std::int64_t value);
    static Item OfFix32(double value);
    static Item OfFrame(const TW_FRAME& frame);
    // Text in an item of a TWTY_STR type's width, as PutFieldText writes it.
    static Item OfText(TW_UINT16 itemType, std::string_view text);
    static Item OfBytes(const void* bytes, std::size_t size);

    const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(m_bytes.data()); }
    std::size_t size() const { return m_bytes.size(); }

    // The first four bytes (fewer: zero-extended) as a little-endian word.
    std::uint32_t Word() const;
    // The item as a number of its type: sign-extended for the signed types,
    // a TW_FIX32's value for TWTY_FIX32.
    std::int64_t Int(TW_UINT16 itemType) const;
    double Value(TW_UINT16 itemType) const;
    // The item as a TW_FRAME (missing bytes zero) and as text.
    TW_FRAME Frame() const;
    std::string Text() const;

    bool operator==(const Item& other) const { return m_bytes == other.m_bytes; }
    bool operator!=(const Item& other) const { return m_bytes != other.m_bytes; }

private:
    std::string m_bytes;
};

// a + b as numbers of the item type (TW_FIX32 values rounded to the nearest
// 65536th), in an item of a's size.
Item Sum(TW_UINT16 itemType, const Item& a, const Item& b);

// How a report shows an item: a number, a TW_FIX32's value, a frame as its
// four values, text in quotes; a TWTY_UINT16 value of a capability whose
// values have names (ICAP_PIXELTYPE, ...) by its name.
std::string ItemText(TW_UINT16 itemType, const Item& item, TW_UINT16 cap);

// --- Containers --------------------------------------------------------------------

// Largest item list read or built here; real capabilities stay far below it.
constexpr TW_UINT32 kMaxItems = 4096;

struct Container {
    TW_UINT16 conType = TWON_ONEVALUE;
    TW_UINT16 itemType = TWTY_UINT16;
    std::vector<Item> items;  // TW_ONEVALUE: its one item; TW_ENUMERATION, TW_ARRAY: the list
    TW_UINT32 currentIndex = 0, defaultIndex = 0;  // TW_ENUMERATION
    Item minValue, maxValue, stepSize, defaultValue, currentValue;  // TW_RANGE

    static Container OneValue(TW_UINT16 itemType, Item item);
    // A one-value's item; null for the other containers.
    const Item* One() const { return conType == TWON_ONEVALUE && !items.empty() ? &items[0] : nullptr; }
};

// The bytes a container of the type takes; 0 when the container or item
// type is unknown, the list is too long, or a range's item does not fit its
// 32-bit fields.
std::size_t ContainerBytes(const Container& c);
// Writes the container into `size` bytes at `block` (at least
// ContainerBytes(c)); false, with nothing written, when it does not fit.
bool WriteContainer(const Container& c, void* block, std::size_t size);
// A new handle (TwainNewHandle) holding the container; null when it cannot
// be built or memory is short. The caller disposes of it.
TW_HANDLE BuildContainer(const Container& c);

// Reads a container of type `conType` from the `size` bytes at `block`
// (SIZE_MAX: the size is unknown). True when the whole container was read:
// a known container and item type, a list within kMaxItems and within the
// block. On false, `out` holds what could be read: its conType, and its
// itemType when the block holds it.
bool ReadContainer(const void* block, std::size_t size, TW_UINT16 conType, Container* out);
// The same from a handle: locked, read within its size where the layout
// keeps one, unlocked. The caller still owns the handle.
bool ReadContainer(TW_HANDLE handle, TW_UINT16 conType, Container* out);

// Bytes of the block behind a handle where the layout keeps them (macos),
// SIZE_MAX where it does not (native); 0 for a null handle.
std::size_t HandleBytes(TW_HANDLE handle);

}  // namespace tracelet::values

#endif  // TRACELET_COMMON_TWAINVALUES_H
