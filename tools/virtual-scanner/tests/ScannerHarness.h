// Drives a virtual scanner directly, as a data source manager and an
// application would, and reads the containers it hands back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "TwainValues.h"
#include "VirtualScanner.h"
#include "tracelet/twain_memory.h"

namespace vstest {

namespace values = tracelet::values;
using tracelet::values::Fix32Value;
using tracelet::values::Fix32Word;
using tracelet::values::Frame;

// The value of a packed structure's field, read where it lies (the assertion
// macros take references, which may be misaligned).
template <class T> T Field(T value) { return value; }

// A capability's container as the application reads it: numbers as their
// 32-bit words, frames apart.
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
        const values::Item bytes = values::Item::OfBytes(&item, sizeof item);
        TW_CAPABILITY c{cap, conType, values::BuildContainer(values::Container::OneValue(itemType, bytes))};
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
        values::Container read;
        EXPECT_TRUE(values::ReadContainer(c.hContainer, c.ConType, &read)) << "a whole container";
        TwainDisposeHandle(c.hContainer);
        *out = Container();
        out->conType = read.conType;
        out->itemType = read.itemType;
        for (const auto& item : read.items)
            if (read.itemType == TWTY_FRAME) out->frames.push_back(item.Frame());
            else out->items.push_back(item.Word());
        out->currentIndex = read.currentIndex;
        out->defaultIndex = read.defaultIndex;
        out->minValue = read.minValue.Word();
        out->maxValue = read.maxValue.Word();
        out->stepSize = read.stepSize.Word();
        out->currentValue = read.currentValue.Word();
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
