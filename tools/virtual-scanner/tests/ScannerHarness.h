// Drives a virtual scanner directly, as a data source manager and an
// application would, and reads what it hands back without the scanner's own
// container code.
#ifndef TRACELET_VS_SCANNER_HARNESS_H
#define TRACELET_VS_SCANNER_HARNESS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "VirtualScanner.h"
#include "tracelet/twain_memory.h"

namespace vstest {

// The value of a field, read where it lies. The TWAIN structures are
// packed, so a reference to one of their fields (as the assertion macros
// take) may be misaligned.
template <class T>
T Field(T value) {
    return value;
}

// A capability's container as the application reads it.
struct Container {
    TW_UINT16 conType = 0;
    TW_UINT16 itemType = 0;
    std::vector<std::uint32_t> items;  // one-value: its item
    std::vector<TW_FRAME> frames;
    std::uint32_t numItems = 0, currentIndex = 0, defaultIndex = 0;
    std::uint32_t minValue = 0, maxValue = 0, stepSize = 0, defaultValue = 0, currentValue = 0;
};

inline std::uint32_t Fix(double v) {
    const auto scaled = static_cast<std::int32_t>(v * 65536.0 + (v < 0 ? -0.5 : 0.5));
    TW_FIX32 f;
    f.Whole = static_cast<TW_INT16>(scaled >> 16);
    f.Frac = static_cast<TW_UINT16>(scaled & 0xffff);
    std::uint32_t w;
    std::memcpy(&w, &f, 4);
    return w;
}
inline double FixValue(std::uint32_t w) {
    TW_FIX32 f;
    std::memcpy(&f, &w, 4);
    return f.Whole + f.Frac / 65536.0;
}
inline double FixValue(TW_FIX32 f) { return f.Whole + f.Frac / 65536.0; }
inline TW_FIX32 ToFix(double v) {
    const std::uint32_t w = Fix(v);
    TW_FIX32 f;
    std::memcpy(&f, &w, 4);
    return f;
}
inline TW_FRAME MakeFrame(double l, double t, double r, double b) { return {ToFix(l), ToFix(t), ToFix(r), ToFix(b)}; }

class ScannerTest : public ::testing::Test {
protected:
    ScannerTest() : m_ds(CreateVirtualScanner()) {
        m_app.Id = 1;
        m_app.ProtocolMajor = 2;
        m_app.ProtocolMinor = 4;
        m_app.SupportedGroups = DG_CONTROL | DG_IMAGE;
        std::strcpy(m_app.ProductName, "scanner test");
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

    TW_UINT16 SetOne(TW_UINT16 cap, TW_UINT16 itemType, std::uint32_t item, TW_UINT16 conType = TWON_ONEVALUE) {
        TW_CAPABILITY c{};
        c.Cap = cap;
        c.ConType = conType;
        c.hContainer = TwainNewHandle(sizeof(TW_ONEVALUE) + sizeof(TW_FRAME));
        auto* p = static_cast<unsigned char*>(TwainLockHandle(c.hContainer));
        std::memcpy(p + offsetof(TW_ONEVALUE, ItemType), &itemType, 2);
        std::memcpy(p + offsetof(TW_ONEVALUE, Item), &item, 4);
        TwainUnlockHandle(c.hContainer);
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
        TwainDisposeHandle(c.hContainer);
        return rc;
    }

    TW_UINT16 SetFrame(const TW_FRAME& frame) {
        TW_CAPABILITY c{};
        c.Cap = ICAP_FRAMES;
        c.ConType = TWON_ONEVALUE;
        c.hContainer = TwainNewHandle(offsetof(TW_ONEVALUE, Item) + sizeof(TW_FRAME));
        auto* p = static_cast<unsigned char*>(TwainLockHandle(c.hContainer));
        const TW_UINT16 type = TWTY_FRAME;
        std::memcpy(p + offsetof(TW_ONEVALUE, ItemType), &type, 2);
        std::memcpy(p + offsetof(TW_ONEVALUE, Item), &frame, sizeof frame);
        TwainUnlockHandle(c.hContainer);
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
        TwainDisposeHandle(c.hContainer);
        return rc;
    }

    // A capability operation that answers with a container; the container
    // is read and disposed of as an application does.
    TW_UINT16 Get(TW_UINT16 cap, TW_UINT16 msg, Container* out) {
        TW_CAPABILITY c{};
        c.Cap = cap;
        c.ConType = TWON_DONTCARE16;
        const TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, msg, &c);
        if (rc != TWRC_SUCCESS) {
            EXPECT_EQ(nullptr, Field(c.hContainer)) << "a failed call hands back no container";
            return rc;
        }
        *out = Container{};
        out->conType = c.ConType;
        auto* p = static_cast<const unsigned char*>(TwainLockHandle(c.hContainer));
        EXPECT_NE(nullptr, p);
        if (!p) return TWRC_FAILURE;
        std::memcpy(&out->itemType, p, 2);
        const std::size_t size = ItemSize(out->itemType);
        auto item = [&](std::size_t at) {
            std::uint32_t v = 0;
            std::memcpy(&v, p + at, size > 4 ? 4 : size);
            return v;
        };
        auto u32 = [&](std::size_t at) {
            std::uint32_t v;
            std::memcpy(&v, p + at, 4);
            return v;
        };
        std::size_t list = 0;
        switch (c.ConType) {
        case TWON_ONEVALUE:
            out->numItems = 1;
            list = offsetof(TW_ONEVALUE, Item);
            break;
        case TWON_ENUMERATION:
            out->numItems = u32(offsetof(TW_ENUMERATION, NumItems));
            out->currentIndex = u32(offsetof(TW_ENUMERATION, CurrentIndex));
            out->defaultIndex = u32(offsetof(TW_ENUMERATION, DefaultIndex));
            list = offsetof(TW_ENUMERATION, ItemList);
            break;
        case TWON_ARRAY:
            out->numItems = u32(offsetof(TW_ARRAY, NumItems));
            list = offsetof(TW_ARRAY, ItemList);
            break;
        case TWON_RANGE:
            out->minValue = item(offsetof(TW_RANGE, MinValue));
            out->maxValue = item(offsetof(TW_RANGE, MaxValue));
            out->stepSize = item(offsetof(TW_RANGE, StepSize));
            out->defaultValue = item(offsetof(TW_RANGE, DefaultValue));
            out->currentValue = item(offsetof(TW_RANGE, CurrentValue));
            break;
        default: ADD_FAILURE() << "unknown container type " << c.ConType;
        }
        for (std::uint32_t i = 0; i < out->numItems; ++i) {
            if (out->itemType == TWTY_FRAME) {
                TW_FRAME f;
                std::memcpy(&f, p + list + i * sizeof f, sizeof f);
                out->frames.push_back(f);
            } else {
                out->items.push_back(item(list + i * size));
            }
        }
        TwainUnlockHandle(c.hContainer);
        TwainDisposeHandle(c.hContainer);
        return rc;
    }

    static std::size_t ItemSize(TW_UINT16 type) {
        switch (type) {
        case TWTY_INT8:
        case TWTY_UINT8: return 1;
        case TWTY_INT16:
        case TWTY_UINT16:
        case TWTY_BOOL: return 2;
        case TWTY_FRAME: return sizeof(TW_FRAME);
        default: return 4;
        }
    }

    TW_IMAGEINFO ImageInfo() {
        TW_IMAGEINFO info{};
        EXPECT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
        return info;
    }

    // A whole page by memory transfer into buffers of `bufferSize` bytes.
    std::vector<unsigned char> MemoryPage(std::uint32_t bufferSize, int* strips = nullptr) {
        const TW_IMAGEINFO info = ImageInfo();
        const std::size_t row = (std::size_t(info.ImageWidth) * info.BitsPerPixel + 7) / 8;
        std::vector<unsigned char> page(row * info.ImageLength);
        std::vector<unsigned char> buffer(bufferSize);
        std::uint32_t nextRow = 0;
        int count = 0;
        for (;;) {
            TW_IMAGEMEMXFER x{};
            x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            x.Memory.Length = bufferSize;
            x.Memory.TheMem = buffer.data();
            const TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
            if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
                ADD_FAILURE() << "strip " << count << " returned " << rc;
                break;
            }
            ++count;
            EXPECT_EQ(nextRow, Field(x.YOffset)) << "strips follow one another";
            EXPECT_EQ(std::uint32_t(info.ImageWidth), Field(x.Columns));
            EXPECT_EQ(row, Field(x.BytesPerRow));
            EXPECT_EQ(x.Rows * x.BytesPerRow, Field(x.BytesWritten));
            EXPECT_LE(Field(x.BytesWritten), bufferSize);
            if (x.YOffset + x.Rows > std::uint32_t(info.ImageLength)) {
                ADD_FAILURE() << "strip past the page";
                break;
            }
            std::memcpy(page.data() + x.YOffset * row, buffer.data(), x.BytesWritten);
            nextRow += x.Rows;
            if (rc == TWRC_XFERDONE) break;
        }
        EXPECT_EQ(std::uint32_t(info.ImageLength), nextRow) << "the last strip ends the page";
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

#endif  // TRACELET_VS_SCANNER_HARNESS_H
