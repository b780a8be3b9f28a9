#include "record/Capture.h"

#include <string.h>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "bounds/BlockTable.h"
#include "platform/CDSMInterface.h"
#include "platform/FlightFile.h"
#include "platform/ForeignReader.h"
#include "tracelet/twain_memory.h"
#include "tracelet/twain_nv.h"

namespace tracelet {
namespace record {

namespace fr = flightrecord;

namespace {

static_assert(sizeof(TW_PALETTE8) <= fr::kCaptureMaxStructure, "the largest fixed structure fits a capture");

template <class T>
T Min(T a, T b) { return a < b ? a : b; }

// Whether a handle found in a structure may be asked for its block: the
// memory it points to can be read (a handle of the macos layout is read
// for its size and its master pointer).
bool HandleReadable(TW_HANDLE h) {
#if defined(TRACELET_TWAIN_ABI_MACOS)
    constexpr size_t kBytes = sizeof(TwMasterPointerRecord);
#else
    constexpr size_t kBytes = 1;  // the block itself: its reader checks the rest
#endif
    if (!h) return false;
    ForeignReader in = ForeignReader::Unvouched(h, SIZE_MAX);
    return in.Readable(h, kBytes) == kBytes;
}

uint32_t Clamp32(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v); }

// What a capture keeps of a capability's container.
struct Block {
    bool present = false;
    uint64_t handle = 0;
    const char* data = nullptr;  // the block, where it is read
    uint64_t limit = UINT64_MAX;  // its size as the memory manager knows it
    uint64_t needed = 0;         // what its counts need
    uint32_t kept = 0;           // what is copied
    uint16_t conType = 0, itemType = 0;
    uint32_t numItems = 0;
    uint8_t flags = 0;
};

// The container behind a TW_CAPABILITY's handle, as far as it may be read:
// the same handles the trace reads, never a failed call's. `vouched`: the
// source just handed the handle over (the trace reads it as it is); one the
// application hands in is checked first, as no call has answered for it.
Block ContainerOf(const TW_CAPABILITY& cap, bool readable, bool vouched) {
    Block b;
    b.handle = reinterpret_cast<uintptr_t>(cap.hContainer);
    b.conType = cap.ConType;
    if (!cap.hContainer || !readable) return b;
    size_t head = 0;
    switch (cap.ConType) {
        case TWON_ARRAY: head = offsetof(TW_ARRAY, ItemList); break;
        case TWON_ENUMERATION: head = offsetof(TW_ENUMERATION, ItemList); break;
        case TWON_ONEVALUE: head = offsetof(TW_ONEVALUE, Item); break;
        case TWON_RANGE: head = sizeof(TW_RANGE); break;
        default: return b;
    }
    if (!vouched && !HandleReadable(cap.hContainer)) {
        b.flags |= fr::kCapBlockUnreadable;
        return b;
    }
    // Bounded as the trace bounds it: the block the source allocated in
    // this call, else the layout's own size, else the readable pages.
    const size_t size = bounds::ContainerBytes(cap.hContainer);
    if (size == 0) return b;  // a handle the memory manager does not know
    b.present = true;
    b.data = CDSMInterface::PeekMemory(cap.hContainer);
    b.limit = size == SIZE_MAX ? UINT64_MAX : size;
    ForeignReader in(b.data, size);
    unsigned char raw[sizeof(TW_ENUMERATION)] = {};
    const size_t got = in.Copy(raw, b.data, Min(head, Min<size_t>(sizeof raw, size)));
    if (got < sizeof(TW_UINT16)) {
        b.flags |= fr::kCapBlockUnreadable;
        return b;
    }
    memcpy(&b.itemType, raw, sizeof b.itemType);
    const uint64_t width = TwainItemSize(b.itemType);
    switch (cap.ConType) {
        case TWON_ARRAY:
        case TWON_ENUMERATION: {
            TW_UINT32 count = 0;
            const size_t at = cap.ConType == TWON_ARRAY ? offsetof(TW_ARRAY, NumItems) : offsetof(TW_ENUMERATION, NumItems);
            if (got >= at + sizeof count) memcpy(&count, raw + at, sizeof count);
            b.numItems = count;
            b.needed = head + count * width;
            break;
        }
        case TWON_ONEVALUE:
            b.numItems = 1;
            // A frame or a text runs on past Item.
            b.needed = head + width > sizeof(TW_ONEVALUE) ? head + width : sizeof(TW_ONEVALUE);
            break;
        default:
            b.needed = head;
            break;
    }
    uint64_t keep = Min<uint64_t>(b.needed, fr::kCaptureMaxBlock);
    if (keep < b.needed) b.flags |= fr::kCapBlockCut;
    if (b.limit < keep) {
        keep = b.limit;
        b.flags |= fr::kCapBlockTooSmall;
    }
    in.Expect(b.data, keep);
    b.kept = static_cast<uint32_t>(in.Readable(b.data, keep));
    if (b.kept < keep) b.flags |= fr::kCapBlockUnreadable;
    return b;
}

}  // namespace

void CaptureData(FlightRecorder& recorder, uint32_t callId, uint8_t phase, TW_UINT16 DAT, TW_UINT16 MSG,
                 const void* pData, TW_UINT16 rc) {
    if (!callId) return;
    uint8_t flags = pData ? 0 : fr::kCapNullData;
    uint64_t size = pData ? TwainStructureSize(DAT) : 0;
    ForeignReader in(pData, SIZE_MAX);
    // A TW_EXTIMAGEINFO is captured as its declared structure (one
    // TW_INFO): its NumInfos is the application's word, and nothing bounds
    // the block it claims, so the entries after the first are not read.
    uint32_t keep = static_cast<uint32_t>(Min<uint64_t>(size, fr::kCaptureMaxStructure));
    if (keep < size) flags |= fr::kCapStructureCut;
    unsigned char structure[fr::kCaptureMaxStructure];
    in.Expect(pData, keep);
    const uint32_t got = keep ? static_cast<uint32_t>(in.Copy(structure, pData, keep)) : 0;
    if (got < keep) flags |= fr::kCapStructureUnreadable;

    // The container an application hands over with a set, and the one a
    // call that succeeded leaves.
    Block block;
    if (DAT == DAT_CAPABILITY && got >= sizeof(TW_CAPABILITY)) {
        TW_CAPABILITY cap;
        memcpy(&cap, structure, sizeof cap);
        const bool given = phase == fr::kPhaseIn ? MSG == MSG_SET
                                                 : rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS;
        block = ContainerOf(cap, given, phase == fr::kPhaseOut);
        flags |= block.flags;
    }

    uint32_t index = 0;
    const uint32_t bytes = got + block.kept;
    auto* r = static_cast<fr::CaptureRecord*>(recorder.ReserveRecord(fr::kKindCapture, fr::CaptureSlots(bytes), &index));
    if (!r) return;
    r->kind = fr::kKindCapture;
    r->slots = static_cast<uint16_t>(fr::CaptureSlots(bytes));
    r->call_id = callId;
    r->phase = phase;
    r->flags = flags;
    r->block_kind = DAT == DAT_CAPABILITY && got >= sizeof(TW_CAPABILITY) ? fr::kBlockContainer : fr::kBlockNone;
    r->reserved0 = 0;
    r->data = reinterpret_cast<uintptr_t>(pData);
    r->structure_size = static_cast<uint32_t>(size);
    r->structure_bytes = got;
    r->handle = block.handle;
    r->block_size = Clamp32(block.needed);
    r->block_bytes = block.kept;
    r->con_type = block.conType;
    r->item_type = block.itemType;
    r->num_items = block.numItems;
    r->block_limit = block.limit;
    char* const data = reinterpret_cast<char*>(r + 1);
    memcpy(data, structure, got);
    if (block.kept) {
        ForeignReader from(block.data, block.limit == UINT64_MAX ? SIZE_MAX : block.limit);
        from.Copy(data + got, block.data, block.kept);
    }
    // The rest of the last slot: zero, not what a former load left there.
    const uint32_t room = (fr::CaptureSlots(bytes) - 1) * fr::kSlotSize;
    memset(data + bytes, 0, room - bytes);
    FlightRecorder::Publish(r, index, fr::kKindCapture);
}

uint64_t BitmapLength(const unsigned char* h, size_t bytes) {
    auto u32 = [h](size_t at) {
        uint32_t v;
        memcpy(&v, h + at, sizeof v);
        return v;
    };
    auto u16 = [h](size_t at) {
        uint16_t v;
        memcpy(&v, h + at, sizeof v);
        return v;
    };
    if (bytes < 40) return 0;
    const uint32_t headerSize = u32(0);
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124) return 0;
    const int32_t width = static_cast<int32_t>(u32(4));
    const int32_t height = static_cast<int32_t>(u32(8));
    const uint16_t planes = u16(12), bits = u16(14);
    const uint32_t compression = u32(16), imageSize = u32(20), colorsUsed = u32(32);
    if (planes != 1 || width <= 0 || height == 0 || height == INT32_MIN) return 0;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32 && bits != 48 && bits != 64)
        return 0;
    const uint64_t colors = colorsUsed ? colorsUsed : bits <= 8 ? (1u << bits) : 0;
    if (colors > 65536) return 0;
    const uint64_t rows = static_cast<uint64_t>(height < 0 ? -static_cast<int64_t>(height) : height);
    const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    // Uncompressed (BI_RGB, or BI_BITFIELDS with its masks in the header):
    // rows of whole 32-bit words; compressed: the size the header states.
    uint64_t pixels = stride * rows;
    if (compression == 3 && headerSize == 40) pixels += 12;
    else if (compression != 0 && compression != 3) pixels = imageSize;
    return pixels ? headerSize + colors * 4 + pixels : 0;
}

bool SampleHash(const void* data, uint64_t length, uint64_t* hash, uint64_t* hashed, bool* full) {
    constexpr uint64_t kPieces = 16, kPiece = fr::kCaptureHashSample / kPieces;
    const char* const p = static_cast<const char*>(data);
    ForeignReader in = ForeignReader::Unvouched(p, SIZE_MAX);
    in.Expect(p, length);
    *full = length <= fr::kCaptureHashSample;
    unsigned char sample[fr::kCaptureHashSample];
    uint64_t got = 0;
    bool readable = true;
    if (*full) {
        got = in.Copy(sample, p, static_cast<size_t>(length));
        readable = got == length;
    } else {
        // Piece k starts at k/15 of the way to the last piece's start.
        for (uint64_t k = 0; k < kPieces && readable; ++k) {
            const uint64_t at = (length - kPiece) * k / (kPieces - 1);
            const size_t n = in.Copy(sample + got, p + at, kPiece);
            got += n;
            readable = n == kPiece;
        }
    }
    *hash = XXH3_64bits_withSeed(sample, static_cast<size_t>(got), length);
    *hashed = got;
    return readable;
}

void CaptureImage(FlightRecorder& recorder, uint32_t callId, TW_UINT16 DAT, const void* pData, TW_UINT16 rc) {
    if (!callId || !pData) return;
    fr::ImageRecord image{};
    image.call_id = callId;
    const char* data = nullptr;
    ForeignReader in(pData, SIZE_MAX);
    if (DAT == DAT_IMAGEMEMXFER && (rc == TWRC_SUCCESS || rc == TWRC_XFERDONE)) {
        TW_IMAGEMEMXFER x;
        if (in.Copy(&x, pData, sizeof x) != sizeof x) return;
        image.transfer = fr::kTransferMemory;
        image.length_from = fr::kLengthBytesWritten;
        image.length = Min(x.BytesWritten, x.Memory.Length);
        data = static_cast<const char*>(x.Memory.TheMem);
        if ((x.Memory.Flags & TWMF_HANDLE) && data) {
            TW_HANDLE h = static_cast<TW_HANDLE>(x.Memory.TheMem);
            const size_t size = HandleReadable(h) ? bounds::ContainerBytes(h) : 0;
            data = size ? CDSMInterface::PeekMemory(h) : nullptr;
            if (size < image.length) image.length = size;
        }
    } else if (DAT == DAT_IMAGENATIVEXFER && rc == TWRC_XFERDONE) {
        TW_HANDLE h;
        if (in.Copy(&h, pData, sizeof h) != sizeof h || !h) return;
        image.transfer = fr::kTransferNative;
        // The block's size when the source allocated it in this call through
        // the entry point, or where the layout's handles know it.
        const size_t size = HandleReadable(h) ? bounds::ContainerBytes(h) : 0;
        if (size == 0) return;
        data = CDSMInterface::PeekMemory(h);
        if (size != SIZE_MAX) {
            image.length_from = fr::kLengthAllocation;
            image.length = size;
        } else if (data) {
            unsigned char header[124] = {};
            ForeignReader bitmap = ForeignReader::Unvouched(data, SIZE_MAX);
            const size_t got = bitmap.Copy(header, data, sizeof header);
            image.length = BitmapLength(header, got);
            image.length_from = image.length ? fr::kLengthImageHeader : fr::kLengthUnknown;
        }
    } else {
        return;
    }
    image.address = reinterpret_cast<uintptr_t>(data);
    if (!data) image.length = 0;

    char path[1024];
    size_t nameAt = 0;
    if (image.length && recorder.CapturesImages() && recorder.ImagePath(callId, path, sizeof path, &nameAt)) {
        // All the bytes, hashed as they are written.
        const int fd = platform::CreateFileExclusive(path);
        XXH3_state_t state;
        XXH3_INITSTATE(&state);
        XXH3_64bits_reset_withSeed(&state, image.length);
        ForeignReader bytes = ForeignReader::Unvouched(data, SIZE_MAX);
        uint64_t done = 0;
        bool written = fd >= 0;
        while (done < image.length) {
            const size_t want = static_cast<size_t>(Min<uint64_t>(image.length - done, 1u << 16));
            bytes.Expect(data + done, want);
            const size_t n = bytes.Readable(data + done, want);
            XXH3_64bits_update(&state, data + done, n);
            if (written && platform::WriteFile(fd, data + done, n) != n) written = false;
            else if (written) image.stored_bytes += n;
            done += n;
            if (n < want) {
                image.flags |= fr::kImageUnreadable;
                break;
            }
        }
        platform::CloseFile(fd);
        image.hash_kind = fr::kHashFull;
        image.hash = XXH3_64bits_digest(&state);
        image.hashed_bytes = done;
        if (written) {
            image.flags |= fr::kImageStored;
            const size_t n = Min(strlen(path + nameAt), sizeof image.file_name - 1);
            memcpy(image.file_name, path + nameAt, n);
        } else {
            image.flags |= fr::kImageWriteFailed;
        }
    } else if (image.length) {
        bool full = false;
        if (!SampleHash(data, image.length, &image.hash, &image.hashed_bytes, &full)) image.flags |= fr::kImageUnreadable;
        image.hash_kind = full ? fr::kHashFull : fr::kHashSample;
    }

    uint32_t index = 0;
    auto* r = static_cast<fr::ImageRecord*>(recorder.ReserveRecord(fr::kKindImage, 3, &index));
    if (!r) return;
    image.kind = fr::kKindImage;
    image.slots = 3;
    image.seal = 0;
    memcpy(reinterpret_cast<char*>(r) + sizeof image.seal, reinterpret_cast<const char*>(&image) + sizeof image.seal,
           sizeof image - sizeof image.seal);
    FlightRecorder::Publish(r, index, fr::kKindImage);
}

}  // namespace record
}  // namespace tracelet
