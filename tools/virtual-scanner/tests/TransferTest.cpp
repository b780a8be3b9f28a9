// Transfers: the page follows the negotiation; memory strips (into pointers
// or handles) and the native block carry the same pixels; a batch counts
// down its pages; the application hears of a page by the manager's callback.
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

    // The pixels of a native transfer. (The session tests check its header
    // against the image info.)
    std::vector<unsigned char> NativePage() {
        TW_HANDLE h = nullptr;
        EXPECT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h));
        if (!h) return {};
        auto* p = static_cast<const unsigned char*>(TwainLockHandle(h));
        VsNativeImageHeader header;
        std::memcpy(&header, p, sizeof header);
        EXPECT_EQ(0, std::memcmp(header.magic, "TVSI", 4));
        std::vector<unsigned char> page(p + header.headerSize,
                                        p + header.headerSize + std::size_t(header.bytesPerRow) * header.height);
        TwainUnlockHandle(h);
        TwainDisposeHandle(h);
        return page;
    }

    void Negotiate(TW_UINT16 pixelType, double dpi, const TW_FRAME& frame, int bitDepth = 0) {
        ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, pixelType));
        ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_XRESOLUTION, TWTY_FIX32, Fix32Word(dpi)));
        ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_YRESOLUTION, TWTY_FIX32, Fix32Word(dpi)));
        ASSERT_EQ(TWRC_SUCCESS, SetFrame(frame));
        if (bitDepth) { ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_BITDEPTH, TWTY_UINT16, bitDepth)); }
        ToTransferReady();
    }
};

TEST_F(TransferTest, ThePageFollowsResolutionPixelTypeAndFrame) {
    TW_IMAGELAYOUT layout{};
    layout.Frame = Frame(2, 2, 2, 5);
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout)) << "an empty frame";
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    layout.Frame = Frame(1, 1, 20, 4);
    EXPECT_EQ(TWRC_CHECKSTATUS, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout)) << "clipped to the glass";
    EXPECT_DOUBLE_EQ(8.5, TwainFix32Value(layout.Frame.Right)) << "the clipped frame comes back";
    EXPECT_DOUBLE_EQ(1.0, TwainFix32Value(layout.Frame.Left));
    layout.Frame = Frame(1, 1, 3, 4);
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_XRESOLUTION, TWTY_FIX32, Fix32Word(200)));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_YRESOLUTION, TWTY_FIX32, Fix32Word(100)));
    ToTransferReady();
    const TW_IMAGEINFO info = ImageInfo();
    EXPECT_EQ(400, Field(info.ImageWidth));
    EXPECT_EQ(300, Field(info.ImageLength));
    EXPECT_EQ(8, info.BitsPerPixel);
    EXPECT_EQ(TWPT_GRAY, info.PixelType);
    EXPECT_EQ(200.0, TwainFix32Value(info.XResolution));
    EXPECT_EQ(100.0, TwainFix32Value(info.YResolution));
    TW_SETUPMEMXFER setup{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup));
    EXPECT_EQ(400u, Field(setup.MinBufSize)) << "one row";
}

TEST_F(TransferTest, MemoryStripsHandlesAndTheNativeBlockCarryTheSamePixels) {
    std::vector<std::vector<unsigned char>> pages;
    for (int way = 0; way < 3; ++way) {
        m_ds.reset(CreateVirtualScanner());
        Open();
        Negotiate(TWPT_RGB, 75, Frame(0, 0, 8.5, 11));
        if (way == 2) {
            pages.push_back(NativePage());
            continue;
        }
        const TW_IMAGEINFO info = ImageInfo();
        const std::uint32_t row = std::uint32_t(info.ImageWidth) * 3;
        std::vector<unsigned char> small(row);
        TW_IMAGEMEMXFER x{};
        x.Memory = {TWMF_APPOWNS | TWMF_POINTER, row - 1, small.data()};
        EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x)) << "less than a row";
        EXPECT_EQ(TWCC_BADVALUE, Condition());
        x.Memory = {TWMF_POINTER, row, small.data()};
        EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x)) << "not the application's";
        EXPECT_EQ(TWCC_BADVALUE, Condition());
        int strips = 0;
        pages.push_back(MemoryPage(32 * 1024, &strips, way == 1));
        EXPECT_GT(strips, 10);
    }
    EXPECT_TRUE(pages[0] == pages[1]);
    EXPECT_TRUE(pages[0] == pages[2]);
    EXPECT_NE(std::count(pages[2].begin(), pages[2].end(), 0), long(pages[2].size())) << "not a blank page";
    EXPECT_EQ(0, pages[2][0]) << "the glass's black border";
}

TEST_F(TransferTest, BlackAndWhitePacksBitsWithZeroForBlackAndSixteenBitsSpanTheScale) {
    Negotiate(TWPT_BW, 75, Frame(0, 0, 1, 1));
    const std::vector<unsigned char> bw = NativePage();
    ASSERT_EQ(10u * 75, bw.size()) << "75 pixels in 10 bytes a row";
    auto bit = [&](int x, int y) { return (bw[y * 10 + x / 8] >> (7 - x % 8)) & 1; };
    EXPECT_EQ(0, bit(0, 0)) << "border";
    EXPECT_EQ(0, bit(2, 40)) << "border";
    EXPECT_EQ(1, bit(20, 20)) << "paper";

    m_ds.reset(CreateVirtualScanner());
    Open();
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_BRIGHTNESS, TWTY_FIX32, Fix32Word(1000)));
    Negotiate(TWPT_GRAY, 75, Frame(0, 0, 1, 1), 16);
    const std::vector<unsigned char> gray = NativePage();
    ASSERT_EQ(2u * 75 * 75, gray.size());
    auto sample = [&](int x, int y) {
        std::uint16_t v;
        std::memcpy(&v, &gray[(y * 75 + x) * 2], 2);
        return v;
    };
    EXPECT_EQ(128 * 257, sample(0, 0)) << "black, lifted half way up";
    EXPECT_EQ(65535, sample(20, 20)) << "white stays white";
}

TEST_F(TransferTest, ABatchCountsDownItsPagesAndEachPageKnowsItsNumber) {
    ASSERT_EQ(TWRC_SUCCESS, SetOne(CAP_XFERCOUNT, TWTY_INT16, 3));
    Negotiate(TWPT_GRAY, 75, Frame(0, 2, 4, 3));  // the strip with the page-number squares
    std::vector<std::vector<unsigned char>> pages;
    for (TW_UINT16 expectedLeft : {2, 1, 0}) {
        TW_IMAGELAYOUT layout{};
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout));
        EXPECT_EQ(pages.size() + 1, Field(layout.PageNumber));
        pages.push_back(MemoryPage(64 * 1024));
        TW_IMAGEMEMXFER x{};
        EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x)) << "the page is done";
        EXPECT_EQ(TWCC_SEQERROR, Condition());
        TW_EXTIMAGEINFO ext{1, {}};  // for the page just transferred
        ext.Info[0].InfoID = TWEI_PAGENUMBER;
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_EXTIMAGEINFO, MSG_GET, &ext));
        EXPECT_EQ(pages.size(), static_cast<std::size_t>(ext.Info[0].Item));
        TW_UINT16 count = 99;
        ASSERT_EQ(TWRC_SUCCESS, EndXfer(&count));
        EXPECT_EQ(expectedLeft, count);
    }
    EXPECT_NE(pages[0], pages[1]) << "page numbers are drawn on the page";
    TW_UINT16 message = 0;
    EXPECT_EQ(TWRC_NOTDSEVENT, ProcessEvent(&message)) << "no further event without a user interface";
}

// --- How the source tells the application a page is ready --------------------

std::thread::id g_testThread = std::this_thread::get_id();
struct ManagerRecord {
    int calls = 0;
    TW_UINT16 message = 0, answer = TWRC_SUCCESS;
    TW_UINT32 originId = 0, destId = 0;
    std::function<void()> callback;  // the application's, run for each notice
    bool otherThread = false;
} g_manager;

TW_UINT16 RecordingManager(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF) {
    ++g_manager.calls;
    g_manager.message = msg;
    g_manager.originId = origin ? static_cast<TW_UINT32>(origin->Id) : 0;
    g_manager.destId = dest ? static_cast<TW_UINT32>(dest->Id) : 0;
    g_manager.otherThread = std::this_thread::get_id() != g_testThread;
    if (g_manager.callback) g_manager.callback();
    return g_manager.answer;
}

class NotificationTest : public ScannerTest {
protected:
    void SetUp() override { g_manager = ManagerRecord(); }
    void OpenWithManager() {
        m_app.SupportedGroups |= DF_APP2;
        TW_ENTRYPOINT entry{};
        entry.Size = sizeof entry;
        entry.DSM_Entry = RecordingManager;
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry));
        Open();
    }
};

// (The session driver's tests hear notices by callback during MSG_ENABLEDS,
// from the source's thread and by polling; the conformance run checks them.)
TEST_F(NotificationTest, ACallbackTheManagerCannotDeliverFallsBackToTheEventLoop) {
    g_manager.answer = TWRC_FAILURE;
    TW_UINT16 infoRc = 0xffff;
    g_manager.callback = [&] {
        TW_IMAGEINFO info{};
        infoRc = Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
    };
    OpenWithManager();
    Enable();
    EXPECT_EQ(1, g_manager.calls);
    EXPECT_EQ(TWRC_SUCCESS, infoRc) << "state 6 before the notice, not TWCC_SEQERROR";
    EXPECT_EQ(2u, g_manager.originId) << "from the source";
    EXPECT_EQ(1u, g_manager.destId) << "to the application";
    TW_UINT16 message = 0;
    EXPECT_EQ(TWRC_DSEVENT, ProcessEvent(&message));
    EXPECT_EQ(MSG_XFERREADY, message);
}

TEST_F(NotificationTest, TheNoticeMayComeFromAnotherThreadAfterEnableReturned) {
    setenv("TRACELET_SCANNER_SIGNAL", "thread", 1);
    m_ds.reset(CreateVirtualScanner());
    unsetenv("TRACELET_SCANNER_SIGNAL");
    // (Whether it comes after the enable returned cannot be told from here
    // without a race: the source's thread may signal before this thread
    // runs again.)
    std::atomic<bool> heard{false};
    g_manager.callback = [&] { heard = true; };
    OpenWithManager();
    Enable();
    for (int i = 0; i < 1000 && !heard; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(heard);
    EXPECT_TRUE(g_manager.otherThread);
    EXPECT_EQ(MSG_XFERREADY, g_manager.message);
    ImageInfo();  // state 6
    m_ds.reset();  // joins the source's thread
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
