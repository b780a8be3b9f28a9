#include "Capabilities.h"

#include <algorithm>
#include <cmath>

namespace vscan {

namespace {

constexpr double kResolutions[] = {75, 100, 150, 200, 300, 600};
constexpr double kDefaultResolution = 150;
// Frames that pass the bed by less than this (FIX32 and unit rounding) are
// taken as meant to end at the bed's edge.
constexpr double kEdgeSlackInches = 0.002;

TW_UINT16 DefaultBitDepth(TW_UINT16 pixelType) { return pixelType == TWPT_BW ? 1 : 8; }

std::vector<TW_UINT16> BitDepthsOf(TW_UINT16 pixelType) {
    if (pixelType == TWPT_BW) return {1};
    return {8, 16};
}

ContainerContent OneValue(TW_UINT16 itemType, CapItem current, CapItem defaultValue) {
    ContainerContent c;
    c.conType = TWON_ONEVALUE;
    c.itemType = itemType;
    c.current = current;
    c.defaultValue = defaultValue;
    return c;
}

ContainerContent Enumeration(TW_UINT16 itemType, std::vector<CapItem> items, CapItem current, CapItem def) {
    ContainerContent c;
    c.conType = TWON_ENUMERATION;
    c.itemType = itemType;
    c.items = std::move(items);
    for (std::size_t i = 0; i < c.items.size(); ++i) {
        if (SameItem(itemType, c.items[i], current)) c.currentIndex = static_cast<TW_UINT32>(i);
        if (SameItem(itemType, c.items[i], def)) c.defaultIndex = static_cast<TW_UINT32>(i);
    }
    c.current = current;
    c.defaultValue = def;
    return c;
}

ContainerContent Fix32Range(double min, double max, double step, double current, double def) {
    ContainerContent c;
    c.conType = TWON_RANGE;
    c.itemType = TWTY_FIX32;
    c.minValue = CapItem::Fix(min);
    c.maxValue = CapItem::Fix(max);
    c.stepSize = CapItem::Fix(step);
    c.current = CapItem::Fix(current);
    c.defaultValue = CapItem::Fix(def);
    return c;
}

std::vector<CapItem> Numbers(const std::vector<TW_UINT16>& values) {
    std::vector<CapItem> items;
    for (TW_UINT16 v : values) items.push_back(CapItem::Number(v));
    return items;
}

// A value of an enumeration of TW_UINT16 values: one of the offered ones.
bool Offered(const std::vector<TW_UINT16>& values, const CapItem& item) {
    const TW_INT32 v = ItemAsInt(TWTY_UINT16, item);
    return std::find(values.begin(), values.end(), v) != values.end();
}

bool NearlyEqual(double a, double b, double slack) { return std::fabs(a - b) <= slack; }

// A FIX32 range item set on a whole-number step: snapped, with
// TWRC_CHECKSTATUS when snapping changed it.
Outcome SetRangeValue(double* field, const CapItem& item, double min, double max) {
    const double wanted = ItemAsFix(item);
    if (wanted < min || wanted > max) return Failure(TWCC_BADVALUE);
    const double snapped = std::round(wanted);
    *field = snapped;
    return Success(NearlyEqual(snapped, wanted, 1e-9) ? TWRC_SUCCESS : TWRC_CHECKSTATUS);
}

Outcome SetResolution(ScanSettings& s, double* field, const CapItem& item) {
    const double dpi = ResolutionFromUnits(s, ItemAsFix(item));
    for (double offered : kResolutions) {
        if (NearlyEqual(dpi, offered, 0.05)) {
            *field = offered;
            return Success();
        }
    }
    return Failure(TWCC_BADVALUE);
}

ContainerContent DescribeResolution(const ScanSettings& s, double current) {
    std::vector<CapItem> items;
    for (double dpi : kResolutions) items.push_back(CapItem::Fix(ResolutionInUnits(s, dpi)));
    return Enumeration(TWTY_FIX32, std::move(items), CapItem::Fix(ResolutionInUnits(s, current)),
                       CapItem::Fix(ResolutionInUnits(s, kDefaultResolution)));
}

}  // namespace

Rect DefaultFrame() { return Rect{0, 0, 8.5, 11}; }

Outcome ApplyFrame(ScanSettings& s, const Rect& wanted) {
    if (!(wanted.right > wanted.left) || !(wanted.bottom > wanted.top)) return Failure(TWCC_BADVALUE);
    Rect clipped = wanted;
    clipped.left = std::max(0.0, clipped.left);
    clipped.top = std::max(0.0, clipped.top);
    clipped.right = std::min(kBedWidthInches, clipped.right);
    clipped.bottom = std::min(kBedHeightInches, clipped.bottom);
    if (!(clipped.right > clipped.left) || !(clipped.bottom > clipped.top)) return Failure(TWCC_BADVALUE);
    const bool changed = !NearlyEqual(clipped.left, wanted.left, kEdgeSlackInches) ||
                         !NearlyEqual(clipped.top, wanted.top, kEdgeSlackInches) ||
                         !NearlyEqual(clipped.right, wanted.right, kEdgeSlackInches) ||
                         !NearlyEqual(clipped.bottom, wanted.bottom, kEdgeSlackInches);
    s.frame = clipped;
    s.supportedSize = TWSS_NONE;
    return Success(changed ? TWRC_CHECKSTATUS : TWRC_SUCCESS);
}

void CapabilitySet::AddEnumeration(TW_UINT16 id, std::vector<TW_UINT16> values, TW_UINT16 ScanSettings::*field,
                                   TW_UINT16 defaultValue) {
    Add({id, TWTY_UINT16, TWON_ENUMERATION, true,
         [values, field, defaultValue](const ScanSettings& s) {
             return Enumeration(TWTY_UINT16, Numbers(values), CapItem::Number(s.*field),
                                CapItem::Number(defaultValue));
         },
         [values, field](ScanSettings& s, const CapItem& item) {
             if (!Offered(values, item)) return Failure(TWCC_BADVALUE);
             s.*field = static_cast<TW_UINT16>(ItemAsInt(TWTY_UINT16, item));
             return Success();
         },
         [field, defaultValue](ScanSettings& s) { s.*field = defaultValue; }});
}

CapabilitySet::CapabilitySet(ScanSettings& settings) : m_settings(settings) {
    const ScanSettings factory;

    Add({CAP_SUPPORTEDCAPS, TWTY_UINT16, TWON_ARRAY, false,
         [this](const ScanSettings&) {
             ContainerContent c;
             c.conType = TWON_ARRAY;
             c.itemType = TWTY_UINT16;
             for (TW_UINT16 id : Ids()) c.items.push_back(CapItem::Number(id));
             return c;
         },
         nullptr, nullptr});

    Add({CAP_XFERCOUNT, TWTY_INT16, TWON_ONEVALUE, true,
         [](const ScanSettings& s) { return OneValue(TWTY_INT16, CapItem::Number(s.xferCount), CapItem::Number(-1)); },
         [](ScanSettings& s, const CapItem& item) {
             // -1: as many pages as there are; otherwise a positive count.
             const TW_INT32 v = ItemAsInt(TWTY_INT16, item);
             if (v != -1 && v < 1) return Failure(TWCC_BADVALUE);
             s.xferCount = static_cast<TW_INT16>(v);
             return Success();
         },
         [](ScanSettings& s) { s.xferCount = -1; }});

    Add({CAP_UICONTROLLABLE, TWTY_BOOL, TWON_ONEVALUE, false,
         [](const ScanSettings&) { return OneValue(TWTY_BOOL, CapItem::Number(1), CapItem::Number(1)); }, nullptr,
         nullptr});

    Add({CAP_FEEDERENABLED, TWTY_BOOL, TWON_ONEVALUE, true,
         [](const ScanSettings& s) {
             return OneValue(TWTY_BOOL, CapItem::Number(s.feederEnabled ? 1 : 0), CapItem::Number(0));
         },
         [](ScanSettings& s, const CapItem& item) {
             s.feederEnabled = ItemAsInt(TWTY_BOOL, item) != 0;
             return Success();
         },
         [](ScanSettings& s) { s.feederEnabled = false; }});

    // Read only, as a real feeder's paper sensor: true while paper is in it.
    Add({CAP_FEEDERLOADED, TWTY_BOOL, TWON_ONEVALUE, false,
         [](const ScanSettings& s) {
             return OneValue(TWTY_BOOL, CapItem::Number(s.feederSheets > 0 ? 1 : 0), CapItem::Number(0));
         },
         nullptr, nullptr});

    Add({ICAP_PIXELTYPE, TWTY_UINT16, TWON_ENUMERATION, true,
         [factory](const ScanSettings& s) {
             return Enumeration(TWTY_UINT16, Numbers({TWPT_BW, TWPT_GRAY, TWPT_RGB}), CapItem::Number(s.pixelType),
                                CapItem::Number(factory.pixelType));
         },
         [](ScanSettings& s, const CapItem& item) {
             if (!Offered({TWPT_BW, TWPT_GRAY, TWPT_RGB}, item)) return Failure(TWCC_BADVALUE);
             const TW_UINT16 type = static_cast<TW_UINT16>(ItemAsInt(TWTY_UINT16, item));
             if (type != s.pixelType) s.bitDepth = DefaultBitDepth(type);
             s.pixelType = type;
             return Success();
         },
         [factory](ScanSettings& s) {
             s.pixelType = factory.pixelType;
             s.bitDepth = DefaultBitDepth(s.pixelType);
         }});

    // The bit depths offered depend on the current pixel type.
    Add({ICAP_BITDEPTH, TWTY_UINT16, TWON_ENUMERATION, true,
         [](const ScanSettings& s) {
             return Enumeration(TWTY_UINT16, Numbers(BitDepthsOf(s.pixelType)), CapItem::Number(s.bitDepth),
                                CapItem::Number(DefaultBitDepth(s.pixelType)));
         },
         [](ScanSettings& s, const CapItem& item) {
             if (!Offered(BitDepthsOf(s.pixelType), item)) return Failure(TWCC_BADVALUE);
             s.bitDepth = static_cast<TW_UINT16>(ItemAsInt(TWTY_UINT16, item));
             return Success();
         },
         [](ScanSettings& s) { s.bitDepth = DefaultBitDepth(s.pixelType); }});

    Add({ICAP_XRESOLUTION, TWTY_FIX32, TWON_ENUMERATION, true,
         [](const ScanSettings& s) { return DescribeResolution(s, s.xResolution); },
         [](ScanSettings& s, const CapItem& item) { return SetResolution(s, &s.xResolution, item); },
         [](ScanSettings& s) { s.xResolution = kDefaultResolution; }});
    Add({ICAP_YRESOLUTION, TWTY_FIX32, TWON_ENUMERATION, true,
         [](const ScanSettings& s) { return DescribeResolution(s, s.yResolution); },
         [](ScanSettings& s, const CapItem& item) { return SetResolution(s, &s.yResolution, item); },
         [](ScanSettings& s) { s.yResolution = kDefaultResolution; }});

    AddEnumeration(ICAP_XFERMECH, {TWSX_NATIVE, TWSX_MEMORY}, &ScanSettings::xferMech, factory.xferMech);
    AddEnumeration(ICAP_UNITS, {TWUN_INCHES, TWUN_CENTIMETERS, TWUN_PIXELS}, &ScanSettings::units, factory.units);
    AddEnumeration(ICAP_COMPRESSION, {TWCP_NONE}, &ScanSettings::compression, factory.compression);
    // The pages are drawn one way only: chunky samples, 0 for black, and
    // black-and-white rows packed from the high bit.
    AddEnumeration(ICAP_PLANARCHUNKY, {TWPC_CHUNKY}, &ScanSettings::planarChunky, factory.planarChunky);
    AddEnumeration(ICAP_PIXELFLAVOR, {TWPF_CHOCOLATE}, &ScanSettings::pixelFlavor, factory.pixelFlavor);
    AddEnumeration(ICAP_BITORDER, {TWBO_MSBFIRST}, &ScanSettings::bitOrder, factory.bitOrder);

    // One frame: the enumeration holds the current one.
    Add({ICAP_FRAMES, TWTY_FRAME, TWON_ENUMERATION, true,
         [](const ScanSettings& s) {
             const CapItem current = CapItem::Frame(FrameInUnits(s, s.frame));
             ContainerContent c = Enumeration(TWTY_FRAME, {current}, current, current);
             c.defaultValue = CapItem::Frame(FrameInUnits(s, DefaultFrame()));
             return c;
         },
         [](ScanSettings& s, const CapItem& item) { return ApplyFrame(s, FrameFromUnits(s, item.frame)); },
         [factory](ScanSettings& s) {
             s.frame = DefaultFrame();
             s.supportedSize = factory.supportedSize;
         }});

    Add({ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWON_ENUMERATION, true,
         [factory](const ScanSettings& s) {
             return Enumeration(TWTY_UINT16, Numbers({TWSS_NONE, TWSS_USLETTER, TWSS_USLEGAL, TWSS_A4LETTER, TWSS_A5}),
                                CapItem::Number(s.supportedSize), CapItem::Number(factory.supportedSize));
         },
         [](ScanSettings& s, const CapItem& item) {
             if (!Offered({TWSS_NONE, TWSS_USLETTER, TWSS_USLEGAL, TWSS_A4LETTER, TWSS_A5}, item))
                 return Failure(TWCC_BADVALUE);
             const TW_UINT16 size = static_cast<TW_UINT16>(ItemAsInt(TWTY_UINT16, item));
             double w = 0, h = 0;
             // TWSS_NONE keeps the frame the application set.
             if (PaperSize(size, &w, &h)) s.frame = Rect{0, 0, w, h};
             s.supportedSize = size;
             return Success();
         },
         [factory](ScanSettings& s) {
             s.supportedSize = factory.supportedSize;
             s.frame = DefaultFrame();
         }});

    Add({ICAP_PHYSICALWIDTH, TWTY_FIX32, TWON_ONEVALUE, false,
         [](const ScanSettings& s) {
             const CapItem v = CapItem::Fix(kBedWidthInches * UnitsPerInch(s, true));
             return OneValue(TWTY_FIX32, v, v);
         },
         nullptr, nullptr});
    Add({ICAP_PHYSICALHEIGHT, TWTY_FIX32, TWON_ONEVALUE, false,
         [](const ScanSettings& s) {
             const CapItem v = CapItem::Fix(kBedHeightInches * UnitsPerInch(s, false));
             return OneValue(TWTY_FIX32, v, v);
         },
         nullptr, nullptr});

    Add({ICAP_BRIGHTNESS, TWTY_FIX32, TWON_RANGE, true,
         [](const ScanSettings& s) { return Fix32Range(-1000, 1000, 1, s.brightness, 0); },
         [](ScanSettings& s, const CapItem& item) { return SetRangeValue(&s.brightness, item, -1000, 1000); },
         [](ScanSettings& s) { s.brightness = 0; }});
    Add({ICAP_CONTRAST, TWTY_FIX32, TWON_RANGE, true,
         [](const ScanSettings& s) { return Fix32Range(-1000, 1000, 1, s.contrast, 0); },
         [](ScanSettings& s, const CapItem& item) { return SetRangeValue(&s.contrast, item, -1000, 1000); },
         [](ScanSettings& s) { s.contrast = 0; }});

    // Vendor capabilities: the firmware version word (major.minor in the
    // high and low byte), the user interface mode and the film type.
    Add({CAP_NV_VERSION, TWTY_UINT16, TWON_ONEVALUE, false,
         [](const ScanSettings&) { return OneValue(TWTY_UINT16, CapItem::Number(0x0100), CapItem::Number(0x0100)); },
         nullptr, nullptr});
    AddEnumeration(CAP_NV_UIMODE, {TWNV_UI_CONVENTIONAL, TWNV_UI_ADVANCED, TWNV_UI_EASY}, &ScanSettings::uiMode,
                   factory.uiMode);
    AddEnumeration(ICAP_NV_FILMTYPE, {TWNV_FT_POSI, TWNV_FT_NEGA, TWNV_FT_REFLECTIVE}, &ScanSettings::filmType,
                   factory.filmType);
}

const CapabilitySet::Def* CapabilitySet::Find(TW_UINT16 id) const {
    for (const Def& d : m_defs)
        if (d.id == id) return &d;
    return nullptr;
}

std::vector<TW_UINT16> CapabilitySet::Ids() const {
    std::vector<TW_UINT16> ids;
    for (const Def& d : m_defs) ids.push_back(d.id);
    return ids;
}

Outcome CapabilitySet::Answer(const ContainerContent& content, TW_CAPABILITY* cap) const {
    TW_HANDLE h = BuildContainer(content);
    if (!h) return Failure(TWCC_LOWMEMORY);
    cap->ConType = content.conType;
    cap->hContainer = h;
    return Success();
}

Outcome CapabilitySet::Handle(TW_UINT16 msg, TW_CAPABILITY* cap) {
    if (!cap) return Failure(TWCC_BADVALUE);
    // Every capability at once: the one in the structure does not matter.
    if (msg == MSG_RESETALL) return ResetAll();
    const Def* def = Find(cap->Cap);
    if (!def) return Failure(TWCC_CAPUNSUPPORTED);

    switch (msg) {
    case MSG_GET: return Answer(def->describe(m_settings), cap);

    case MSG_GETCURRENT:
    case MSG_GETDEFAULT: {
        ContainerContent c = def->describe(m_settings);
        // A list capability answers with its whole list.
        if (c.conType == TWON_ARRAY || (msg == MSG_GETCURRENT && m_faults.getCurrentContainer)) return Answer(c, cap);
        return Answer(OneValue(def->itemType, msg == MSG_GETCURRENT ? c.current : c.defaultValue,
                               c.defaultValue),
                      cap);
    }

    case MSG_QUERYSUPPORT: {
        TW_INT32 ops = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
        if (def->settable) ops |= TWQC_SET | TWQC_RESET;
        return Answer(OneValue(TWTY_INT32, CapItem::Number(ops), CapItem::Number(ops)), cap);
    }

    case MSG_SET: {
        if (!def->settable) return Failure(TWCC_CAPBADOPERATION);
        if (cap->ConType != TWON_ONEVALUE) return Failure(TWCC_BADVALUE);
        ContainerContent wanted;
        if (!ReadContainer(cap->hContainer, TWON_ONEVALUE, &wanted) || wanted.itemType != def->itemType)
            return Failure(TWCC_BADVALUE);
        // The application keeps its container; nothing is handed back.
        return def->set(m_settings, wanted.current);
    }

    case MSG_RESET: {
        if (!def->settable) return Failure(TWCC_CAPBADOPERATION);
        if (!m_faults.resetKeepsValue) def->reset(m_settings);
        return Answer(def->describe(m_settings), cap);
    }

    default: return Failure(TWCC_CAPBADOPERATION);
    }
}

Outcome CapabilitySet::ResetAll() {
    // In table order, so that a capability whose values follow another one
    // (the bit depth follows the pixel type) is reset after it.
    for (const Def& d : m_defs)
        if (d.reset && !(m_faults.resetAllKeepsValue && d.id == ICAP_PIXELTYPE)) d.reset(m_settings);
    return Success();
}

}  // namespace vscan
