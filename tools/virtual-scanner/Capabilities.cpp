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

CapState OneValue(TW_UINT16 itemType, Item current, Item defaultValue) {
    CapState c;
    c.offer = Container::OneValue(itemType, current);
    c.current = std::move(current);
    c.defaultValue = std::move(defaultValue);
    return c;
}

CapState Enumeration(TW_UINT16 itemType, std::vector<Item> items, Item current, Item def) {
    CapState c;
    c.offer.conType = TWON_ENUMERATION;
    c.offer.itemType = itemType;
    c.offer.items = std::move(items);
    for (std::size_t i = 0; i < c.offer.items.size(); ++i) {
        if (c.offer.items[i] == current) c.offer.currentIndex = static_cast<TW_UINT32>(i);
        if (c.offer.items[i] == def) c.offer.defaultIndex = static_cast<TW_UINT32>(i);
    }
    c.current = std::move(current);
    c.defaultValue = std::move(def);
    return c;
}

CapState Fix32Range(double min, double max, double step, double current, double def) {
    CapState c;
    c.offer.conType = TWON_RANGE;
    c.offer.itemType = TWTY_FIX32;
    c.offer.minValue = Item::OfFix32(min);
    c.offer.maxValue = Item::OfFix32(max);
    c.offer.stepSize = Item::OfFix32(step);
    c.offer.currentValue = c.current = Item::OfFix32(current);
    c.offer.defaultValue = c.defaultValue = Item::OfFix32(def);
    return c;
}

Item Word(std::int64_t value) { return Item::OfNumber(TWTY_UINT16, value); }

std::vector<Item> Words(const std::vector<TW_UINT16>& values) {
    std::vector<Item> items;
    for (TW_UINT16 v : values) items.push_back(Word(v));
    return items;
}

// A value of an enumeration of TW_UINT16 values: one of the offered ones.
bool Offered(const std::vector<TW_UINT16>& values, const Item& item) {
    const std::int64_t v = item.Int(TWTY_UINT16);
    return std::find(values.begin(), values.end(), v) != values.end();
}

bool NearlyEqual(double a, double b, double slack) { return std::fabs(a - b) <= slack; }

// A FIX32 range item set on a whole-number step: snapped, with
// TWRC_CHECKSTATUS when snapping changed it.
Outcome SetRangeValue(double* field, const Item& item, double min, double max) {
    const double wanted = item.Value(TWTY_FIX32);
    if (wanted < min || wanted > max) return Failure(TWCC_BADVALUE);
    const double snapped = std::round(wanted);
    *field = snapped;
    return Success(NearlyEqual(snapped, wanted, 1e-9) ? TWRC_SUCCESS : TWRC_CHECKSTATUS);
}

Outcome SetResolution(ScanSettings& s, double* field, const Item& item) {
    const double dpi = ResolutionFromUnits(s, item.Value(TWTY_FIX32));
    for (double offered : kResolutions) {
        if (NearlyEqual(dpi, offered, 0.05)) {
            *field = offered;
            return Success();
        }
    }
    return Failure(TWCC_BADVALUE);
}

CapState DescribeResolution(const ScanSettings& s, double current) {
    std::vector<Item> items;
    for (double dpi : kResolutions) items.push_back(Item::OfFix32(ResolutionInUnits(s, dpi)));
    return Enumeration(TWTY_FIX32, std::move(items), Item::OfFix32(ResolutionInUnits(s, current)),
                       Item::OfFix32(ResolutionInUnits(s, kDefaultResolution)));
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
             return Enumeration(TWTY_UINT16, Words(values), Word(s.*field), Word(defaultValue));
         },
         [values, field](ScanSettings& s, const Item& item) {
             if (!Offered(values, item)) return Failure(TWCC_BADVALUE);
             s.*field = static_cast<TW_UINT16>(item.Int(TWTY_UINT16));
             return Success();
         },
         [field, defaultValue](ScanSettings& s) { s.*field = defaultValue; }});
}

CapabilitySet::CapabilitySet(ScanSettings& settings) : m_settings(settings) {
    const ScanSettings factory;

    Add({CAP_SUPPORTEDCAPS, TWTY_UINT16, TWON_ARRAY, false,
         [this](const ScanSettings&) {
             CapState c;
             c.offer.conType = TWON_ARRAY;
             c.offer.itemType = TWTY_UINT16;
             c.offer.items = Words(Ids());
             return c;
         },
         nullptr, nullptr});

    Add({CAP_XFERCOUNT, TWTY_INT16, TWON_ONEVALUE, true,
         [](const ScanSettings& s) { return OneValue(TWTY_INT16, Item::OfNumber(TWTY_INT16, s.xferCount), Item::OfNumber(TWTY_INT16, -1)); },
         [](ScanSettings& s, const Item& item) {
             // -1: as many pages as there are; otherwise a positive count.
             const std::int64_t v = item.Int(TWTY_INT16);
             if (v != -1 && v < 1) return Failure(TWCC_BADVALUE);
             s.xferCount = static_cast<TW_INT16>(v);
             return Success();
         },
         [](ScanSettings& s) { s.xferCount = -1; }});

    Add({CAP_UICONTROLLABLE, TWTY_BOOL, TWON_ONEVALUE, false,
         [](const ScanSettings&) { return OneValue(TWTY_BOOL, Item::OfNumber(TWTY_BOOL, 1), Item::OfNumber(TWTY_BOOL, 1)); }, nullptr,
         nullptr});

    Add({CAP_FEEDERENABLED, TWTY_BOOL, TWON_ONEVALUE, true,
         [](const ScanSettings& s) {
             return OneValue(TWTY_BOOL, Item::OfNumber(TWTY_BOOL, s.feederEnabled ? 1 : 0), Item::OfNumber(TWTY_BOOL, 0));
         },
         [](ScanSettings& s, const Item& item) {
             s.feederEnabled = item.Int(TWTY_BOOL) != 0;
             return Success();
         },
         [](ScanSettings& s) { s.feederEnabled = false; }});

    // Read only, as a real feeder's paper sensor: true while paper is in it.
    Add({CAP_FEEDERLOADED, TWTY_BOOL, TWON_ONEVALUE, false,
         [](const ScanSettings& s) {
             return OneValue(TWTY_BOOL, Item::OfNumber(TWTY_BOOL, s.feederSheets > 0 ? 1 : 0), Item::OfNumber(TWTY_BOOL, 0));
         },
         nullptr, nullptr});

    Add({ICAP_PIXELTYPE, TWTY_UINT16, TWON_ENUMERATION, true,
         [factory](const ScanSettings& s) {
             return Enumeration(TWTY_UINT16, Words({TWPT_BW, TWPT_GRAY, TWPT_RGB}), Word(s.pixelType),
                                Word(factory.pixelType));
         },
         [](ScanSettings& s, const Item& item) {
             if (!Offered({TWPT_BW, TWPT_GRAY, TWPT_RGB}, item)) return Failure(TWCC_BADVALUE);
             const TW_UINT16 type = static_cast<TW_UINT16>(item.Int(TWTY_UINT16));
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
             return Enumeration(TWTY_UINT16, Words(BitDepthsOf(s.pixelType)), Word(s.bitDepth),
                                Word(DefaultBitDepth(s.pixelType)));
         },
         [](ScanSettings& s, const Item& item) {
             if (!Offered(BitDepthsOf(s.pixelType), item)) return Failure(TWCC_BADVALUE);
             s.bitDepth = static_cast<TW_UINT16>(item.Int(TWTY_UINT16));
             return Success();
         },
         [](ScanSettings& s) { s.bitDepth = DefaultBitDepth(s.pixelType); }});

    Add({ICAP_XRESOLUTION, TWTY_FIX32, TWON_ENUMERATION, true,
         [](const ScanSettings& s) { return DescribeResolution(s, s.xResolution); },
         [](ScanSettings& s, const Item& item) { return SetResolution(s, &s.xResolution, item); },
         [](ScanSettings& s) { s.xResolution = kDefaultResolution; }});
    Add({ICAP_YRESOLUTION, TWTY_FIX32, TWON_ENUMERATION, true,
         [](const ScanSettings& s) { return DescribeResolution(s, s.yResolution); },
         [](ScanSettings& s, const Item& item) { return SetResolution(s, &s.yResolution, item); },
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
             const Item current = Item::OfFrame(FrameInUnits(s, s.frame));
             CapState c = Enumeration(TWTY_FRAME, {current}, current, current);
             c.defaultValue = Item::OfFrame(FrameInUnits(s, DefaultFrame()));
             return c;
         },
         [](ScanSettings& s, const Item& item) { return ApplyFrame(s, FrameFromUnits(s, item.Frame())); },
         [factory](ScanSettings& s) {
             s.frame = DefaultFrame();
             s.supportedSize = factory.supportedSize;
         }});

    Add({ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWON_ENUMERATION, true,
         [factory](const ScanSettings& s) {
             return Enumeration(TWTY_UINT16, Words({TWSS_NONE, TWSS_USLETTER, TWSS_USLEGAL, TWSS_A4LETTER, TWSS_A5}),
                                Word(s.supportedSize), Word(factory.supportedSize));
         },
         [](ScanSettings& s, const Item& item) {
             if (!Offered({TWSS_NONE, TWSS_USLETTER, TWSS_USLEGAL, TWSS_A4LETTER, TWSS_A5}, item))
                 return Failure(TWCC_BADVALUE);
             const TW_UINT16 size = static_cast<TW_UINT16>(item.Int(TWTY_UINT16));
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
             const Item v = Item::OfFix32(kBedWidthInches * UnitsPerInch(s, true));
             return OneValue(TWTY_FIX32, v, v);
         },
         nullptr, nullptr});
    Add({ICAP_PHYSICALHEIGHT, TWTY_FIX32, TWON_ONEVALUE, false,
         [](const ScanSettings& s) {
             const Item v = Item::OfFix32(kBedHeightInches * UnitsPerInch(s, false));
             return OneValue(TWTY_FIX32, v, v);
         },
         nullptr, nullptr});

    Add({ICAP_BRIGHTNESS, TWTY_FIX32, TWON_RANGE, true,
         [](const ScanSettings& s) { return Fix32Range(-1000, 1000, 1, s.brightness, 0); },
         [](ScanSettings& s, const Item& item) { return SetRangeValue(&s.brightness, item, -1000, 1000); },
         [](ScanSettings& s) { s.brightness = 0; }});
    Add({ICAP_CONTRAST, TWTY_FIX32, TWON_RANGE, true,
         [](const ScanSettings& s) { return Fix32Range(-1000, 1000, 1, s.contrast, 0); },
         [](ScanSettings& s, const Item& item) { return SetRangeValue(&s.contrast, item, -1000, 1000); },
         [](ScanSettings& s) { s.contrast = 0; }});

    // Vendor capabilities: the firmware version word (major.minor in the
    // high and low byte), the user interface mode and the film type.
    Add({CAP_NV_VERSION, TWTY_UINT16, TWON_ONEVALUE, false,
         [](const ScanSettings&) { return OneValue(TWTY_UINT16, Word(0x0100), Word(0x0100)); },
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

Outcome CapabilitySet::Answer(const Container& content, TW_CAPABILITY* cap) const {
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
    case MSG_GET: return Answer(def->describe(m_settings).offer, cap);

    case MSG_GETCURRENT:
    case MSG_GETDEFAULT: {
        const CapState c = def->describe(m_settings);
        // A list capability answers with its whole list.
        if (c.offer.conType == TWON_ARRAY || (msg == MSG_GETCURRENT && m_faults.getCurrentContainer))
            return Answer(c.offer, cap);
        return Answer(Container::OneValue(def->itemType, msg == MSG_GETCURRENT ? c.current : c.defaultValue), cap);
    }

    case MSG_QUERYSUPPORT: {
        TW_INT32 ops = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
        if (def->settable) ops |= TWQC_SET | TWQC_RESET;
        return Answer(Container::OneValue(TWTY_INT32, Item::OfNumber(TWTY_INT32, ops)), cap);
    }

    case MSG_SET: {
        if (!def->settable) return Failure(TWCC_CAPBADOPERATION);
        if (cap->ConType != TWON_ONEVALUE) return Failure(TWCC_BADVALUE);
        Container wanted;
        if (!ReadContainer(cap->hContainer, TWON_ONEVALUE, &wanted) || wanted.itemType != def->itemType)
            return Failure(TWCC_BADVALUE);
        // The application keeps its container; nothing is handed back.
        return def->set(m_settings, *wanted.One());
    }

    case MSG_RESET: {
        if (!def->settable) return Failure(TWCC_CAPBADOPERATION);
        if (!m_faults.resetKeepsValue) def->reset(m_settings);
        return Answer(def->describe(m_settings).offer, cap);
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
