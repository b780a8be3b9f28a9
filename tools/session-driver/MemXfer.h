// The application's side of a memory transfer, shared by the scan session and
// the conformance run.
#ifndef TRACELET_SESSION_MEMXFER_H
#define TRACELET_SESSION_MEMXFER_H

#include "tracelet/twain.h"

namespace session {

// A DAT_IMAGEMEMXFER/MSG_GET request into the application's own buffer.
// Every field the source is to fill starts as -1, so that one it leaves
// alone shows.
inline TW_IMAGEMEMXFER MemXferRequest(void* buffer, TW_UINT32 length) {
    TW_IMAGEMEMXFER x{};
    x.Compression = TWON_DONTCARE16;
    x.BytesPerRow = x.Columns = x.Rows = x.XOffset = x.YOffset = x.BytesWritten = 0xffffffffu;
    x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    x.Memory.Length = length;
    x.Memory.TheMem = buffer;
    return x;
}

}  // namespace session

#endif  // TRACELET_SESSION_MEMXFER_H
