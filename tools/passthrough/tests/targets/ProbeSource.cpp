// The probe data source (see ProbeControl.h), built twice: PROBE_NAME is the
// product name it gives, so a test can tell which one answered.
#include <string.h>

#include "ProbeControl.h"
#include "TwainValues.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

ProbeControl g_control;
int g_depth = 0;

TW_IDENTITY OwnIdentity() {
    TW_IDENTITY id;
    memset(&id, 0, sizeof id);
    id.ProtocolMajor = 2;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
    tracelet::values::PutFieldText(id.ProductName, PROBE_NAME);
    return id;
}

TW_UINT16 Answer(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    if (DG == DG_CONTROL && DAT == DAT_IDENTITY && MSG == MSG_GET && pData) {
        *static_cast<pTW_IDENTITY>(pData) = OwnIdentity();
        return TWRC_SUCCESS;
    }
    if (DG == DG_CONTROL && DAT == DAT_ENTRYPOINT && MSG == MSG_SET && pData) {
        g_control.dsmEntry = static_cast<pTW_ENTRYPOINT>(pData)->DSM_Entry;
        return TWRC_SUCCESS;
    }
    if (DG == DG_CONTROL && DAT == DAT_USERINTERFACE && MSG == MSG_ENABLEDS && g_control.dsmEntry) {
        TW_IDENTITY self = OwnIdentity();
        g_control.dsmEntry(&self, pOrigin, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr);
    }
    if (DAT == PROBE_DAT_CALLS_HOOK && g_control.hook) g_control.hook(g_control.context);
    if (DAT == PROBE_DAT_WRITES_ANSWER && pData) *static_cast<TW_UINT32*>(pData) = kProbeAnswer;
    return g_control.rc;
}

}  // namespace

EXPORT ProbeControl* ProbeControlBlock() { return &g_control; }

EXPORT TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    if (g_control.calls < 64)
        g_control.call[g_control.calls] = ProbeCall{pOrigin, DG, DAT, MSG, pData, g_depth};
    ++g_control.calls;
    ++g_depth;
    const TW_UINT16 rc = Answer(pOrigin, DG, DAT, MSG, pData);
    --g_depth;
    return rc;
}
