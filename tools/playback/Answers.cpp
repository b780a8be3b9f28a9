#include "Answers.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>

#include "NativeImage.h"
#include "tracelet/twain_memory.h"

namespace tracelet {
namespace playback {

namespace {

// Messages whose pData the source fills in.
bool AsksForValues(uint16_t msg) {
    switch (msg) {
    case MSG_GET: case MSG_GETCURRENT: case MSG_GETDEFAULT: case MSG_GETFIRST: case MSG_GETNEXT:
    case MSG_RESET: case MSG_QUERYSUPPORT: case MSG_ENDXFER: case MSG_OPENDS: case MSG_PROCESSEVENT:
        return true;
    default:
        return false;
    }
}

// Keeps `field` of the application's structure at `data` across a copy.
template <typename Struct, typename Field>
struct Kept {
    Struct* s;
    Field Struct::*field;
    Field value;
    Kept(void* data, Field Struct::*f) : s(static_cast<Struct*>(data)), field(f), value(s->*f) {}
    ~Kept() { s->*field = value; }
    Kept(const Kept&) = delete;
    Kept& operator=(const Kept&) = delete;
};
template <typename Struct, typename Field>
Kept<Struct, Field> Keep(void* data, Field Struct::*field) {
    return Kept<Struct, Field>(data, field);
}

void CopyWhole(const std::string& out, uint16_t dat, void* data) {
    switch (dat) {
    case DAT_IDENTITY: {
        const auto id = Keep(data, &TW_IDENTITY::Id);
        std::memcpy(data, out.data(), std::min(out.size(), sizeof(TW_IDENTITY)));
        return;
    }
    case DAT_EVENT: {
        const auto event = Keep(data, &TW_EVENT::pEvent);
        std::memcpy(data, out.data(), std::min(out.size(), sizeof(TW_EVENT)));
        return;
    }
    case DAT_USERINTERFACE: {
        const auto parent = Keep(data, &TW_USERINTERFACE::hParent);
        std::memcpy(data, out.data(), std::min(out.size(), sizeof(TW_USERINTERFACE)));
        return;
    }
    case DAT_EXTIMAGEINFO: {
        // As many entries as the application made room for.
        const TW_UINT32 room = static_cast<TW_EXTIMAGEINFO*>(data)->NumInfos;
        const std::size_t size = offsetof(TW_EXTIMAGEINFO, Info) + std::size_t(room) * sizeof(TW_INFO);
        const auto count = Keep(data, &TW_EXTIMAGEINFO::NumInfos);
        std::memcpy(data, out.data(), std::min(out.size(), size));
        return;
    }
    default:
        std::memcpy(data, out.data(), out.size());
    }
}

}  // namespace

TW_HANDLE HandleWith(const std::string& bytes) {
    TW_HANDLE h = TwainNewHandle(static_cast<TW_UINT32>(bytes.size()));
    if (!h) return nullptr;
    if (!bytes.empty()) std::memcpy(TwainLockHandle(h), bytes.data(), bytes.size());
    TwainUnlockHandle(h);
    return h;
}

void WriteStructure(const RecordedCall& recorded, void* data) {
    const uint16_t dat = recorded.dat;
    if (dat == DAT_ENTRYPOINT || dat == DAT_IMAGEMEMXFER || dat == DAT_IMAGENATIVEXFER) return;
    if (recorded.out.empty()) return;
    if (!AsksForValues(recorded.msg)) {
        // Only what the source changed; the rest is the application's.
        const std::size_t n = std::min(recorded.in.size(), recorded.out.size());
        auto* bytes = static_cast<char*>(data);
        for (std::size_t i = 0; i < n; ++i)
            if (recorded.in[i] != recorded.out[i]) bytes[i] = recorded.out[i];
        return;
    }
    CopyWhole(recorded.out, dat, data);
    if (dat == DAT_CAPABILITY) {
        // The recorded handle belonged to the recorded host.
        auto* cap = static_cast<TW_CAPABILITY*>(data);
        // A failed call hands the application no container to free.
        const bool answered = recorded.rc == TWRC_SUCCESS || recorded.rc == TWRC_CHECKSTATUS;
        cap->hContainer = recorded.container && answered && !recorded.containerBytes.empty()
                              ? HandleWith(recorded.containerBytes)
                              : nullptr;
    }
}

bool ReadImage(const RecordedImage& image, std::string* bytes) {
    if (image.file.empty()) return false;
    std::ifstream in(image.file, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && bytes->size() == image.length;
}

std::string GeneratedRows(uint32_t bytesPerRow, uint32_t rows) {
    std::string page(std::size_t(bytesPerRow) * rows, '\0');
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t c = 0; c < bytesPerRow; ++c)
            page[std::size_t(r) * bytesPerRow + c] = static_cast<char>(((r + c) / 16 % 2) ? 0xff : 0x40);
    return page;
}

std::string GeneratedNative(const std::string& imageInfo) {
    if (imageInfo.size() < sizeof(TW_IMAGEINFO)) return "";
    TW_IMAGEINFO info;
    std::memcpy(&info, imageInfo.data(), sizeof info);
    if (info.ImageWidth <= 0 || info.ImageLength <= 0 || info.BitsPerPixel <= 0) return "";
    VsNativeImageHeader h{};
    std::memcpy(h.magic, kVsNativeMagic, sizeof h.magic);
    h.headerSize = sizeof h;
    h.width = static_cast<uint32_t>(info.ImageWidth);
    h.height = static_cast<uint32_t>(info.ImageLength);
    h.bytesPerRow = (h.width * static_cast<uint32_t>(info.BitsPerPixel) + 7) / 8;
    h.pixelType = static_cast<uint16_t>(info.PixelType);
    h.bitsPerPixel = static_cast<uint16_t>(info.BitsPerPixel);
    h.samplesPerPixel = static_cast<uint16_t>(info.SamplesPerPixel);
    h.bitsPerSample = static_cast<uint16_t>(info.BitsPerSample[0]);
    h.xResolution = static_cast<uint16_t>(info.XResolution.Whole);
    h.yResolution = static_cast<uint16_t>(info.YResolution.Whole);
    return std::string(reinterpret_cast<const char*>(&h), sizeof h) + GeneratedRows(h.bytesPerRow, h.height);
}

void PagePlayer::Start(const RecordedCall& recorded, bool* generated) {
    page_ = &recorded;
    active_ = true;
    next_ = offset_ = 0;
    rows_ = 0;
    bytes_.clear();
    *generated = false;
    std::memset(&first_, 0, sizeof first_);
    if (!recorded.strips.empty())
        std::memcpy(&first_, recorded.strips[0].out.data(), std::min(recorded.strips[0].out.size(), sizeof first_));
    bool stored = true;
    for (const RecordedStrip& s : recorded.strips) {
        TW_IMAGEMEMXFER x{};
        std::memcpy(&x, s.out.data(), std::min(s.out.size(), sizeof x));
        if (s.rc == TWRC_SUCCESS || s.rc == TWRC_XFERDONE) rows_ += x.Rows;
        std::string strip;
        if (stored && s.image.present && ReadImage(s.image, &strip))
            bytes_ += strip;
        else if (s.image.present)
            stored = false;
    }
    recut_ = first_.Compression == TWCP_NONE && first_.BytesPerRow > 0;
    if (!stored) {
        *generated = true;
        first_.Compression = TWCP_NONE;
        bytes_ = GeneratedRows(first_.BytesPerRow, rows_);
        recut_ = first_.BytesPerRow > 0;
    }
}

TW_UINT16 PagePlayer::Next(TW_IMAGEMEMXFER* xfer, TW_UINT16* code) {
    const TW_MEMORY memory = xfer->Memory;
    const bool handle = (memory.Flags & TWMF_HANDLE) != 0;
    if (!memory.TheMem) {
        *code = TWCC_BADVALUE;
        return TWRC_FAILURE;
    }
    std::size_t rows = 0, from = 0, length = 0;
    TW_UINT16 rc = TWRC_SUCCESS;
    if (recut_) {
        rows = std::min<std::size_t>(memory.Length / first_.BytesPerRow, rows_ - next_);
        if (rows == 0) {
            *code = TWCC_BADVALUE;  // not one row fits
            return TWRC_FAILURE;
        }
        from = next_ * first_.BytesPerRow;
        length = rows * first_.BytesPerRow;
        *xfer = first_;
        xfer->Rows = static_cast<TW_UINT32>(rows);
        xfer->YOffset = static_cast<TW_UINT32>(next_);
        next_ += rows;
        if (next_ >= rows_) rc = TWRC_XFERDONE;
    } else {
        const RecordedStrip& s = page_->strips[next_++];
        std::memcpy(xfer, s.out.data(), std::min(s.out.size(), sizeof *xfer));
        from = offset_;
        length = std::min<std::size_t>(xfer->BytesWritten, bytes_.size() - std::min(offset_, bytes_.size()));
        if (length > memory.Length) {
            *xfer = TW_IMAGEMEMXFER{};
            xfer->Memory = memory;
            *code = TWCC_BADVALUE;  // a compressed strip is not cut afresh
            return TWRC_FAILURE;
        }
        offset_ += length;
        rc = s.rc;
        if (next_ >= page_->strips.size()) rc = TWRC_XFERDONE;
    }
    xfer->Memory = memory;
    xfer->BytesWritten = static_cast<TW_UINT32>(length);
    void* target = handle ? TwainLockHandle(static_cast<TW_HANDLE>(memory.TheMem)) : memory.TheMem;
    if (length) std::memcpy(target, bytes_.data() + from, length);
    if (handle) TwainUnlockHandle(static_cast<TW_HANDLE>(memory.TheMem));
    if (rc != TWRC_SUCCESS) active_ = false;
    return rc;
}

}  // namespace playback
}  // namespace tracelet
