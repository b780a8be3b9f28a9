// The flight record reader: sound records, records damaged in every way a
// crash, a full disk or a stray write can leave them (cut short: in
// timing_test.cpp), and the join of a record to its log.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

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
const std::string kStem = "Twainlog_20261207_233754_0754";

// A small load: open, a capability get on thread 100 while thread 200 is
// named, a [DS] notice during it, one call that never returned, a clean end.
RecordWriter sample(bool with_unload) {
    RecordWriter w;
    w.thread_name(100, "scanapp", 5000 * kMs);
    w.end(w.start({100, 5001 * kMs, 1, 3, 0x0401, -1, false, 3}), 5003 * kMs, 0, 4, 1);
    w.end(w.start({100, 5010 * kMs, 1, 1, 0x0001, 0x0001, false, 4}), 5012 * kMs, 0, 4, 2);
    uint32_t enable = w.start({100, 5020 * kMs, 1, 9, 0x0502, -1, false, 4});
    w.end(w.start({300, 5030 * kMs, 1, 0, 0x0101, -1, true, 5, 0, enable + 1}), 5031 * kMs, 0, 6, -1);
    if (with_unload) {
        w.end(enable, 5040 * kMs, 0, 5, 3);
        w.unload(5100 * kMs);
    }
    return w;
}

// A fresh folder, removed at the end of the test.
struct TempDir {
    fs::path path = fs::temp_directory_path() / ("tracelet-record-" + std::to_string(getpid()));
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
};

}  // namespace

TEST(Record, ReadsHeaderCallsThreadsAndTheUnload) {
    FlightRecord r = parse_flight_record(sample(true).bytes(100));
    ASSERT_TRUE(r.header_ok);
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    EXPECT_EQ(std::make_tuple(r.pid, r.process_name, r.companion_path, r.closed, r.unload_ns, r.stop_text()),
              std::make_tuple(4242u, "scanapp", "/usr/lib/twain/tracelet/libvirtual.so", true, 5100 * kMs, ""));
    ASSERT_EQ(r.calls.size(), 4u);
    EXPECT_EQ(triplet_text(r.calls[1]), "DG_CONTROL/DAT_CAPABILITY/MSG_GET (CAP_XFERCOUNT)");
    EXPECT_EQ(std::make_tuple(r.calls[1].duration_ns(), r.calls[1].seq), std::make_tuple(2 * kMs, 2LL));
    const TimedCall& notice = r.calls[3];
    EXPECT_EQ(std::make_tuple(notice.from_source, notice.seq), std::make_tuple(true, -1LL));
    ASSERT_NE(r.call_by_id(notice.concurrent_id), nullptr);
    EXPECT_EQ(r.call_by_id(notice.concurrent_id)->msg, 0x0502);
    EXPECT_EQ(std::make_tuple(r.thread_name(100), r.thread_name(300)), std::make_tuple("100 (scanapp)", "300"));
    EXPECT_EQ(std::make_tuple(r.first_ns, r.last_ns), std::make_tuple(5000 * kMs, 5100 * kMs));
    // Local time: the load's wall clock plus its UTC offset.
    EXPECT_EQ(r.clock_text(5000 * kMs), "00:33:20.000");
    EXPECT_EQ(r.clock_text(6001 * kMs + 999999), "00:33:21.001");
    // Without its end seal a call never returned: none of its end fields count.
    r = parse_flight_record(sample(false).bytes());
    EXPECT_FALSE(r.closed);
    EXPECT_EQ(std::make_tuple(r.calls[2].end_ns, r.calls[2].rc, r.calls[2].state_after), std::make_tuple(-1L, -1, -1));
}

// Slots that are not sound records are skipped one by one and counted; a
// record of a later kind is skipped whole; no field of a slot without its
// seal is believed; a stop for a full disk is told.
TEST(Record, SkipsWhatIsNotASealedRecordAndTellsAStop) {
    RecordWriter w;
    w.end(w.start({100, 10 * kMs, 1, 3, 0x0401}), 11 * kMs, 0, 4, 1);
    w.unsealed();
    w.other_kind(9, 3);
    w.end(w.start({100, 20 * kMs, 1, 3, 0x0402}), 19 * kMs, 0, 3, 2);  // ends before it starts
    w.start({100, 30 * kMs, 1, 3, 0x0401});
    w.stop(fr::kStopNoSpace, 28, 32 * kMs);
    std::string bytes = w.bytes();
    // A call copied into the unsealed slot does not pass for one.
    std::memcpy(&bytes[fr::kHeaderSize + fr::kSlotSize], &bytes[fr::kHeaderSize], fr::kSlotSize);
    FlightRecord r = parse_flight_record(bytes);
    ASSERT_EQ(r.calls.size(), 3u);
    EXPECT_EQ(r.unsealed_slots, 1u);
    EXPECT_FALSE(r.calls[1].ended());
    ASSERT_EQ(r.problems.size(), 2u);
    EXPECT_NE(r.problems[0].find("1 reserved slot"), std::string::npos);
    EXPECT_NE(r.problems[1].find("ends before it starts"), std::string::npos);
    EXPECT_TRUE(r.full);
    EXPECT_EQ(r.stop_text(), "the record stopped early: no space left on the disk (No space left on device)");
}

TEST(Record, RejectsAForeignOrNewerFileByItsHeader) {
    for (const auto& [at, byte, problem] :
         {std::make_tuple(0, 'X', "not a flight record (wrong magic number)"),
          std::make_tuple(8, '\2', "record format version 2 with header size 4096 and slot size 64 cannot be read")}) {
        std::string bytes = sample(true).bytes();
        bytes[at] = byte;
        FlightRecord r = parse_flight_record(bytes);
        EXPECT_FALSE(r.header_ok);
        ASSERT_EQ(r.problems.size(), 1u);
        EXPECT_EQ(r.problems[0].find(problem), 0u) << r.problems[0];
    }
}

// A host runs while a process with the record's pid and start time exists
// on the boot that wrote it.
TEST(Record, TellsARunningHostFromAGoneOne) {
    pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const std::string boot = this_boot_id();
    const uint32_t pid = static_cast<uint32_t>(getpid());
    const uint64_t ticks = start_ticks_of(getpid());
    for (const auto& [what, boot_id, host, start, expect] : {
             std::make_tuple("this process", boot, pid, ticks, HostState::running),
             std::make_tuple("another boot", std::string("11111111-2222-3333-4444-555555555555"), pid, ticks,
                             HostState::gone),
             std::make_tuple("a reused pid", boot, pid, ticks + 1, HostState::gone),
             std::make_tuple("an ended process", boot, static_cast<uint32_t>(child), ticks, HostState::gone)}) {
        RecordWriter::Header h;
        std::tie(h.boot_id, h.pid, h.process_start_ticks) = std::tie(boot_id, host, start);
        EXPECT_EQ(host_state(parse_flight_record(RecordWriter(h).bytes())), expect) << what;
    }
    EXPECT_EQ(host_state(parse_flight_record("short")), HostState::unknown);
}

TEST(Record, FindsTheRecordsOfALogByName) {
    TempDir dir;
    for (const char* name : {".txt", ".calls", ".10.calls", ".2.calls", ".1.calls", ".x.calls", "0.calls", ".calls.bak"})
        std::ofstream(dir.path / (kStem + name)) << "";
    std::vector<std::string> names;
    for (const std::string& p : flight_record_files((dir.path / (kStem + ".txt")).string()))
        names.push_back(fs::path(p).filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{kStem + ".calls", kStem + ".2.calls", kStem + ".10.calls"}));
}

// Two loads in one log file: each record joins the calls of its own load,
// found from the log offset its header gives.
TEST(Record, JoinsEachLoadOfALogToItsOwnRecord) {
    TempDir dir;
    const std::string load = "[00001] [APP] DG_CONTROL/DAT_IDENTITY/MSG_OPENDS\r\n"
                             "        Return Code = [TWRC_SUCCESS]\r\npData   = <0x0bf3a1d0>\r\n\r\n"
                             "TWAIN Status = [4]\r\n";
    const std::string log = (dir.path / (kStem + ".txt")).string();
    std::ofstream(log, std::ios::binary) << load << load;
    for (uint32_t n : {1u, 2u}) {
        RecordWriter::Header h;
        h.load_in_log = n;
        h.log_offset = n == 1 ? 0 : load.size();
        h.log_name = kStem + ".txt";
        RecordWriter w(h);
        w.end(w.start({100 * n, 10 * kMs * n, 1, 3, 0x0401, -1, false, 3}), 10 * kMs * n + kMs * n, 0, 4, 1);
        w.write((dir.path / (kStem + (n == 1 ? ".calls" : ".2.calls"))).string());
    }
    SessionTimes times = SessionTimes::load({log});
    EXPECT_TRUE(times.problems().empty());
    Session s = Session::load({log});
    ASSERT_EQ(s.calls.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const TimedCall* c = times.find(s.calls[i]);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(std::make_tuple(c->thread, c->duration_ns()), std::make_tuple(100u * (i + 1), kMs * (i + 1)));
    }
    // A record whose log is gone is named, not read.
    RecordWriter().write((dir.path / "Twainlog_20261207_233754_0999.calls").string());
    EXPECT_EQ(SessionTimes::load({log}).problems(),
              std::vector<std::string>{"Twainlog_20261207_233754_0999.calls: a record without its log "
                                       "Twainlog_20261207_233754_0999.txt: not read"});
    fs::remove(dir.path / "Twainlog_20261207_233754_0999.calls");
    // A record whose load lies beyond its log's end joins nothing and says so.
    RecordWriter::Header h;
    h.log_offset = 1u << 20;
    RecordWriter(h).write((dir.path / (kStem + ".calls")).string());
    times = SessionTimes::load({log});
    ASSERT_EQ(times.problems().size(), 1u);
    EXPECT_NE(times.problems()[0].find("only " + std::to_string(2 * load.size()) + " bytes long"), std::string::npos);
    EXPECT_EQ(times.record_of(s.calls[0]), nullptr);
}
