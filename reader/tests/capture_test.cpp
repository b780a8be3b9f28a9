// Captures in the flight record: each application call's pData going in and
// coming out, its capability container and its image data, read back; the
// checks a replay makes before it starts (no capture, the other layout, a
// cut or damaged capture); and json's view of a captured call.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "trace/record.hpp"
#include "trace/record_writer.hpp"
#include "tracelet/flightrecord.h"
#include "tracelet/twain.h"

using namespace tracelet::trace;
namespace fr = tracelet::flightrecord;

namespace {

constexpr int64_t kMs = 1000000;

RecordWriter::Header capturing() {
    RecordWriter::Header h;
    h.log_name = "Twainlog_20261208_040000_0001.txt";
    h.capture = true;
    return h;
}

// A set-capability call with its container in and out, a notice during it,
// and a memory transfer with its image.
struct Session {
    RecordWriter w;
    uint32_t set = 0, xfer = 0;
    std::string structure = std::string("\x15\x01\x05\x00", 4) + std::string(8, '\x11');
    std::string container = std::string("\x04\x00\x01\x00\x00\x00", 6);

    explicit Session(const RecordWriter::Header& h = capturing()) : w(h) {
        set = w.start({100, 10 * kMs, DG_CONTROL, DAT_CAPABILITY, MSG_SET, CAP_XFERCOUNT});
        RecordWriter::Capture in;
        in.call_slot = set;
        in.structure = structure;
        in.container = true;
        in.handle = 0xabc000;
        in.block = container;
        in.con_type = TWON_ONEVALUE;
        in.item_type = TWTY_INT16;
        in.num_items = 1;
        w.capture(in);
        w.end(w.start({100, 11 * kMs, DG_CONTROL, DAT_NULL, MSG_XFERREADY, -1, true}), 12 * kMs, 0, 6, -1);
        RecordWriter::Capture out = in;
        out.out = true;
        out.block_limit = 6;
        w.capture(out);
        w.end(set, 13 * kMs, TWRC_SUCCESS, 4, 1);

        xfer = w.start({100, 20 * kMs, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET});
        RecordWriter::Capture xin;
        xin.call_slot = xfer;
        xin.structure = std::string(sizeof(TW_IMAGEMEMXFER), '\x22');
        w.capture(xin);
        RecordWriter::Capture xout = xin;
        xout.out = true;
        xout.structure = std::string(sizeof(TW_IMAGEMEMXFER), '\x33');
        w.capture(xout);
        RecordWriter::Image m;
        m.call_slot = xfer;
        m.length = 65536;
        m.hash = 0x1234567890abcdefull;
        m.hashed_bytes = 2048;
        m.flags = fr::kImageStored;
        m.stored_bytes = 65536;
        m.file_name = "Twainlog_20261208_040000_0001.5.img";
        w.image(m);
        w.end(xfer, 21 * kMs, TWRC_SUCCESS, 7, 2);
    }
};

}  // namespace

TEST(Capture, ReadsEachCallsInputOutputContainerAndImage) {
    Session s;
    FlightRecord r = parse_flight_record(s.w.bytes(10));
    r.path = "/logs/Twainlog_20261208_040000_0001.calls";
    ASSERT_TRUE(r.problems.empty()) << r.problems.front();
    ASSERT_TRUE(r.has_capture);
    EXPECT_EQ(std::make_tuple(r.capture_max_structure, r.capture_max_block, r.images_folder),
              std::make_tuple(2048u, 8192u, std::string("images")));
    ASSERT_EQ(r.captures.size(), 2u);  // the notice has none

    const CallCapture* set = r.capture_of(s.set + 1);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->in.structure.bytes, s.structure);
    EXPECT_EQ(set->in.block.bytes, s.container);
    EXPECT_EQ(std::make_tuple(set->in.has_block, set->in.handle, set->in.con_type, set->in.num_items),
              std::make_tuple(true, uint64_t{0xabc000}, uint16_t{TWON_ONEVALUE}, 1u));
    EXPECT_EQ(set->in.block_limit, UINT64_MAX);
    EXPECT_EQ(set->out.block_limit, 6u);
    EXPECT_FALSE(set->image.present);

    const CallCapture* xfer = r.capture_of(s.xfer + 1);
    ASSERT_NE(xfer, nullptr);
    EXPECT_EQ(xfer->in.structure.bytes, std::string(sizeof(TW_IMAGEMEMXFER), '\x22'));
    EXPECT_EQ(xfer->out.structure.bytes, std::string(sizeof(TW_IMAGEMEMXFER), '\x33'));
    EXPECT_FALSE(xfer->out.has_block);
    EXPECT_EQ(std::make_tuple(xfer->image.length, xfer->image.hash, xfer->image.hash_kind),
              std::make_tuple(uint64_t{65536}, 0x1234567890abcdefull, CapturedImage::Hash::sample));
    EXPECT_EQ(r.image_path(xfer->image), "/logs/images/Twainlog_20261208_040000_0001.5.img");
    EXPECT_EQ(r.capture_of(s.xfer), nullptr);
    EXPECT_EQ(check_capture(r, false).status, CaptureStatus::ok);
}

// A capture split over read chunks reads the same as one read at once.
TEST(Capture, ReadsTheSameFromAFileAsFromBytes) {
    RecordWriter w{capturing()};
    for (int i = 0; i < 400; ++i) {
        const uint32_t c = w.start({100, (10 + i) * kMs, DG_CONTROL, DAT_IDENTITY, MSG_GET});
        RecordWriter::Capture k;
        k.call_slot = c;
        k.structure = std::string(sizeof(TW_IDENTITY), static_cast<char>(i));
        w.capture(k);
        k.out = true;
        w.capture(k);
        w.end(c, (10 + i) * kMs, 0, 3, i + 1);
    }
    const std::string path = ::testing::TempDir() + "capture-chunks.calls";
    w.write(path);
    FlightRecord f = read_flight_record(path);
    ASSERT_EQ(f.captures.size(), 400u);
    EXPECT_TRUE(f.problems.empty());
    EXPECT_EQ(f.captures[399].out.structure.bytes, std::string(sizeof(TW_IDENTITY), static_cast<char>(399)));
    std::remove(path.c_str());
}

// What a replay refuses, and the words it says it in.
TEST(Capture, CheckTellsNoCaptureOtherLayoutAndDamage) {
    const std::size_t first = fr::kHeaderSize;  // the set call's slot
    const std::size_t in = first + fr::kSlotSize;  // its input capture
    using Damage = std::function<void(std::string&)>;
    struct Row {
        const char* what;
        std::function<void(RecordWriter::Header&)> header;
        Damage damage;
        bool macos_build;
        CaptureStatus status;
        const char* says;
    };
    auto none = [](std::string&) {};
    auto same = [](RecordWriter::Header&) {};
    const Row rows[] = {
        {"sound", same, none, false, CaptureStatus::ok, ""},
        {"older record", [](RecordWriter::Header& h) { h.capture = false; }, none, false, CaptureStatus::no_capture,
         "without a capture"},
        {"macos record, native build", [](RecordWriter::Header& h) { h.macos_abi = true; }, none, false,
         CaptureStatus::other_abi, "captured under the macos TWAIN layout; this build uses the native layout"},
        {"native record, macos build", same, none, true, CaptureStatus::other_abi, "under the native TWAIN layout"},
        {"wrong magic", same, [](std::string& b) { b[0] = 'X'; }, false, CaptureStatus::damaged, "not a readable"},
        {"cut short", same, [](std::string& b) { b.resize(b.size() - 3 * fr::kSlotSize); }, false,
         CaptureStatus::damaged, "cut short"},
        {"a length past its slots", same,
         [&](std::string& b) { b[in + offsetof(fr::CaptureRecord, block_bytes)] = 100; }, false,
         CaptureStatus::damaged, "lengths do not match"},
        {"kept more than the type holds", same,
         [&](std::string& b) { b[in + offsetof(fr::CaptureRecord, structure_size)] = 2; }, false,
         CaptureStatus::damaged, "lengths do not match"},
        {"a length past the bounds", same,
         [&](std::string& b) { b[in + offsetof(fr::CaptureRecord, slots) + 1] = 0x10; }, false,
         CaptureStatus::damaged, "more than its bounds allow"},
        {"a call named after it", same, [&](std::string& b) { b[in + offsetof(fr::CaptureRecord, call_id)] = 9; },
         false, CaptureStatus::damaged, "names call 9"},
        {"an unknown phase", same, [&](std::string& b) { b[in + offsetof(fr::CaptureRecord, phase)] = 7; }, false,
         CaptureStatus::damaged, "unknown phase"},
        {"a broken seal: the input is missing", same, [&](std::string& b) { b[in] ^= 1; }, false,
         CaptureStatus::damaged, "the capture of call 1 (DG_CONTROL/DAT_CAPABILITY/MSG_SET (CAP_XFERCOUNT)) is missing"},
        {"both captures going in", same, [&](std::string& b) {
             // The output capture is the 5th record's head: mark it as input.
             b[first + 4 * fr::kSlotSize + offsetof(fr::CaptureRecord, phase)] = fr::kPhaseIn;
         }, false, CaptureStatus::damaged, "a second capture of call 1 going in"},
        {"an image named out of its folder", same, [](std::string& b) {
             const std::size_t name = b.find("Twainlog_20261208_040000_0001.5.img");
             b.replace(name, 3, "../");
         }, false, CaptureStatus::damaged, "not a plain name"},
        {"an image's hash reads past it", same, [](std::string& b) {
             const std::size_t name = b.find("Twainlog_20261208_040000_0001.5.img");
             const std::size_t head = name - offsetof(fr::ImageRecord, file_name);
             b[head + offsetof(fr::ImageRecord, hashed_bytes) + 4] = 1;
         }, false, CaptureStatus::damaged, "lengths disagree"},
    };
    for (const Row& row : rows) {
        RecordWriter::Header h = capturing();
        row.header(h);
        std::string bytes = Session(h).w.bytes();
        row.damage(bytes);
        FlightRecord r = parse_flight_record(bytes);
        r.path = "s.calls";
        const CaptureCheck check = check_capture(r, row.macos_build);
        EXPECT_EQ(check.status, row.status) << row.what << ": " << check.message;
        EXPECT_NE(check.message.find(row.says), std::string::npos) << row.what << ": " << check.message;
        if (row.status != CaptureStatus::ok) {
            EXPECT_EQ(check.message.rfind("s.calls: ", 0), 0u) << row.what;
        }
    }
}

// A record that stopped at its bound holds the calls up to there: the call
// whose capture did not fit is where the replayable part ends.
TEST(Capture, ARecordThatStoppedEarlyIsNotDamaged) {
    RecordWriter w{capturing()};
    w.start({100, 10 * kMs, DG_CONTROL, DAT_IDENTITY, MSG_GET});
    w.stop(fr::kStopMaxSize, 0, 11 * kMs);
    EXPECT_EQ(check_capture(parse_flight_record(w.bytes()), false).status, CaptureStatus::ok);
}
