// The virtual scanner as a TWAIN data source of its own: a .ds that a data
// source manager (or the pass-through companion) loads and calls through
// DS_Entry. One scanner object lives from load to unload.
#include "VirtualScanner.h"

namespace {

TripletOperator* g_pcScanner = nullptr;

// Runs when the loader maps this object. Initialisers run in link order and
// this file comes first, which is safe because the scanner core has no
// load-time initialisers: its tables are constants and its state lives in
// the object created here.
__attribute__((constructor)) void LoadScanner() {
    try {
        g_pcScanner = CreateVirtualScanner();
    } catch (...) {
        g_pcScanner = nullptr;  // every call fails then
    }
}

__attribute__((destructor)) void UnloadScanner() {
    delete g_pcScanner;
    g_pcScanner = nullptr;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG,
                                                                    TW_UINT16 DAT, TW_UINT16 MSG,
                                                                    TW_MEMREF pData) {
    if (!g_pcScanner) return TWRC_FAILURE;
    try {
        return g_pcScanner->TripletEntry(pOrigin, DG, DAT, MSG, pData);
    } catch (...) {
        return TWRC_FAILURE;  // nothing may unwind into the manager
    }
}
