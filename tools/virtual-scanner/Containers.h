// Capability containers (TW_ONEVALUE, TW_ENUMERATION, TW_ARRAY, TW_RANGE):
// building them in TWAIN handles and reading the ones an application sends.
// Items are copied byte by byte, so the packed layouts never give rise to
// misaligned access.
#ifndef TRACELET_VS_CONTAINERS_H
#define TRACELET_VS_CONTAINERS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tracelet/twain.h"

namespace vscan {

// One item of a capability. Numbers of every width live in `word` (a FIX32
// as its raw word, Whole in the low half); a TW_FRAME lives in `frame`.
struct CapItem {
    std::uint32_t word = 0;
    TW_FRAME frame{};

    static CapItem Number(std::int64_t value);
    static CapItem Fix(double value);
    static CapItem Frame(const TW_FRAME& frame);
};

// Bytes one item of the type takes in a list; 0 for types not handled here
// (the strings).
std::size_t ItemSize(TW_UINT16 itemType);
// The item as a number: sign-extended for the signed types.
std::int32_t ItemAsInt(TW_UINT16 itemType, const CapItem& item);
double ItemAsFix(const CapItem& item);
bool SameItem(TW_UINT16 itemType, const CapItem& a, const CapItem& b);

void WriteItem(TW_UINT16 itemType, const CapItem& item, unsigned char* dst);
CapItem ReadItem(TW_UINT16 itemType, const unsigned char* src);

struct ContainerContent {
    TW_UINT16 conType = TWON_ONEVALUE;
    TW_UINT16 itemType = TWTY_UINT16;
    std::vector<CapItem> items;  // TW_ENUMERATION and TW_ARRAY
    TW_UINT32 currentIndex = 0;  // TW_ENUMERATION
    TW_UINT32 defaultIndex = 0;
    CapItem current;  // TW_ONEVALUE's item; TW_RANGE's CurrentValue
    CapItem defaultValue;  // TW_RANGE's DefaultValue
    CapItem minValue, maxValue, stepSize;  // TW_RANGE
};

// A new handle (TwainNewHandle) holding the container; null when memory is
// short or the item type is not handled.
TW_HANDLE BuildContainer(const ContainerContent& content);

// Reads the container of type `conType` behind `h`; false when the handle is
// null, the type is unknown or the item type is not handled.
bool ReadContainer(TW_HANDLE h, TW_UINT16 conType, ContainerContent* out);

}  // namespace vscan

#endif  // TRACELET_VS_CONTAINERS_H
