// The test companion's control block. A test reaches it with dlsym on the
// companion it made the data source load, and tells the TripletOperator what
// to answer and what to write behind pData.
#ifndef TRACELET_TEST_SCRIPTCONTROL_H
#define TRACELET_TEST_SCRIPTCONTROL_H

#include "tracelet/twain.h"

struct ScriptControl {
    TW_UINT16 rc = TWRC_SUCCESS;  // what TripletEntry returns
    // When set, called with the triplet so that a test can fill pData.
    void (*fill)(void* context, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) = nullptr;
    void* context = nullptr;
    bool throwNext = false;  // TripletEntry throws instead of answering, once

    // What the companion saw.
    int calls = 0, factoryCalls = 0, destroyed = 0;
    pTW_IDENTITY lastOrigin = nullptr;
    TW_UINT32 lastDG = 0;
    TW_UINT16 lastDAT = 0, lastMSG = 0;
    TW_MEMREF lastData = nullptr;
    char factoryName[512] = {};
};

// Exported by the test companion.
extern "C" ScriptControl* ScriptedCompanionControl();

#endif  // TRACELET_TEST_SCRIPTCONTROL_H
