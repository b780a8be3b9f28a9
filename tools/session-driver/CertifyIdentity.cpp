// Check group 1: what a manager asks first, opening, closing and reopening.
#include "CertifyBench.h"

#include "tracelet/twain_memory.h"

namespace certify {

void Bench::Identity() {
    // What a manager asks first, with no origin.
    TW_IDENTITY id{};
    id.Id = 2;
    const TW_UINT16 rc = Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id, nullptr);
    m_rec.Ran("identity.get");
    if (rc != TWRC_SUCCESS)
        m_rec.Fail("identity.get", m_call, "returned " + RcName(rc));
    else if (!id.ProductName[0] || !id.Manufacturer[0])
        m_rec.Fail("identity.get", m_call, "no product name or no manufacturer");
    m_source = id;
    m_source.Id = 2;
    m_isImage = (id.SupportedGroups & DG_IMAGE) != 0;
    m_rec.Line({{"type", "source"},
                {"name", FieldText(id.ProductName)},
                {"manufacturer", FieldText(id.Manufacturer)},
                {"family", FieldText(id.ProductFamily)},
                {"version", FieldText(id.Version.Info)},
                {"protocol", std::to_string(id.ProtocolMajor) + "." + std::to_string(id.ProtocolMinor)}});

    if (id.SupportedGroups & DF_DS2) {
        // The manager's memory functions are the handle functions every
        // part of this program uses.
        TW_ENTRYPOINT entry{sizeof(TW_ENTRYPOINT), ManagerEntry, TwainNewHandle, TwainDisposeHandle,
                            TwainLockHandle, TwainUnlockHandle};
        Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry, &m_app);
    }

    m_rec.Ran("identity.open");
    if (!Open()) {
        m_rec.Fail("identity.open", m_lastCall, "refused with " + CcName(m_lastCc));
        return;
    }
    m_rec.Ran("identity.close");
    if (!Close()) {
        m_rec.Fail("identity.close", m_lastCall, "refused with " + CcName(m_lastCc));
        return;
    }
    m_rec.Ran("identity.reopen");
    if (!Open()) m_rec.Fail("identity.reopen", m_lastCall, "refused with " + CcName(m_lastCc));
}

}  // namespace certify
