// The virtual scanner: a TWAIN data source (states 3 to 7) that scans a
// generated test page. It answers triplets through the TripletOperator
// interface, so it can sit behind the trace data source as its companion or
// behind a data source shell of its own.
#ifndef TRACELET_VIRTUAL_SCANNER_H
#define TRACELET_VIRTUAL_SCANNER_H

#include "tracelet/TripletOperator.h"

// A new virtual scanner in state 3 (loaded, not open). The caller owns it.
TripletOperator* CreateVirtualScanner();

#endif  // TRACELET_VIRTUAL_SCANNER_H
