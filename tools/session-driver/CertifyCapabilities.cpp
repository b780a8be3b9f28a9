// Check group 3: every capability the source lists answers each message as
// it says it does, takes the values it offers, and resets to its default.
#include "CertifyBench.h"

#include <algorithm>
#include <tuple>

#include "tracelet/twain_memory.h"

namespace certify {

int Bench::StandardType(TW_UINT16 cap) {
    switch (cap) {
    case CAP_XFERCOUNT: return TWTY_INT16;
    case CAP_UICONTROLLABLE: return TWTY_BOOL;
    case CAP_SUPPORTEDCAPS:
    case ICAP_XFERMECH:
    case ICAP_PIXELTYPE:
    case ICAP_UNITS:
    case ICAP_BITDEPTH:
    case ICAP_BITORDER:
    case ICAP_COMPRESSION:
    case ICAP_PLANARCHUNKY:
    case ICAP_PIXELFLAVOR: return TWTY_UINT16;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION:
    case ICAP_PHYSICALWIDTH:
    case ICAP_PHYSICALHEIGHT: return TWTY_FIX32;
    default: return -1;
    }
}

void Bench::EveryCapability() {
    if (!NeedOpen()) return;
    for (const char* id : {"caps.querysupport", "caps.itemtype", "caps.container", "caps.standard-types",
                           "caps.current-offered", "caps.set", "caps.reset", "caps.resetall"})
        m_rec.Ran(id);
    int settable = 0;
    std::vector<std::tuple<TW_UINT16, TW_UINT16, Item>> originals, moved;
    for (TW_UINT16 cap : m_supported) {
        const std::string name = CapName(cap);
        const Answer qs = Cap(cap, MSG_QUERYSUPPORT);
        TW_INT32 ops = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
        if (!qs.ok() || !qs.c.One() || qs.c.itemType != TWTY_INT32) {
            m_rec.Fail("caps.querysupport", qs.call,
                       name + ": MSG_QUERYSUPPORT " +
                           (qs.ok() ? "did not answer a TW_ONEVALUE of TWTY_INT32" : "failed with " + CcName(qs.cc)));
        } else {
            ops = static_cast<TW_INT32>(qs.c.One()->Word());
        }
        m_queryOps[cap] = ops;
        const Answer get = Cap(cap, MSG_GET);
        const Answer cur = Cap(cap, MSG_GETCURRENT);
        const Answer def = Cap(cap, MSG_GETDEFAULT);
        const struct {
            TW_INT32 flag;
            const Answer* a;
            TW_UINT16 msg;
        } claims[] = {{TWQC_GET, &get, MSG_GET}, {TWQC_GETCURRENT, &cur, MSG_GETCURRENT},
                      {TWQC_GETDEFAULT, &def, MSG_GETDEFAULT}};
        for (const auto& k : claims)
            if ((ops & k.flag) && !k.a->ok())
                m_rec.Fail("caps.querysupport", k.a->call,
                           name + ": MSG_QUERYSUPPORT claims " + MsgName(k.msg) + ", which failed with " +
                               CcName(k.a->cc));
        if (!get.ok() || !cur.ok() || !def.ok()) continue;

        if (cur.c.itemType != get.c.itemType || def.c.itemType != get.c.itemType)
            m_rec.Fail("caps.itemtype", cur.c.itemType != get.c.itemType ? cur.call : def.call,
                       name + ": MSG_GET gives " + TypeName(get.c.itemType) + ", MSG_GETCURRENT " +
                           TypeName(cur.c.itemType) + ", MSG_GETDEFAULT " + TypeName(def.c.itemType));
        const TW_UINT16 oneCon = get.c.conType == TWON_ARRAY ? TW_UINT16(TWON_ARRAY) : TW_UINT16(TWON_ONEVALUE);
        for (const Answer* a : {&cur, &def})
            if (a->c.conType != oneCon)
                m_rec.Fail("caps.container", a->call,
                           name + ": " + (a == &cur ? "MSG_GETCURRENT" : "MSG_GETDEFAULT") + " answered in " +
                               ConName(a->c.conType) + ", not " + ConName(oneCon));
        const int standard = StandardType(cap);
        if (standard >= 0 && get.c.itemType != standard)
            m_rec.Fail("caps.standard-types", get.call,
                       name + " is " + TypeName(get.c.itemType) + ", not " + TypeName(TW_UINT16(standard)));
        if (cap == CAP_SUPPORTEDCAPS && get.c.conType != TWON_ARRAY)
            m_rec.Fail("caps.standard-types", get.call, name + " answered in " + ConName(get.c.conType) +
                                                            ", not TWON_ARRAY");
        if (!get.readable || !cur.readable || !def.readable) continue;
        if (cur.c.One() && get.c.conType != TWON_ARRAY && !IsOffered(get.c, *cur.c.One()))
            m_rec.Fail("caps.current-offered", cur.call,
                       name + ": the current value " + ItemText(cur.c.itemType, *cur.c.One(), cap) +
                           " is not among what MSG_GET offers");

        if (!(ops & TWQC_SET) || !cur.c.One()) continue;
        ++settable;
        const Item original = *cur.c.One();
        bool changed = false;
        for (const Item& value : Offered(get.c)) {
            const Answer s = SetCap(cap, get.c.itemType, value);
            if (!s.ok()) {
                m_rec.Fail("caps.set", s.call, name + ": MSG_SET of the offered " +
                                                   ItemText(get.c.itemType, value, cap) + " failed with " +
                                                   CcName(s.cc));
                continue;
            }
            const Answer back = Cap(cap, MSG_GETCURRENT);
            // TWRC_CHECKSTATUS: the source took a value close to it.
            if (s.rc == TWRC_SUCCESS && back.ok() && back.c.One() && *back.c.One() != value)
                m_rec.Fail("caps.set", back.call, name + ": set to " + ItemText(get.c.itemType, value, cap) +
                                                      ", MSG_GETCURRENT gives " +
                                                      ItemText(get.c.itemType, *back.c.One(), cap));
            if (def.c.One() && value != *def.c.One() && !changed) {
                changed = true;
                moved.push_back({cap, get.c.itemType, value});
            }
        }
        if ((ops & TWQC_RESET) && changed && HeldToDefault(cap)) {
            // Leave a value other than the default, then reset it.
            for (const Item& value : Offered(get.c)) {
                if (value == *def.c.One()) continue;
                SetCap(cap, get.c.itemType, value);
                break;
            }
            const Answer r = Cap(cap, MSG_RESET);
            const Answer after = Cap(cap, MSG_GETCURRENT);
            if (!r.ok())
                m_rec.Fail("caps.reset", r.call, name + ": MSG_RESET failed with " + CcName(r.cc));
            else if (after.ok() && after.c.One() && *after.c.One() != *def.c.One())
                m_rec.Fail("caps.reset", after.call, name + ": after MSG_RESET, MSG_GETCURRENT gives " +
                                                         ItemText(get.c.itemType, *after.c.One(), cap) +
                                                         ", MSG_GETDEFAULT " +
                                                         ItemText(get.c.itemType, *def.c.One(), cap));
        }
        // Restore what it was.
        SetCap(cap, get.c.itemType, original);
        originals.push_back({cap, get.c.itemType, original});
    }
    if (!settable) m_rec.NotApplicable("caps.set", "no capability takes MSG_SET");
    // MSG_RESETALL must have something to undo: every capability that
    // took a value other than its default is left at it.
    for (const auto& [cap, type, value] : moved) SetCap(cap, type, value);
    ResetAll();
    for (const auto& [cap, type, value] : originals) SetCap(cap, type, value);
}

// Whether MSG_RESET and MSG_RESETALL must bring the capability back to its
// default: not when TWAIN lets an application only read it (a feeder's
// paper sensor), nor when its MSG_QUERYSUPPORT offers neither MSG_SET nor
// MSG_RESET.
bool Bench::HeldToDefault(TW_UINT16 cap) {
    if (twnames::ReadOnly(cap)) return false;
    auto it = m_queryOps.find(cap);
    if (it == m_queryOps.end()) {
        const Answer qs = Cap(cap, MSG_QUERYSUPPORT);
        const TW_INT32 ops = qs.ok() && qs.c.One() ? static_cast<TW_INT32>(qs.c.One()->Word()) : 0;
        it = m_queryOps.emplace(cap, ops).first;
    }
    return (it->second & (TWQC_SET | TWQC_RESET)) != 0;
}

void Bench::ResetAll() {
    TW_CAPABILITY all{};
    all.Cap = CAP_SUPPORTEDCAPS;
    all.ConType = TWON_DONTCARE16;
    const TW_UINT16 rc = Send(DG_CONTROL, DAT_CAPABILITY, MSG_RESETALL, &all);
    if (all.hContainer) TwainDisposeHandle(all.hContainer);
    if (rc == TWRC_FAILURE) {
        m_rec.Fail("caps.resetall", m_lastCall, "MSG_RESETALL failed with " + CcName(m_lastCc));
        return;
    }
    for (TW_UINT16 cap : m_supported) {
        if (!HeldToDefault(cap)) continue;
        const Answer cur = Cap(cap, MSG_GETCURRENT);
        const Answer def = Cap(cap, MSG_GETDEFAULT);
        if (cur.ok() && def.ok() && cur.c.One() && def.c.One() && *cur.c.One() != *def.c.One())
            m_rec.Fail("caps.resetall", cur.call, CapName(cap) + ": after MSG_RESETALL, MSG_GETCURRENT gives " +
                                                      ItemText(cur.c.itemType, *cur.c.One(), cap) +
                                                      ", MSG_GETDEFAULT " + ItemText(def.c.itemType, *def.c.One(), cap));
    }
}

}  // namespace certify
