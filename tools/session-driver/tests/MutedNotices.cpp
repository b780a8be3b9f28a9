// A data source that passes every call to the virtual scanner's, but whose
// notices never reach the manager: the scanner is handed a manager entry
// that refuses DAT_NULL, so it keeps its notices for an event loop that a
// callback application does not run.
#include <dlfcn.h>

#include "tracelet/twain.h"

namespace {

DSMENTRYPROC s_manager = nullptr;

TW_UINT16 Refusing(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                   TW_MEMREF data) {
    if (dat == DAT_NULL || !s_manager) return TWRC_FAILURE;
    return s_manager(origin, dest, dg, dat, msg, data);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg,
                                                                     TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    static const auto scanner =
        reinterpret_cast<DSENTRYPROC>(dlsym(dlopen(VIRTUAL_SCANNER_DS, RTLD_NOW | RTLD_LOCAL), "DS_Entry"));
    if (dat == DAT_ENTRYPOINT && msg == MSG_SET && data) {
        TW_ENTRYPOINT entry = *static_cast<pTW_ENTRYPOINT>(data);
        s_manager = entry.DSM_Entry;
        entry.DSM_Entry = Refusing;
        return scanner(origin, dg, dat, msg, &entry);
    }
    return scanner(origin, dg, dat, msg, data);
}
