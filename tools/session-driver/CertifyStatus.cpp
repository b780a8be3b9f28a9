// Check group 4: the condition code after a refused capability, and after
// the success that follows it.
#include "CertifyBench.h"

namespace certify {

void Bench::Refused(const Answer& a, const std::string& what) {
    m_rec.Ran("status.refused-capability");
    if (a.rc != TWRC_FAILURE) return;
    if (a.cc != TWCC_CAPUNSUPPORTED && a.cc != TWCC_BADVALUE && a.cc != TWCC_CAPBADOPERATION)
        m_rec.Fail("status.refused-capability", a.call, what + " was refused with " + CcName(a.cc));
    // A success right after: the condition code must not stay.
    const Answer ok = Cap(CAP_XFERCOUNT, MSG_GETCURRENT);
    if (!ok.ok()) return;
    long call = 0;
    const TW_UINT16 cc = StatusNow(&call);
    m_rec.Ran("status.after-success");
    if (cc != TWCC_SUCCESS)
        m_rec.Fail("status.after-success", call, "after a failure with " + CcName(a.cc) +
                                                     " and the success just before, DAT_STATUS gives " + CcName(cc));
}

void Bench::StatusGroup() {
    if (!NeedOpen()) return;
    for (TW_UINT16 cap : {TW_UINT16(CAP_DEVICEONLINE), TW_UINT16(CAP_LANGUAGE), TW_UINT16(0x7fff)}) {
        if (Supported(cap)) continue;
        Refused(Cap(cap, MSG_GET), "MSG_GET of the unlisted " + CapName(cap));
        break;
    }
    if (Supported(ICAP_PIXELTYPE))
        Refused(SetCap(ICAP_PIXELTYPE, TWTY_UINT16, Word(TWTY_UINT16, 0x7fff)), "ICAP_PIXELTYPE = 32767");
    for (TW_UINT16 cap : m_supported) {
        const Answer qs = Cap(cap, MSG_QUERYSUPPORT);
        if (!qs.ok() || !qs.c.One() || (qs.c.One()->Word() & TWQC_SET)) continue;
        const Answer cur = Cap(cap, MSG_GETCURRENT);
        if (!cur.ok() || !cur.c.One()) continue;
        Refused(SetCap(cap, cur.c.itemType, *cur.c.One()), "MSG_SET of the read-only " + CapName(cap));
        break;
    }
}

}  // namespace certify
