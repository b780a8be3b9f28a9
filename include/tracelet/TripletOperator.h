// Tracelet: the contract between the trace data source and its companion.
//
// The trace data source does no scanning. At load it opens the companion
// shared object at its fixed companion path, looks up the factory
// `CreateTwainWrapper` and calls it once. The factory stores a new
// TripletOperator in the slot it is given. From then on every triplet the
// data source manager sends is handed, unchanged, to TripletEntry, and its
// return code goes back to the manager unchanged. At unload the object is
// deleted through its virtual destructor, once, before the companion is
// closed.
//
// Build a companion against the same TWAIN binary layout as the data source
// (the CMake package sets it): see tracelet/twain.h.
#ifndef TRACELET_TRIPLET_OPERATOR_H
#define TRACELET_TRIPLET_OPERATOR_H

#include "tracelet/twain.h"

class TripletOperator {
public:
    // The first two slots are reserved; the data source never calls them.
    virtual void Reserved0() {}
    virtual void Reserved1() {}

    // Processes one triplet: the same five values the data source manager
    // passed to DS_Entry. Returns the TWAIN return code.
    virtual TW_UINT16 TripletEntry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                   TW_MEMREF pData) = 0;

    virtual ~TripletOperator() {}
};

// The factory a companion exports. `executableFileName` is the data source's
// own file name (no folder), valid only during the call: copy it to keep it.
// Store the new object in *slot; leaving it null means "no data source".
extern "C" void CreateTwainWrapper(const char* executableFileName, TripletOperator** slot);
typedef void (*CreateTwainWrapperProc)(const char* executableFileName, TripletOperator** slot);

#endif  // TRACELET_TRIPLET_OPERATOR_H
