// The virtual scanner's capabilities: what each one offers, its current and
// default value, and how a new value changes the scan settings.
#ifndef TRACELET_VS_CAPABILITIES_H
#define TRACELET_VS_CAPABILITIES_H

#include <functional>
#include <vector>

#include "Faults.h"
#include "ScanSettings.h"
#include "TwainValues.h"

namespace vscan {

using tracelet::values::Container;
using tracelet::values::Item;

// Outcome of an operation: a TWAIN return code and, for TWRC_FAILURE, the
// condition code.
struct Outcome {
    TW_UINT16 rc = TWRC_SUCCESS;
    TW_UINT16 cc = TWCC_SUCCESS;
};
inline Outcome Success(TW_UINT16 rc = TWRC_SUCCESS) { return {rc, TWCC_SUCCESS}; }
inline Outcome Failure(TW_UINT16 cc) { return {TWRC_FAILURE, cc}; }

// Applies a new scan area (inches): clipped to the bed, TWRC_CHECKSTATUS
// when clipping changed it, TWCC_BADVALUE when it is empty or off the bed.
Outcome ApplyFrame(ScanSettings& s, const Rect& wanted);
Rect DefaultFrame();

// What a capability holds now: the container MSG_GET answers with, and its
// current and default values.
struct CapState {
    Container offer;
    Item current, defaultValue;
};

class CapabilitySet {
public:
    explicit CapabilitySet(ScanSettings& settings);
    // The capability table refers to this object and to the settings.
    CapabilitySet(const CapabilitySet&) = delete;
    CapabilitySet& operator=(const CapabilitySet&) = delete;

    // DAT_CAPABILITY with one of MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT,
    // MSG_SET, MSG_RESET, MSG_RESETALL or MSG_QUERYSUPPORT. The caller has
    // checked the state; every answer but MSG_RESETALL's is a new container
    // in cap->hContainer.
    Outcome Handle(TW_UINT16 msg, TW_CAPABILITY* cap);

    bool Supports(TW_UINT16 id) const { return Find(id) != nullptr; }
    void Plant(const Faults& faults) { m_faults = faults; }
    std::vector<TW_UINT16> Ids() const;

private:
    struct Def {
        TW_UINT16 id;
        TW_UINT16 itemType;
        TW_UINT16 conType;  // container of MSG_GET
        bool settable;
        // Current state, with `current` and `defaultValue` always filled.
        std::function<CapState(const ScanSettings&)> describe;
        std::function<Outcome(ScanSettings&, const Item&)> set;
        std::function<void(ScanSettings&)> reset;
    };

    const Def* Find(TW_UINT16 id) const;
    Outcome ResetAll();
    void Add(Def def) { m_defs.push_back(std::move(def)); }
    void AddEnumeration(TW_UINT16 id, std::vector<TW_UINT16> values, TW_UINT16 ScanSettings::*field,
                        TW_UINT16 defaultValue);
    Outcome Answer(const Container& content, TW_CAPABILITY* cap) const;

    ScanSettings& m_settings;
    std::vector<Def> m_defs;
    Faults m_faults;
};

}  // namespace vscan

#endif  // TRACELET_VS_CAPABILITIES_H
