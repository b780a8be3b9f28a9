// Captures of an application call's pData for the flight record: the
// structure its data argument type names, as it came in and as the source
// left it, the capability container behind its handle, and the image data
// of a transfer (its length and hash, and the bytes themselves in a file of
// their own when the image folder exists). Format: tracelet/flightrecord.h.
//
// Everything is read through a ForeignReader, bounded by the type's size,
// the container's own counts, the block's size where the layout knows it,
// and the record's per-capture bounds; nothing is written to the caller's
// memory, and nothing takes memory from the heap.
#ifndef TRACELET_RECORD_CAPTURE_H
#define TRACELET_RECORD_CAPTURE_H

#include <stddef.h>
#include <stdint.h>

#include "record/FlightRecorder.h"
#include "tracelet/twain.h"

namespace tracelet {
namespace record {

// pData going in (before the companion runs) or coming out (after it
// returned with `rc`). The container is read where the trace reads it: the
// one an application hands over with MSG_SET going in,
// and the one a call that succeeded leaves coming out.
void CaptureData(FlightRecorder& recorder, uint32_t callId, uint8_t phase, TW_UINT16 DAT, TW_UINT16 MSG,
                 const void* pData, TW_UINT16 rc);

// After an image transfer call that handed over data: its ImageRecord.
void CaptureImage(FlightRecorder& recorder, uint32_t callId, TW_UINT16 DAT, const void* pData, TW_UINT16 rc);

// The image data's length by its own bitmap header (a BITMAPINFOHEADER-style
// device-independent bitmap, uncompressed or with its image size stated);
// 0 when the header is not one.
uint64_t BitmapLength(const unsigned char* header, size_t bytes);

// The hash of `length` bytes at `data` as the record states it: XXH3-64
// seeded with the length, over all of them when they fit the sample,
// else over the sample (kCaptureHashSample bytes in 16 pieces, evenly
// spaced, the first and the last included). `hashed`: the bytes read;
// false when memory on the way could not be read.
bool SampleHash(const void* data, uint64_t length, uint64_t* hash, uint64_t* hashed, bool* full);

}  // namespace record
}  // namespace tracelet

#endif  // TRACELET_RECORD_CAPTURE_H
