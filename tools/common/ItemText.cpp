// How a report shows an item (apart from the other helpers, so that only
// the programs that show items link the name tables).
#include "TwainValues.h"

#include <sstream>

#include "tables/TwNames.h"

namespace tracelet::values {

std::string ItemText(TW_UINT16 itemType, const Item& item, TW_UINT16 cap) {
    if (itemType == TWTY_UINT16) {
        const std::string_view name = twnames::CapValueName(cap, static_cast<TW_UINT16>(item.Word()));
        if (!name.empty()) return std::string(name);
    }
    std::ostringstream s;
    switch (itemType) {
    case TWTY_INT8:
    case TWTY_INT16:
    case TWTY_INT32: s << item.Int(itemType); break;
    case TWTY_FIX32: s << item.Value(itemType); break;
    case TWTY_FRAME: {
        const TW_FRAME f = item.Frame();
        s << TwainFix32Value(f.Left) << "," << TwainFix32Value(f.Top) << "," << TwainFix32Value(f.Right) << ","
          << TwainFix32Value(f.Bottom);
        break;
    }
    case TWTY_STR32:
    case TWTY_STR64:
    case TWTY_STR128:
    case TWTY_STR255: s << '"' << item.Text() << '"'; break;
    default: s << item.Word();
    }
    return s.str();
}

}  // namespace tracelet::values
