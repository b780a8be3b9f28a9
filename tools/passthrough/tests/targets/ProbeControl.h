// The probe data source: a stand-in target for the pass-through companion
// that records every call it receives and answers what the test sets.
// The test reaches its control block through the loader (ProbeControlBlock).
#ifndef TRACELET_PASSTHROUGH_TEST_PROBECONTROL_H
#define TRACELET_PASSTHROUGH_TEST_PROBECONTROL_H

#include "tracelet/twain.h"

// Custom operations, above the vendor operations the trace data source
// knows. During the first the probe calls the test's hook, as a source
// calls back into its host while it is being called; the second's pData
// starts with a TW_UINT32 the probe overwrites with kProbeAnswer.
#define PROBE_DAT_CALLS_HOOK (DAT_CUSTOMBASE + 0x100)
#define PROBE_DAT_WRITES_ANSWER (DAT_CUSTOMBASE + 0x101)
static const TW_UINT32 kProbeAnswer = 0x5eed1e55u;

struct ProbeCall {
    pTW_IDENTITY origin;
    TW_UINT32 DG;
    TW_UINT16 DAT;
    TW_UINT16 MSG;
    TW_MEMREF data;
    int depth;  // calls of the probe in progress when this one arrived
};

struct ProbeControl {
    enum { kMaxCalls = 64 };
    int calls;  // all calls; the first kMaxCalls are kept in `call`
    ProbeCall call[kMaxCalls];

    // Return code of every call the probe does not answer itself
    // (it answers DAT_IDENTITY/MSG_GET and DAT_ENTRYPOINT/MSG_SET).
    TW_UINT16 rc;

    // Called during PROBE_DAT_CALLS_HOOK.
    void (*hook)(void* context);
    void* context;

    // The manager's entry point, from DAT_ENTRYPOINT/MSG_SET. The probe
    // calls it with DAT_NULL/MSG_XFERREADY on DAT_USERINTERFACE/MSG_ENABLEDS,
    // as a source announces a transfer.
    DSMENTRYPROC dsmEntry;
};

extern "C" ProbeControl* ProbeControlBlock();

#endif  // TRACELET_PASSTHROUGH_TEST_PROBECONTROL_H
