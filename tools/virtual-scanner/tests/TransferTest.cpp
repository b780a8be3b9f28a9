// Transfers: the page follows the negotiated resolution, pixel type and
// frame; memory strips and the native block carry the same pixels; a batch
// counts down its pages.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "NativeImage.h"
#include "ScannerHarness.h"

namespace vstest {
namespace {

class TransferTest : public ScannerTest {
protected:
    void SetUp() override { Open(); }

    // The pixels of a native transfer, after checking its header against
    // the image info.
    std::vector<unsigned char> NativePage() {
        const TW_IMAGEINFO info = ImageInfo();
        TW_HANDLE h = nullptr;
        EXPECT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h));
        if (!h) return {};
        auto* p = static_cast<const unsigned char*>(TwainLockHandle(h));
        VsNativeImageHeader header;
        std::memcpy(&header, p, sizeof header);
        EXPECT_EQ(0, std::memcmp(header.magic, "TVSI", 4));
        EXPECT_EQ(32u, header.headerSize);
        EXPECT_EQ(std::uint32_t(info.ImageWidth), header.width);
        EXPECT_EQ(std::uint32_t(info.ImageLength), header.height);
        EXPECT_EQ(std::uint16_t(info.BitsPerPixel), header.bitsPerPixel);
        EXPECT_EQ(std::uint16_t(info.PixelType), header.pixelType);
        EXPECT_EQ((header.width * header.bitsPerPixel + 7) / 8, header.bytesPerRow);
        std::vector<unsigned char> page(p + header.headerSize,
                                        p + header.headerSize + std::size_t(header.bytesPerRow) * header.height);
        TwainUnlockHandle(h);
        TwainDisposeHandle(h);
        return page;
    }

    void Negotiate(TW_UINT16 pixelType, double dpi, const TW_FRAME& frame) {
        ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, pixelType));
        ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_XRESOLUTION, TWTY_FIX32, Fix(dpi)));
        ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_YRESOLUTION, TWTY_FIX32, Fix(dpi)));
        ASSERT_EQ(TWRC_SUCCESS, SetFrame(frame));
    }
};

TEST_F(TransferTest, ThePageFollowsResolutionPixelTypeAndFrame) {
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_XRESOLUTION, TWTY_FIX32, Fix(200)));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_YRESOLUTION, TWTY_FIX32, Fix(100)));
    TW_IMAGELAYOUT layout{};
    layout.Frame = MakeFrame(1, 1, 3, 4);
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout));
    ToTransferReady();
    const TW_IMAGEINFO info = ImageInfo();
    EXPECT_EQ(400, Field(info.ImageWidth));
    EXPECT_EQ(300, Field(info.ImageLength));
    EXPECT_EQ(1, info.SamplesPerPixel);
    EXPECT_EQ(8, info.BitsPerSample[0]);
    EXPECT_EQ(8, info.BitsPerPixel);
    EXPECT_EQ(TWPT_GRAY, info.PixelType);
    EXPECT_EQ(TWCP_NONE, info.Compression);
    EXPECT_EQ(200.0, FixValue(info.XResolution));
    EXPECT_EQ(100.0, FixValue(info.YResolution));
    TW_SETUPMEMXFER setup{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup));
    EXPECT_EQ(400u, Field(setup.MinBufSize)) << "one row";
    EXPECT_EQ(0u, setup.Preferred % 400) << "whole rows";
    EXPECT_LE(Field(setup.Preferred), Field(setup.MaxBufSize));
}

TEST_F(TransferTest, MemoryStripsAndTheNativeBlockCarryTheSamePixels) {
    Negotiate(TWPT_RGB, 75, MakeFrame(0, 0, 8.5, 11));
    ToTransferReady();
    int strips = 0;
    const std::vector<unsigned char> byMemory = MemoryPage(32 * 1024, &strips);
    EXPECT_GT(strips, 10);

    m_ds.reset(CreateVirtualScanner());
    Open();
    Negotiate(TWPT_RGB, 75, MakeFrame(0, 0, 8.5, 11));
    ToTransferReady();
    const std::vector<unsigned char> native = NativePage();
    ASSERT_EQ(byMemory.size(), native.size());
    EXPECT_TRUE(byMemory == native);
    EXPECT_NE(std::count(native.begin(), native.end(), 0), long(native.size())) << "not a blank page";
}

TEST_F(TransferTest, StripsGoIntoHandleBuffersToo) {
    Negotiate(TWPT_GRAY, 75, MakeFrame(0, 0, 2, 2));
    ToTransferReady();
    const TW_IMAGEINFO info = ImageInfo();
    TW_HANDLE buffer = TwainNewHandle(150 * 100);
    std::vector<unsigned char> page;
    TW_UINT16 rc;
    do {
        TW_IMAGEMEMXFER x{};
        x.Memory.Flags = TWMF_APPOWNS | TWMF_HANDLE;
        x.Memory.Length = 150 * 100;
        x.Memory.TheMem = buffer;
        rc = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
        ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE);
        auto* p = static_cast<const unsigned char*>(TwainLockHandle(buffer));
        page.insert(page.end(), p, p + x.BytesWritten);
        TwainUnlockHandle(buffer);
    } while (rc == TWRC_SUCCESS);
    TwainDisposeHandle(buffer);
    EXPECT_EQ(std::size_t(info.ImageWidth) * info.ImageLength, page.size());
    EXPECT_EQ(0, page[0]) << "the glass's black border";
    EXPECT_EQ(255, page[20 * 150 + 20]) << "white paper";
}

TEST_F(TransferTest, BlackAndWhitePacksEightPixelsAByteWithZeroForBlack) {
    Negotiate(TWPT_BW, 75, MakeFrame(0, 0, 1, 1));
    ToTransferReady();
    const TW_IMAGEINFO info = ImageInfo();
    EXPECT_EQ(1, info.BitsPerPixel);
    const std::vector<unsigned char> page = NativePage();
    ASSERT_EQ(10u * 75, page.size()) << "75 pixels in 10 bytes a row";
    auto bit = [&](int x, int y) { return (page[y * 10 + x / 8] >> (7 - x % 8)) & 1; };
    EXPECT_EQ(0, bit(0, 0)) << "border";
    EXPECT_EQ(0, bit(2, 40)) << "border";
    EXPECT_EQ(1, bit(20, 20)) << "paper";
}

TEST_F(TransferTest, SixteenBitSamplesSpanTheWholeScaleAndBrightnessLiftsBlack) {
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_BRIGHTNESS, TWTY_FIX32, Fix(1000)));
    Negotiate(TWPT_GRAY, 75, MakeFrame(0, 0, 1, 1));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_BITDEPTH, TWTY_UINT16, 16));
    ToTransferReady();
    EXPECT_EQ(16, ImageInfo().BitsPerPixel);
    const std::vector<unsigned char> page = NativePage();
    ASSERT_EQ(2u * 75 * 75, page.size());
    auto sample = [&](int x, int y) {
        std::uint16_t v;
        std::memcpy(&v, &page[(y * 75 + x) * 2], 2);
        return v;
    };
    EXPECT_EQ(128 * 257, sample(0, 0)) << "black, half way up";
    EXPECT_EQ(65535, sample(20, 20)) << "white stays white";
}

TEST_F(TransferTest, ABatchCountsDownItsPagesAndEachPageKnowsItsNumber) {
    ASSERT_EQ(TWRC_SUCCESS, SetOne(CAP_XFERCOUNT, TWTY_INT16, 3));
    Negotiate(TWPT_GRAY, 75, MakeFrame(0, 2, 4, 3));  // the strip with the page-number squares
    ToTransferReady();
    std::vector<std::vector<unsigned char>> pages;
    for (TW_UINT16 expectedLeft : {2, 1, 0}) {
        TW_IMAGELAYOUT layout{};
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout));
        EXPECT_EQ(pages.size() + 1, Field(layout.PageNumber));
        pages.push_back(NativePage());
        TW_UINT16 count = 99;
        ASSERT_EQ(TWRC_SUCCESS, EndXfer(&count));
        EXPECT_EQ(expectedLeft, count);
    }
    EXPECT_NE(pages[0], pages[1]) << "page numbers are drawn on the page";
    TW_UINT16 message = 0;
    EXPECT_EQ(TWRC_NOTDSEVENT, ProcessEvent(&message)) << "no further event without a user interface";
    TW_USERINTERFACE ui{};
    EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui)) << "back in state 5";
}

TEST_F(TransferTest, SkippingAPageAndResettingTheRestEndTheBatch) {
    ASSERT_EQ(TWRC_SUCCESS, SetOne(CAP_XFERCOUNT, TWTY_INT16, 3));
    ToTransferReady();
    TW_UINT16 count = 0;
    ASSERT_EQ(TWRC_SUCCESS, EndXfer(&count)) << "ending in state 6 skips the page";
    EXPECT_EQ(2, count);
    TW_PENDINGXFERS px{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &px));
    EXPECT_EQ(2, px.Count);
    px.Count = 5;
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &px));
    EXPECT_EQ(0, px.Count);
    TW_USERINTERFACE ui{};
    EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
}

TEST_F(TransferTest, TheFeederDeliversItsStackWhenAnyNumberOfPagesWillDo) {
    ASSERT_EQ(TWRC_SUCCESS, SetOne(CAP_FEEDERENABLED, TWTY_BOOL, 1));
    ToTransferReady();
    TW_PENDINGXFERS px{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &px));
    EXPECT_EQ(3, px.Count);
}

// --- How the source tells the application a page is ready --------------------

struct ManagerRecord {
    int calls = 0;
    TW_UINT16 message = 0;
    TW_UINT32 dg = 0;
    TW_UINT16 dat = 0xffff;
    TW_UINT32 originId = 0, destId = 0;
    TW_UINT16 answer = TWRC_SUCCESS;
    std::function<void()> callback;  // the application's, run for each notice
    std::thread::id thread;
};
ManagerRecord g_manager;

TW_UINT16 RecordingManager(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                           TW_MEMREF) {
    ++g_manager.calls;
    g_manager.dg = dg;
    g_manager.dat = dat;
    g_manager.message = msg;
    g_manager.originId = origin ? static_cast<TW_UINT32>(origin->Id) : 0;
    g_manager.destId = dest ? static_cast<TW_UINT32>(dest->Id) : 0;
    g_manager.thread = std::this_thread::get_id();
    if (g_manager.callback) g_manager.callback();
    return g_manager.answer;
}

class NotificationTest : public ScannerTest {
protected:
    void GiveEntryPoints() {
        TW_ENTRYPOINT entry{};
        entry.Size = sizeof entry;
        entry.DSM_Entry = RecordingManager;
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry));
    }
    void SetUp() override { g_manager = ManagerRecord(); }
};

TEST_F(NotificationTest, AnApplicationThatTakesCallbacksIsCalledBackThroughTheManager) {
    m_app.SupportedGroups |= DF_APP2;
    GiveEntryPoints();
    Open();
    Enable();
    EXPECT_EQ(1, g_manager.calls);
    EXPECT_EQ(TW_UINT32(DG_CONTROL), g_manager.dg);
    EXPECT_EQ(DAT_NULL, g_manager.dat);
    EXPECT_EQ(MSG_XFERREADY, g_manager.message);
    EXPECT_EQ(2u, g_manager.originId) << "from the source";
    EXPECT_EQ(1u, g_manager.destId) << "to the application";
    TW_IMAGEINFO info{};
    EXPECT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info)) << "state 6 at once";
    TW_UINT16 message = 0;
    EXPECT_EQ(TWRC_NOTDSEVENT, ProcessEvent(&message)) << "told once";
}

TEST_F(NotificationTest, TheCallbackFindsTheSourceReadyToTransfer) {
    m_app.SupportedGroups |= DF_APP2;
    TW_UINT16 infoRc = 0xFFFF;
    g_manager.callback = [&] {
        TW_IMAGEINFO info{};
        infoRc = Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
    };
    GiveEntryPoints();
    Open();
    Enable();
    EXPECT_EQ(TWRC_SUCCESS, infoRc) << "state 6 before the notice, not TWCC_SEQERROR";
}

TEST(NotificationFromSourceThread, TheNoticeComesFromAnotherThreadAfterEnableReturned) {
    g_manager = ManagerRecord();
    setenv("TRACELET_SCANNER_SIGNAL", "thread", 1);
    std::unique_ptr<TripletOperator> ds(CreateVirtualScanner());
    unsetenv("TRACELET_SCANNER_SIGNAL");
    TW_IDENTITY app{};
    app.Id = 1;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    TW_ENTRYPOINT entry{};
    entry.Size = sizeof entry;
    entry.DSM_Entry = RecordingManager;
    std::atomic<bool> enableReturned{false}, heard{false}, heardAfterEnable{false};
    g_manager.callback = [&] {
        heardAfterEnable = enableReturned.load();
        heard = true;
    };
    TW_IDENTITY id{};
    id.Id = 2;
    TW_USERINTERFACE ui{};
    ASSERT_EQ(TWRC_SUCCESS, ds->TripletEntry(&app, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry));
    ASSERT_EQ(TWRC_SUCCESS, ds->TripletEntry(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id));
    ASSERT_EQ(TWRC_SUCCESS, ds->TripletEntry(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    enableReturned = true;
    for (int i = 0; i < 1000 && !heard; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(heard);
    EXPECT_TRUE(heardAfterEnable);
    EXPECT_NE(std::this_thread::get_id(), g_manager.thread);
    EXPECT_EQ(MSG_XFERREADY, g_manager.message);
    TW_IMAGEINFO info{};
    EXPECT_EQ(TWRC_SUCCESS, ds->TripletEntry(&app, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
    ds.reset();  // joins the source's thread
    g_manager = ManagerRecord();
}

TEST_F(NotificationTest, AnApplicationWithoutCallbacksHearsThroughItsEventLoop) {
    GiveEntryPoints();
    Open();
    Enable();
    EXPECT_EQ(0, g_manager.calls);
    TW_UINT16 message = 0;
    EXPECT_EQ(TWRC_DSEVENT, ProcessEvent(&message));
    EXPECT_EQ(MSG_XFERREADY, message);
}

TEST_F(NotificationTest, ACallbackTheManagerCannotDeliverFallsBackToTheEventLoop) {
    m_app.SupportedGroups |= DF_APP2;
    g_manager.answer = TWRC_FAILURE;
    GiveEntryPoints();
    Open();
    Enable();
    EXPECT_EQ(1, g_manager.calls);
    TW_UINT16 message = 0;
    EXPECT_EQ(TWRC_DSEVENT, ProcessEvent(&message));
    EXPECT_EQ(MSG_XFERREADY, message);
}

TEST_F(NotificationTest, WithItsUserInterfaceShownTheSourceAsksToBeClosedAfterTheBatch) {
    Open();
    Enable(/*showUI=*/true);
    TW_UINT16 message = 0;
    ASSERT_EQ(TWRC_DSEVENT, ProcessEvent(&message));
    TW_UINT16 count = 9;
    ASSERT_EQ(TWRC_SUCCESS, EndXfer(&count));
    ASSERT_EQ(0, count);
    EXPECT_EQ(TWRC_DSEVENT, ProcessEvent(&message));
    EXPECT_EQ(MSG_CLOSEDSREQ, message);
    TW_USERINTERFACE ui{};
    EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
}

}  // namespace
}  // namespace vstest
