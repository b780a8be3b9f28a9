// Check group 2: the capabilities every source, and every image source,
// must answer.
#include "CertifyBench.h"

namespace certify {

// Each message on the capability answers; MSG_SET sets the current value.
void Bench::AllMessages(const char* check, TW_UINT16 cap, bool withSetAndReset) {
    m_rec.Ran(check);
    for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT}) {
        const Answer a = Cap(cap, msg);
        if (!a.ok()) {
            m_rec.Fail(check, a.call, CapName(cap) + " " + MsgName(msg) + " failed with " + CcName(a.cc));
            continue;
        }
        if (msg == MSG_GETCURRENT && withSetAndReset && a.c.One()) {
            const Answer s = SetCap(cap, a.c.itemType, *a.c.One());
            if (!s.ok())
                m_rec.Fail(check, s.call, CapName(cap) + " MSG_SET of its current value failed with " +
                                              CcName(s.cc));
        }
    }
    if (!withSetAndReset) return;
    const Answer r = Cap(cap, MSG_RESET);
    if (!r.ok()) m_rec.Fail(check, r.call, CapName(cap) + " MSG_RESET failed with " + CcName(r.cc));
}

void Bench::Mandatory() {
    if (!NeedOpen()) return;
    AllMessages("mandatory.xfercount", CAP_XFERCOUNT, true);
    m_rec.Ran("mandatory.lists");
    const Answer caps = Cap(CAP_SUPPORTEDCAPS, MSG_GET);
    if (!caps.ok())
        m_rec.Fail("mandatory.lists", caps.call, "CAP_SUPPORTEDCAPS MSG_GET failed with " + CcName(caps.cc));
    for (const Item& i : caps.c.items) m_supported.push_back(static_cast<TW_UINT16>(i.Word()));
    const Answer ui = Cap(CAP_UICONTROLLABLE, MSG_GET);
    if (!ui.ok())
        m_rec.Fail("mandatory.lists", ui.call, "CAP_UICONTROLLABLE MSG_GET failed with " + CcName(ui.cc));
    if (!m_isImage) {
        m_rec.NotApplicable("mandatory.image-read", "not an image source (no DG_IMAGE)");
        m_rec.NotApplicable("mandatory.image-all", "not an image source (no DG_IMAGE)");
        return;
    }
    for (TW_UINT16 cap : {ICAP_COMPRESSION, ICAP_PLANARCHUNKY, ICAP_PHYSICALHEIGHT, ICAP_PHYSICALWIDTH,
                          ICAP_PIXELFLAVOR})
        AllMessages("mandatory.image-read", cap, false);
    for (TW_UINT16 cap : {ICAP_BITDEPTH, ICAP_BITORDER, ICAP_PIXELTYPE, ICAP_UNITS, ICAP_XFERMECH,
                          ICAP_XRESOLUTION, ICAP_YRESOLUTION})
        AllMessages("mandatory.image-all", cap, true);
}

}  // namespace certify
