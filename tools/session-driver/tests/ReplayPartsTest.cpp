// The replay's parts: recorded inputs rebuilt with the replay's own pointers,
// the plan made from a flight record, the records it refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Replay.h"
#include "ReplayInput.h"
#include "tracelet/twain_nv.h"

namespace {

namespace tr = tracelet::trace;

template <typename T>
std::string Bytes(const T& value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T>
T As(void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void* const kForeign = reinterpret_cast<void*>(0x0bf3a1d0);  // an address of the recorded process

// What the replayed demo does not send: a capability get without a
// container, an event, a call without pData. A recorded address is never
// handed on.
TEST(ReplayInput, RecordedPointersAreReplacedByTheReplaysOwn) {
    replay::InputContext context;
    {
        TW_CAPABILITY cap{CAP_SUPPORTEDCAPS, TWON_DONTCARE16, static_cast<TW_HANDLE>(kForeign)};
        replay::CallInput in(DAT_CAPABILITY, MSG_GET, true, Bytes(cap), "", context);
        const TW_CAPABILITY sent = As<TW_CAPABILITY>(in.Data());
        const TW_HANDLE container = sent.hContainer;  // out of the packed structure
        const TW_UINT16 id = sent.Cap;
        EXPECT_EQ(container, nullptr);
        EXPECT_EQ(id, CAP_SUPPORTEDCAPS);
    }
    {
        TW_EVENT ev{kForeign, MSG_NULL};
        replay::CallInput in(DAT_EVENT, MSG_PROCESSEVENT, true, Bytes(ev), "", context);
        const auto sent = As<TW_EVENT>(in.Data());
        const TW_MEMREF event = sent.pEvent;  // out of the packed structure
        EXPECT_NE(event, nullptr);
        EXPECT_NE(event, kForeign);
    }
    {
        replay::CallInput in(DAT_STATUS, MSG_GET, false, "", "", context);
        EXPECT_EQ(in.Data(), nullptr);
    }
}

// A file transfer's recorded name goes into the replay's folder; a name
// without its NUL, or one the folder makes too long, stays inside the field.
TEST(ReplayInput, FileNamesGoToTheReplaysFolder) {
    replay::InputContext context;
    context.fileFolder = "/tmp/replay-files";
    struct Case {
        std::string recorded, expected;
    } cases[] = {
        {"/home/user/scans/page.bmp", "/tmp/replay-files/page.bmp"},
        {"page.tif", "/tmp/replay-files/page.tif"},
        {"", "/tmp/replay-files/replay"},
        {std::string(300, 'x'), ("/tmp/replay-files/" + std::string(300, 'x')).substr(0, 255)},
    };
    for (const Case& c : cases) {
        TW_SETUPFILEXFER setup{};
        std::memcpy(setup.FileName, c.recorded.data(), std::min(c.recorded.size(), sizeof setup.FileName));
        setup.Format = 2;  // a file format as the application chose it
        replay::CallInput in(DAT_SETUPFILEXFER, MSG_SET, true, Bytes(setup), "", context);
        const auto sent = As<TW_SETUPFILEXFER>(in.Data());
        EXPECT_EQ(std::string(sent.FileName, strnlen(sent.FileName, sizeof sent.FileName)), c.expected) << c.recorded;
        EXPECT_EQ(sent.FileName[sizeof sent.FileName - 1], 0);
        EXPECT_EQ(sent.Format, 2);
    }
}

// Recorded bytes shorter than the structure (a capture cut short, an
// application that sent less) are padded with zeros; longer ones (a TW_INFO
// list after TW_EXTIMAGEINFO) are all sent; a memory transfer buffer of a
// lying length is offered as large as the replay gives, and says so.
TEST(ReplayInput, ShortAndLongRecordsAreSentWhole) {
    replay::InputContext context;
    const std::string half(sizeof(TW_IMAGEINFO) / 2, '\x11');
    replay::CallInput shortIn(DAT_IMAGEINFO, MSG_GET, true, half, "", context);
    const auto* p = static_cast<const unsigned char*>(shortIn.Data());
    EXPECT_EQ(p[half.size() - 1], 0x11);
    for (std::size_t i = half.size(); i < TwainStructureSize(DAT_IMAGEINFO); ++i) ASSERT_EQ(p[i], 0) << i;

    const std::string list(sizeof(TW_EXTIMAGEINFO) + 40 * sizeof(TW_INFO), '\x22');
    replay::CallInput longIn(DAT_EXTIMAGEINFO, MSG_GET, true, list, "", context);
    EXPECT_EQ(static_cast<const unsigned char*>(longIn.Data())[list.size() - 1], 0x22);

    TW_IMAGEMEMXFER x{};
    x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    x.Memory.Length = 0xffffffffu;
    replay::CallInput lying(DAT_IMAGEMEMXFER, MSG_GET, true, Bytes(x), "", context);
    const auto sent = As<TW_IMAGEMEMXFER>(lying.Data());
    const TW_UINT32 offered = sent.Memory.Length;  // out of the packed structure
    ASSERT_LT(offered, 0xffffffffu);
    const TW_MEMREF buffer = sent.Memory.TheMem;
    ASSERT_NE(buffer, nullptr);
    static_cast<unsigned char*>(buffer)[offered - 1] = 1;  // writable to its end
}

tr::TimedCall Timed(std::uint32_t id, long long seq, TW_UINT16 dat, TW_UINT16 msg, bool fromSource = false) {
    tr::TimedCall c;
    c.id = id;
    c.seq = seq;
    c.dg = DG_CONTROL;
    c.dat = dat;
    c.msg = msg;
    c.from_source = fromSource;
    c.rc = TWRC_SUCCESS;
    c.start_ns = id * 1000;
    c.end_ns = id * 1000 + 500;
    return c;
}

// Notices go before the first application call that started after them,
// wherever they came from; --until cuts the calls after it, and the notices
// with them.
TEST(ReplayPlan, NoticesPrecedeTheCallThatFollowedThem) {
    tr::FlightRecord r;
    r.header_ok = true;
    r.calls = {Timed(1, 1, DAT_IDENTITY, MSG_OPENDS),
               Timed(2, 2, DAT_NULL, MSG_XFERREADY, true),  // during ENABLEDS, logged first
               Timed(3, 3, DAT_USERINTERFACE, MSG_ENABLEDS),
               Timed(4, 4, DAT_PENDINGXFERS, MSG_ENDXFER),
               Timed(5, 5, DAT_NULL, MSG_CLOSEDSREQ, true),
               Timed(6, 6, DAT_NULL, MSG_XFERREADY, true)};
    const replay::Plan all = replay::BuildPlan(r, 1, -1);
    EXPECT_EQ(all.probes, 1);
    EXPECT_TRUE(all.callbacks);
    ASSERT_EQ(all.calls.size(), 3u);
    EXPECT_TRUE(all.calls[0].noticesBefore.empty());
    EXPECT_EQ(all.calls[1].noticesBefore, std::vector<TW_UINT16>{MSG_XFERREADY});
    EXPECT_EQ(all.calls[1].dat, DAT_USERINTERFACE);
    EXPECT_EQ(all.noticesAtEnd, (std::vector<TW_UINT16>{MSG_CLOSEDSREQ, MSG_XFERREADY}));

    const replay::Plan cut = replay::BuildPlan(r, 0, 3);
    ASSERT_EQ(cut.calls.size(), 2u);
    EXPECT_EQ(cut.calls.back().seq, 3);
    EXPECT_TRUE(cut.noticesAtEnd.empty());
}

}  // namespace
