// The probe data source: a stand-in target for the pass-through companion
// that records every call it receives and answers what the test sets. The
// test reaches its control block through the loader (ProbeControlBlock).
#ifndef TRACELET_PASSTHROUGH_TEST_PROBECONTROL_H
#define TRACELET_PASSTHROUGH_TEST_PROBECONTROL_H

#include "tracelet/twain.h"

// Custom operations: during the first the probe calls the test's hook, as a
// source calls back into its host; the second's pData starts with a
// TW_UINT32 the probe overwrites with kProbeAnswer.
#define PROBE_DAT_CALLS_HOOK (DAT_CUSTOMBASE + 0x100)
#define PROBE_DAT_WRITES_ANSWER (DAT_CUSTOMBASE + 0x101)
static const TW_UINT32 kProbeAnswer = 0x5eed1e55u;

struct ProbeCall {
    pTW_IDENTITY origin;
    TW_UINT32 DG;
    TW_UINT16 DAT, MSG;
    TW_MEMREF data;
    int depth;  // calls of the probe in progress when this one arrived
};

struct ProbeControl {
    int calls;  // all calls; the first 64 are kept
    ProbeCall call[64];
    TW_UINT16 rc;  // of every call but DAT_IDENTITY/MSG_GET and DAT_ENTRYPOINT/MSG_SET
    void (*hook)(void* context);
    void* context;
    // From DAT_ENTRYPOINT/MSG_SET; called with DAT_NULL/MSG_XFERREADY on
    // MSG_ENABLEDS, as a source announces a transfer.
    DSMENTRYPROC dsmEntry;
};

extern "C" ProbeControl* ProbeControlBlock();

#endif  // TRACELET_PASSTHROUGH_TEST_PROBECONTROL_H
