// Globals and hooks of the data source shell.
#ifndef TRACELET_DATASOURCE_H
#define TRACELET_DATASOURCE_H

#include "platform/Platform.h"
#include "tracelet/TripletOperator.h"

extern "C" {
// The object that really processes triplets; null until the factory fills it.
extern TRACELET_EXPORT TripletOperator* g_pcTripletOperator;
// The opened companion (loader handle); null if it could not be opened.
extern TRACELET_EXPORT void* g_TwainWrapperBundleRef;
// The companion's factory once found.
extern TRACELET_EXPORT CreateTwainWrapperProc g_fnDsCreate;

TRACELET_EXPORT void MachO_Initialization();
TRACELET_EXPORT void MachO_Termination();
TRACELET_EXPORT TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                   TW_MEMREF pData);
}

#endif  // TRACELET_DATASOURCE_H
