// The flight record reader: sound records, records damaged in every way a
// crash, a full disk or a stray write can leave them, and the join of a
// record to its log.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "test_support.hpp"
#include "trace/record.hpp"
#include "trace/record_writer.hpp"
#include "trace/session.hpp"
#include "tracelet/flightrecord.h"

using namespace tracelet::trace;
namespace fr = tracelet::flightrecord;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kMs = 1000000;

// A small load: open, a capability get on thread 100 while thread 200 is
// named, a [DS] notice during it, one call that never returned, a clean end.
RecordWriter sample(bool with_unload) {
    RecordWriter w;
    w.thread_name(100, "scanapp", 5000 * kMs);
    uint32_t open = w.start({100, 5001 * kMs, 1, 3, 0x0401, -1, false, 3});
    w.end(open, 5003 * kMs, 0, 4, 1);
    uint32_t cap = w.start({100, 5010 * kMs, 1, 1, 0x0001, 0x0001, false, 4});
    w.end(cap, 5012 * kMs, 0, 4, 2);
    uint32_t enable = w.start({100, 5020 * kMs, 1, 9, 0x0502, -1, false, 4});
    uint32_t notice = w.start({300, 5030 * kMs, 1, 0, 0x0101, -1, true, 5, 0, enable + 1});
    w.end(notice, 5031 * kMs, 0, 6, -1);
    if (with_unload) {
        w.end(enable, 5040 * kMs, 0, 5, 3);
        w.unload(5100 * kMs);
    }
    return w;
}

}  // namespace

TEST(Record, ReadsHeaderCallsThreadsAndTheUnload) {
    FlightRecord r = parse_flight_record(sample(true).bytes(100));
    ASSERT_TRUE(r.header_ok);
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    EXPECT_EQ(r.pid, 4242u);
    EXPECT_EQ(r.process_name, "scanapp");
    EXPECT_EQ(r.companion_path, "/usr/lib/twain/tracelet/libvirtual.so");
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(r.unload_ns, 5100 * kMs);
    ASSERT_EQ(r.calls.size(), 4u);
    EXPECT_EQ(triplet_text(r.calls[1]), "DG_CONTROL/DAT_CAPABILITY/MSG_GET (CAP_XFERCOUNT)");
    EXPECT_EQ(r.calls[1].duration_ns(), 2 * kMs);
    EXPECT_EQ(r.calls[1].seq, 2);
    const TimedCall& notice = r.calls[3];
    EXPECT_TRUE(notice.from_source);
    EXPECT_EQ(notice.seq, -1);
    ASSERT_NE(r.call_by_id(notice.concurrent_id), nullptr);
    EXPECT_EQ(r.call_by_id(notice.concurrent_id)->msg, 0x0502);
    EXPECT_EQ(r.thread_name(100), "100 (scanapp)");
    EXPECT_EQ(r.thread_name(300), "300");
    EXPECT_EQ(r.first_ns, 5000 * kMs);
    EXPECT_EQ(r.last_ns, 5100 * kMs);
    // Local time: the load's wall clock plus its UTC offset.
    EXPECT_EQ(r.clock_text(5000 * kMs), "00:33:20.000");
    EXPECT_EQ(r.clock_text(6001 * kMs + 999999), "00:33:21.001");
}

TEST(Record, ACallWithoutItsEndSealNeverReturned) {
    FlightRecord r = parse_flight_record(sample(false).bytes());
    ASSERT_EQ(r.calls.size(), 4u);
    EXPECT_FALSE(r.closed);
    EXPECT_FALSE(r.calls[2].ended());
    EXPECT_EQ(r.calls[2].rc, -1);
    EXPECT_EQ(r.calls[2].state_after, -1);
}

// Slots that are not sound records are skipped one by one and counted; a
// record of a later kind is skipped whole; no field of a slot without its
// seal is believed.
TEST(Record, SkipsWhatIsNotASealedRecord) {
    RecordWriter w;
    uint32_t a = w.start({100, 10 * kMs, 1, 3, 0x0401});
    w.end(a, 11 * kMs, 0, 4, 1);
    w.unsealed();
    w.other_kind(9, 3);
    uint32_t b = w.start({100, 20 * kMs, 1, 3, 0x0402});
    w.end(b, 19 * kMs, 0, 3, 2);  // ends before it starts
    std::string bytes = w.bytes();
    // A call copied into the unsealed slot does not pass for one.
    std::memcpy(&bytes[fr::kHeaderSize + fr::kSlotSize], &bytes[fr::kHeaderSize], fr::kSlotSize);
    FlightRecord r = parse_flight_record(bytes);
    ASSERT_EQ(r.calls.size(), 2u);
    EXPECT_EQ(r.unsealed_slots, 1u);
    EXPECT_FALSE(r.calls[1].ended());
    ASSERT_EQ(r.problems.size(), 2u);
    EXPECT_NE(r.problems[0].find("1 reserved slot"), std::string::npos);
    EXPECT_NE(r.problems[1].find("ends before it starts"), std::string::npos);
}

TEST(Record, StopsAndFlagsAreTold) {
    RecordWriter w;
    w.start({100, 10 * kMs, 1, 3, 0x0401});
    w.stop(fr::kStopNoSpace, 28, 12 * kMs);
    FlightRecord r = parse_flight_record(w.bytes());
    EXPECT_TRUE(r.full);
    EXPECT_EQ(r.stop_text(), "the record stopped early: no space left on the disk (No space left on device)");
    EXPECT_EQ(parse_flight_record(sample(true).bytes()).stop_text(), "");
}

// Every prefix of a record reads without a crash; a prefix never shows a
// call the whole file does not, never an end it does not, and says what it
// lost.
TEST(Record, ATruncatedRecordReadsAsFarAsItIsSound) {
    const std::string whole = sample(true).bytes();
    const FlightRecord full = parse_flight_record(whole);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        SCOPED_TRACE(n);
        FlightRecord r = parse_flight_record(std::string_view(whole).substr(0, n));
        ASSERT_FALSE(r.problems.empty());
        if (n < fr::kHeaderSize) {
            EXPECT_FALSE(r.header_ok);
            continue;
        }
        ASSERT_LE(r.calls.size(), full.calls.size());
        for (std::size_t i = 0; i < r.calls.size(); ++i) {
            EXPECT_EQ(r.calls[i].start_ns, full.calls[i].start_ns);
            EXPECT_EQ(r.calls[i].end_ns, full.calls[i].end_ns);
        }
        EXPECT_NE(r.problems.back().find("cut"), std::string::npos) << r.problems.back();
    }
}

// Random slots behind a sound header, and random bytes throughout: read
// without a crash, never more calls than slots.
TEST(Record, RandomBytesNeverCrashTheReader) {
    std::mt19937 rng(23);
    const std::string head = sample(true).bytes().substr(0, fr::kHeaderSize);
    for (int round = 0; round < 200; ++round) {
        std::string bytes = round % 2 ? head : std::string();
        std::size_t n = rng() % 8192;
        for (std::size_t i = 0; i < n; ++i) bytes += static_cast<char>(rng());
        if (round % 4 == 1) bytes[4092] = static_cast<char>(0xff), bytes[4095] = static_cast<char>(0x7f);
        FlightRecord r = parse_flight_record(bytes);
        EXPECT_LE(r.calls.size(), bytes.size() / fr::kSlotSize);
    }
}

TEST(Record, RejectsAForeignOrNewerFileByItsHeader) {
    std::string bytes = sample(true).bytes();
    std::string other = bytes;
    other[0] = 'X';
    EXPECT_EQ(parse_flight_record(other).problems, std::vector<std::string>{"not a flight record (wrong magic number)"});
    other = bytes;
    other[8] = 2;
    FlightRecord r = parse_flight_record(other);
    EXPECT_FALSE(r.header_ok);
    EXPECT_NE(r.problems.at(0).find("version 2"), std::string::npos);
}

// A host runs while a process with the record's pid and start time exists
// on the boot that wrote it.
TEST(Record, TellsARunningHostFromAGoneOne) {
    pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    struct Row {
        const char* what;
        std::string boot;
        uint32_t pid;
        uint64_t ticks;
        HostState expect;
    };
    const std::string boot = this_boot_id();
    const uint64_t ticks = start_ticks_of(getpid());
    for (const Row& row : std::vector<Row>{
             {"this process", boot, static_cast<uint32_t>(getpid()), ticks, HostState::running},
             {"another boot", "11111111-2222-3333-4444-555555555555", static_cast<uint32_t>(getpid()), ticks,
              HostState::gone},
             {"a reused pid", boot, static_cast<uint32_t>(getpid()), ticks + 1, HostState::gone},
             {"an ended process", boot, static_cast<uint32_t>(child), ticks, HostState::gone},
         }) {
        RecordWriter::Header h;
        h.boot_id = row.boot;
        h.pid = row.pid;
        h.process_start_ticks = row.ticks;
        EXPECT_EQ(host_state(parse_flight_record(RecordWriter(h).bytes())), row.expect) << row.what;
    }
    EXPECT_EQ(host_state(parse_flight_record("short")), HostState::unknown);
}

TEST(Record, FindsTheRecordsOfALogByName) {
    fs::path dir = fs::temp_directory_path() / ("tracelet-record-names-" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (const char* name : {"Twainlog_20261207_233754_0754.txt", "Twainlog_20261207_233754_0754.calls",
                             "Twainlog_20261207_233754_0754.10.calls", "Twainlog_20261207_233754_0754.2.calls",
                             "Twainlog_20261207_233754_0754.1.calls", "Twainlog_20261207_233754_0754.x.calls",
                             "Twainlog_20261207_233754_07540.calls", "Twainlog_20261207_233754_0754.calls.bak"})
        std::ofstream(dir / name) << "";
    std::vector<std::string> names;
    for (const std::string& p : flight_record_files((dir / "Twainlog_20261207_233754_0754.txt").string()))
        names.push_back(fs::path(p).filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"Twainlog_20261207_233754_0754.calls",
                                               "Twainlog_20261207_233754_0754.2.calls",
                                               "Twainlog_20261207_233754_0754.10.calls"}));
    fs::remove_all(dir);
}

// Two loads in one log file: each record joins the calls of its own load,
// found from the log offset its header gives.
TEST(Record, JoinsEachLoadOfALogToItsOwnRecord) {
    fs::path dir = fs::temp_directory_path() / ("tracelet-record-join-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string load = "[00001] [APP] DG_CONTROL/DAT_IDENTITY/MSG_OPENDS\r\n"
                             "        Return Code = [TWRC_SUCCESS]\r\npData   = <0x0bf3a1d0>\r\n\r\n"
                             "TWAIN Status = [4]\r\n";
    const fs::path log = dir / "Twainlog_20261207_233754_0754.txt";
    std::ofstream(log, std::ios::binary) << load << load;
    for (uint32_t n : {1u, 2u}) {
        RecordWriter::Header h;
        h.load_in_log = n;
        h.log_offset = n == 1 ? 0 : load.size();
        h.log_name = log.filename().string();
        RecordWriter w(h);
        uint32_t s = w.start({100 * n, 10 * kMs * n, 1, 3, 0x0401, -1, false, 3});
        w.end(s, 10 * kMs * n + kMs * n, 0, 4, 1);
        w.write((dir / (n == 1 ? "Twainlog_20261207_233754_0754.calls" : "Twainlog_20261207_233754_0754.2.calls")).string());
    }
    SessionTimes times = SessionTimes::load({log.string()});
    EXPECT_TRUE(times.problems().empty());
    Session s = Session::load({log.string()});
    ASSERT_EQ(s.calls.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const TimedCall* c = times.find(s.calls[static_cast<std::size_t>(i)]);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->thread, 100u * static_cast<uint32_t>(i + 1));
        EXPECT_EQ(c->duration_ns(), kMs * (i + 1));
    }
    // A record whose log is gone is named, not read.
    RecordWriter().write((dir / "Twainlog_20261207_233754_0999.calls").string());
    EXPECT_EQ(SessionTimes::load({log.string()}).problems(),
              std::vector<std::string>{"Twainlog_20261207_233754_0999.calls: a record without its log "
                                       "Twainlog_20261207_233754_0999.txt: not read"});
    fs::remove(dir / "Twainlog_20261207_233754_0999.calls");
    // A record whose load lies beyond its log's end joins nothing and says so.
    RecordWriter::Header h;
    h.log_offset = 1u << 20;
    RecordWriter(h).write((dir / "Twainlog_20261207_233754_0754.calls").string());
    times = SessionTimes::load({log.string()});
    ASSERT_EQ(times.problems().size(), 1u);
    EXPECT_NE(times.problems()[0].find("only " + std::to_string(2 * load.size()) + " bytes long"), std::string::npos);
    EXPECT_EQ(times.record_of(s.calls[0]), nullptr);
    fs::remove_all(dir);
}
