// Check group 5: triplets out of turn fail with TWCC_SEQERROR, and the
// source stays usable after them.
#include "CertifyBench.h"

#include <cstring>

#include "trace/states.hpp"

namespace certify {

namespace {

// A triplet sent in a state the standard does not allow it in.
struct OutOfTurn {
    int state;
    TW_UINT32 dg;
    TW_UINT16 dat, msg;
    const char *dgName, *datName, *msgName;
};

}  // namespace

void Bench::SendOutOfTurn(int state) {
#define CERTIFY_TRIPLET(s, dg, dat, msg) {s, dg, dat, msg, #dg, #dat, #msg}
    static const OutOfTurn table[] = {
        CERTIFY_TRIPLET(6, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS),
        CERTIFY_TRIPLET(6, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS),
        CERTIFY_TRIPLET(6, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET),
        CERTIFY_TRIPLET(5, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET),
        CERTIFY_TRIPLET(5, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS),
        CERTIFY_TRIPLET(5, DG_IMAGE, DAT_IMAGEINFO, MSG_GET),
        CERTIFY_TRIPLET(5, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER),
        CERTIFY_TRIPLET(4, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER),
        CERTIFY_TRIPLET(4, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET),
        CERTIFY_TRIPLET(4, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS),
        CERTIFY_TRIPLET(4, DG_IMAGE, DAT_IMAGEINFO, MSG_GET),
    };
#undef CERTIFY_TRIPLET
    const tracelet::trace::ValidStates& valid = tracelet::trace::ValidStates::builtin();
    for (const OutOfTurn& t : table) {
        if (t.state != state) continue;
        const tracelet::trace::TripletStates* allowed = valid.find(t.dgName, t.datName, t.msgName);
        if (!allowed || allowed->allows(state)) continue;
        // Each with a structure a source would take in the right state.
        union {
            TW_USERINTERFACE ui;
            TW_IDENTITY id;
            TW_IMAGELAYOUT layout;
            TW_IMAGEINFO info;
            TW_PENDINGXFERS px;
        } data;
        std::memset(&data, 0, sizeof data);
        if (t.dat == DAT_IMAGELAYOUT) data.layout = m_layout;
        if (t.dat == DAT_IDENTITY) data.id = m_source;
        const TW_UINT16 rc = Send(t.dg, t.dat, t.msg, &data);
        m_rec.Ran("sequence.seqerror");
        const std::string what = std::string(t.datName) + "/" + t.msgName + " in state " + std::to_string(state);
        if (rc != TWRC_FAILURE)
            m_rec.Fail("sequence.seqerror", m_lastCall, what + " returned " + RcName(rc));
        else if (m_lastCc != TWCC_SEQERROR)
            m_rec.Fail("sequence.seqerror", m_lastCall, what + " failed with " + CcName(m_lastCc));
    }
}

void Bench::Usable(TW_UINT16 rc, const std::string& what) {
    m_rec.Ran("sequence.usable");
    if (rc != TWRC_SUCCESS)
        m_rec.Fail("sequence.usable", m_lastCall, what + " failed afterwards with " + CcName(m_lastCc));
}

void Bench::Sequence() {
    if (!NeedOpen()) return;
    Send(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &m_layout);
    SendOutOfTurn(4);
    Answer a = Cap(CAP_XFERCOUNT, MSG_GET);
    Usable(a.rc, "CAP_XFERCOUNT MSG_GET");
    SetCap(CAP_XFERCOUNT, TWTY_INT16, Word(TWTY_INT16, 1));
    const Batch b = Enable();
    if (!b.enabled) {
        Usable(TWRC_FAILURE, "MSG_ENABLEDS");
        return;
    }
    if (b.ready) {
        SendOutOfTurn(6);
        TW_PENDINGXFERS px{};
        Usable(Send(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &px), "DAT_PENDINGXFERS/MSG_RESET");
    }
    SendOutOfTurn(5);
    Usable(Disable(), "MSG_DISABLEDS");
    Usable(Close() ? TWRC_SUCCESS : TWRC_FAILURE, "MSG_CLOSEDS");
    Usable(Open() ? TWRC_SUCCESS : TWRC_FAILURE, "MSG_OPENDS");
}

}  // namespace certify
