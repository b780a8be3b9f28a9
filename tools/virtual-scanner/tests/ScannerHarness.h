// Drives a virtual scanner directly, as a data source manager and an
// application would, and reads what it hands back without the scanner's own
// container code.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "ContainerBytes.h"
#include "VirtualScanner.h"

namespace vstest {

// The value of a packed structure's field, read where it lies (the assertion
// macros take references, which may be misaligned).
template <class T> T Field(T value) { return value; }

inline TW_FIX32 ToFix(double v) {
    const auto scaled = static_cast<std::int32_t>(std::lround(v * 65536.0));
    return TW_FIX32{static_cast<TW_INT16>(scaled >> 16), static_cast<TW_UINT16>(scaled & 0xffff)};
}
inline std::uint32_t Fix(double v) {
    std::uint32_t w;
    const TW_FIX32 f = ToFix(v);
    std::memcpy(&w, &f, 4);
    return w;
}
inline double FixValue(TW_FIX32 f) { return f.Whole + f.Frac / 65536.0; }
inline double FixValue(std::uint32_t w) {
    TW_FIX32 f;
    std::memcpy(&f, &w, 4);
    return FixValue(f);
}
inline TW_FRAME MakeFrame(double l, double t, double r, double b) { return {ToFix(l), ToFix(t), ToFix(r), ToFix(b)}; }

// A capability's container as the application reads it.
struct Container {
    TW_UINT16 conType = 0, itemType = 0;
    std::vector<std::uint32_t> items;  // one-value: its item
    std::vector<TW_FRAME> frames;
    std::uint32_t currentIndex = 0, defaultIndex = 0, minValue = 0, maxValue = 0, stepSize = 0, currentValue = 0;
};

class ScannerTest : public ::testing::Test {
protected:
    ScannerTest() : m_ds(CreateVirtualScanner()) {
        m_app.Id = 1;
        m_app.ProtocolMajor = 2;
        m_app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    }

    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        return m_ds->TripletEntry(&m_app, dg, dat, msg, data);
    }
    TW_UINT16 Condition() {
        TW_STATUS status{};
        EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status));
        return status.ConditionCode;
    }
    void Open() {
        TW_IDENTITY id{};
        id.Id = 2;
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id));
    }
    void Enable(bool showUI = false) {
        TW_USERINTERFACE ui{};
        ui.ShowUI = showUI;
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    }
    TW_UINT16 ProcessEvent(TW_UINT16* message) {
        TW_EVENT event{};
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
        *message = event.TWMessage;
        return rc;
    }
    // Enabled and told of a page: state 6.
    void ToTransferReady() {
        Enable();
        TW_UINT16 message = 0;
        ASSERT_EQ(TWRC_DSEVENT, ProcessEvent(&message));
        ASSERT_EQ(MSG_XFERREADY, message);
    }

    // MSG_SET of a one-value (or, with conType, another container type).
    template <class T = std::uint32_t>
    TW_UINT16 SetOne(TW_UINT16 cap, TW_UINT16 itemType, T item, TW_UINT16 conType = TWON_ONEVALUE) {
        std::vector<unsigned char> bytes(offsetof(TW_ONEVALUE, Item));
        std::memcpy(bytes.data(), &itemType, 2);
        Put(bytes, item);
        TW_CAPABILITY c{cap, conType, HandleOf(bytes)};
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
        TwainDisposeHandle(c.hContainer);
        return rc;
    }
    TW_UINT16 SetFrame(const TW_FRAME& frame) { return SetOne(ICAP_FRAMES, TWTY_FRAME, frame); }

    // A capability operation that answers with a container; the container
    // is read and disposed of as an application does.
    TW_UINT16 Get(TW_UINT16 cap, TW_UINT16 msg, Container* out) {
        TW_CAPABILITY c{cap, TWON_DONTCARE16, nullptr};
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, msg, &c);
        EXPECT_EQ(rc != TWRC_SUCCESS, c.hContainer == nullptr) << "a container exactly when it succeeds";
        if (rc != TWRC_SUCCESS) return rc;
        *out = Container();
        out->conType = c.ConType;
        auto* p = static_cast<const unsigned char*>(TwainLockHandle(c.hContainer));
        auto u32 = [&](std::size_t at, std::size_t size = 4) {
            std::uint32_t v = 0;
            std::memcpy(&v, p + at, std::min<std::size_t>(size, 4));
            return v;
        };
        std::memcpy(&out->itemType, p, 2);
        const std::size_t size = TwainItemSize(out->itemType);
        const bool isEnum = c.ConType == TWON_ENUMERATION, isArray = c.ConType == TWON_ARRAY;
        const std::uint32_t n = isEnum ? u32(offsetof(TW_ENUMERATION, NumItems))
                                : isArray ? u32(offsetof(TW_ARRAY, NumItems))
                                          : c.ConType == TWON_ONEVALUE;
        const std::size_t list = isEnum ? offsetof(TW_ENUMERATION, ItemList)
                                 : isArray ? offsetof(TW_ARRAY, ItemList)
                                           : offsetof(TW_ONEVALUE, Item);
        if (isEnum) out->currentIndex = u32(offsetof(TW_ENUMERATION, CurrentIndex));
        if (isEnum) out->defaultIndex = u32(offsetof(TW_ENUMERATION, DefaultIndex));
        if (c.ConType == TWON_RANGE) {
            out->minValue = u32(offsetof(TW_RANGE, MinValue), size);
            out->maxValue = u32(offsetof(TW_RANGE, MaxValue), size);
            out->stepSize = u32(offsetof(TW_RANGE, StepSize), size);
            out->currentValue = u32(offsetof(TW_RANGE, CurrentValue), size);
        }
        for (std::uint32_t i = 0; i < n; ++i)
            if (out->itemType == TWTY_FRAME) std::memcpy(&out->frames.emplace_back(), p + list + i * size, size);
            else out->items.push_back(u32(list + i * size, size));
        TwainUnlockHandle(c.hContainer);
        TwainDisposeHandle(c.hContainer);
        return rc;
    }

    TW_IMAGEINFO ImageInfo() {
        TW_IMAGEINFO info{};
        EXPECT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
        return info;
    }

    // A whole page by memory transfer into buffers of `bufferSize` bytes, pointers
    // or one handle. (The conformance run checks how strips tile a page.)
    std::vector<unsigned char> MemoryPage(std::uint32_t bufferSize, int* strips = nullptr, bool handle = false) {
        const TW_IMAGEINFO info = ImageInfo();
        const std::size_t row = (std::size_t(info.ImageWidth) * info.BitsPerPixel + 7) / 8;
        std::vector<unsigned char> page(row * info.ImageLength), buffer(bufferSize);
        TW_HANDLE h = handle ? TwainNewHandle(bufferSize) : nullptr;
        int count = 0;
        for (TW_UINT16 rc = TWRC_SUCCESS; rc == TWRC_SUCCESS; ++count) {
            TW_IMAGEMEMXFER x{};
            x.Memory = {TW_UINT32(TWMF_APPOWNS | (handle ? TWMF_HANDLE : TWMF_POINTER)), bufferSize,
                        handle ? static_cast<TW_MEMREF>(h) : buffer.data()};
            rc = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
            EXPECT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) << "strip " << count << ": " << rc;
            if ((rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) || x.YOffset * row + x.BytesWritten > page.size()) break;
            std::memcpy(page.data() + x.YOffset * row, handle ? TwainLockHandle(h) : buffer.data(), x.BytesWritten);
            if (handle) TwainUnlockHandle(h);
        }
        if (h) TwainDisposeHandle(h);
        if (strips) *strips = count;
        return page;
    }

    TW_UINT16 EndXfer(TW_UINT16* count) {
        TW_PENDINGXFERS px{};
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &px);
        *count = px.Count;
        return rc;
    }

    std::unique_ptr<TripletOperator> m_ds;
    TW_IDENTITY m_app{};
};

}  // namespace vstest
