// A data source that passes every call to the virtual scanner's, except that
// the last memory strip of a page claims to start one row further down, so
// that it reaches past the page its image info describes.
#include <dlfcn.h>

#include "tracelet/twain.h"

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg,
                                                                     TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    static const auto scanner =
        reinterpret_cast<DSENTRYPROC>(dlsym(dlopen(VIRTUAL_SCANNER_DS, RTLD_NOW | RTLD_LOCAL), "DS_Entry"));
    const TW_UINT16 rc = scanner(origin, dg, dat, msg, data);
    if (dat == DAT_IMAGEMEMXFER && rc == TWRC_XFERDONE) ++static_cast<pTW_IMAGEMEMXFER>(data)->YOffset;
    return rc;
}
