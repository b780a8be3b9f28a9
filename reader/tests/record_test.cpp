// The flight record: its reader on sound records, on records damaged in
// every way a crash, a full disk or a stray write can leave them, and joined
// to its log; the reports on a log with its record (summary's time sections,
// check's time findings, json, show, the chrome-trace export); and "watch
// --once" on a log folder where a live session stands.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>

#include "test_support.hpp"
#include "trace/chrome_trace.hpp"
#include "trace/generator.hpp"
#include "trace/names.hpp"
#include "trace/record_writer.hpp"
#include "trace/session.hpp"
#include "trace/timing.hpp"
#include "tracelet/flightrecord.h"
#include "tracelet/twain.h"

using namespace tracelet::trace;
using namespace tracelet::trace::testing;
namespace fr = tracelet::flightrecord;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kMs = 1000000;
const std::string kStem = "Twainlog_20261207_233754_0754", kLogName = kStem + ".txt";
using Ns = std::function<int64_t(const Call&)>;

// Calls of `what` (a DAT or a MSG) take `ms`, the others 1 ms.
Ns took(const std::string& what, int64_t ms) {
    return [=](const Call& c) { return c.dat == what || c.msg == what ? ms * kMs : kMs; };
}

// Calls 1 ms apart, 2 s before MSG_DISABLEDS, taking `duration`.
struct Timing {
    Ns duration = took("", 1);
    std::string hang_in{};  // the first call of this DAT never returns: the log and the record end with it
    bool closed = true;
    bool running = false;  // the record names this process as its host
};

// A fresh folder, removed at the end.
struct TempDir {
    fs::path path;
    TempDir() {
        static int n = 0;
        path = fs::temp_directory_path() / ("tracelet-timing-" + std::to_string(getpid()) + "-" + std::to_string(++n));
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    ProgramRun watch(const std::string& args = "") const {
        return run_program("watch --once '" + path.string() + "'" + args);
    }
};

// A record's header; one naming this process on this boot for a host that still runs.
RecordWriter::Header header(bool running) {
    RecordWriter::Header h;
    h.log_name = kLogName;
    if (running) {
        h.boot_id = this_boot_id();
        h.pid = static_cast<uint32_t>(getpid());
        h.process_start_ticks = start_ticks_of(getpid());
        h.load_mono_ns = monotonic_now_ns() - 60000 * kMs;
    }
    return h;
}

// A folder with a copy of the log and a record that times its calls.
struct TimedLog : TempDir {
    TimedLog(const std::string& log_text, const Timing& t) {
        Session s = Session::from_text(log_text);
        std::string text = log_text;
        const RecordWriter::Header h = header(t.running);
        RecordWriter w(h);
        int64_t at = h.load_mono_ns;
        w.thread_name(100, "scanapp", at);
        for (std::size_t i = 0; i < s.calls.size(); ++i) {
            const Call& c = s.calls[i];
            if (c.seq < 0) continue;  // a claimed event: no call of its own
            at += c.msg == "MSG_DISABLEDS" ? 2000 * kMs : kMs;
            uint32_t slot = w.start({100, at, c.dg == "DG_IMAGE" ? 2u : 1u, static_cast<uint16_t>(dat_code(c.dat)),
                                     static_cast<uint16_t>(msg_code(c.msg)), -1, c.from_source(), s.steps[i].before});
            if (c.dat == t.hang_in) {
                text.resize(text.find("[" + std::string(c.id()) + "]"));
                break;
            }
            at += t.duration(c);
            w.end(slot, at, static_cast<uint16_t>(rc_code(c.rc)), s.steps[i].after, c.seq);
        }
        if (t.closed) w.unload(at + kMs);
        std::ofstream(path / kLogName, std::ios::binary) << text;
        w.write(record());
    }
    std::string record() const { return (path / (kStem + ".calls")).string(); }
    ProgramRun run(const std::string& args) const {
        return run_program(args + " '" + (path / kLogName).string() + "'");
    }
};

std::string memory_log() { return read_file(data_path("session-memory.txt")); }

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Three application threads, a [DS] notice from inside a call (without
// blocks in the log) and one from a thread of the source's own, a failure, a
// call that never returned; an unload if asked.
RecordWriter threaded_record(bool unload = false) {
    RecordWriter w(header(false));
    const int64_t t0 = header(false).load_mono_ns;
    w.thread_name(100, "scanapp", t0);
    w.thread_name(400, "scanner-io", t0);
    uint32_t enable = w.start({100, t0 + 10 * kMs, 1, 9, 0x0502, -1, false, 4});
    w.end(w.start({100, t0 + 12 * kMs, 1, 0, 0x0101, -1, true, 5, enable + 1, enable + 1}), t0 + 13 * kMs, 0, 6, -1);
    w.end(enable, t0 + 20 * kMs, 0, 6, 1);
    uint32_t cap = w.start({200, t0 + 30 * kMs, 1, 1, 1, 0x0001, false, 6});
    w.end(w.start({400, t0 + 31 * kMs, 1, 0, 0x0104, -1, true, 6, 0, cap + 1}), t0 + 32 * kMs, 0, 6, 4);
    w.end(cap, t0 + 40 * kMs, 1, 6, 3);
    w.start({300, t0 + 50 * kMs, 2, 0x0105, 1, -1, false, 6});
    if (unload) w.unload(t0 + 100 * kMs);
    return w;
}

// The generated session up to the n-th call of `triplet` (that call's text
// is left out: it has not returned yet).
std::string log_until(const std::string& triplet, int n) {
    GeneratorOptions options;
    options.calls = 200;
    const std::string log = generate_session(options);
    std::size_t at = 0;
    for (int i = 0; i < n; ++i) at = log.find(triplet, at + 1);
    return log.substr(0, log.rfind("\r\n[", at) + 2);
}

enum class Host { running, gone, unloaded };

// A load as "watch" finds it: its log, and its record with a call in flight
// for `in_flight_for` until now.
struct Load {
    std::string log;
    Host host;
    uint16_t dat_in_flight;  // 0: none in flight
    int64_t in_flight_for;
    int transfers_done = 0;
    bool failure = false;
    uint32_t load_in_log = 1;
};

void write_load(const fs::path& dir, const Load& l) {
    std::ofstream(dir / kLogName, std::ios::binary) << l.log;
    RecordWriter::Header h = header(l.host != Host::gone);
    h.load_in_log = l.load_in_log;
    const int64_t now = monotonic_now_ns(), start = h.load_mono_ns = now - l.in_flight_for - 100 * kMs;
    RecordWriter w(h);
    w.thread_name(100, "scanapp", start);
    long long seq = 0;
    w.end(w.start({100, start, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, -1, false, 3}), start + kMs, TWRC_SUCCESS, 4,
          ++seq);
    if (l.failure)
        w.end(w.start({100, start + 2 * kMs, DG_CONTROL, DAT_CAPABILITY, MSG_SET, ICAP_XRESOLUTION, false, 4}),
              start + 3 * kMs, TWRC_FAILURE, 4, ++seq);
    for (int i = 0; i < l.transfers_done; ++i)
        w.end(w.start({100, start + (4 + i) * kMs, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, -1, false, 7}),
              start + (5 + i) * kMs, TWRC_XFERDONE, 7, ++seq);
    if (l.dat_in_flight) w.start({100, now - l.in_flight_for, DG_IMAGE, l.dat_in_flight, MSG_GET, -1, false, 7});
    w.thread_name(300, "poller", now);  // another thread's last record
    if (l.host == Host::unloaded) w.unload(now - kMs);
    w.write((dir / (kStem + (l.load_in_log == 1 ? "" : "." + std::to_string(l.load_in_log)) + ".calls")).string());
}

}  // namespace

TEST(Record, ReadsHeaderCallsThreadsAndTheUnload) {
    FlightRecord r = parse_flight_record(threaded_record(true).bytes(100));
    ASSERT_TRUE(r.header_ok);
    EXPECT_TRUE(r.problems.empty()) << r.problems.front();
    EXPECT_EQ(std::make_tuple(r.pid, r.process_name, r.companion_path, r.closed, r.unload_ns, r.stop_text()),
              std::make_tuple(4242u, "scanapp", "/usr/lib/twain/tracelet/libvirtual.so", true, 5100 * kMs, ""));
    ASSERT_EQ(r.calls.size(), 5u);
    EXPECT_EQ(triplet_text(r.calls[2]), "DG_CONTROL/DAT_CAPABILITY/MSG_GET (CAP_XFERCOUNT)");
    EXPECT_EQ(std::make_tuple(r.calls[2].duration_ns(), r.calls[2].seq, r.calls[2].rc),
              std::make_tuple(10 * kMs, 3LL, 1));
    const TimedCall& notice = r.calls[1];
    EXPECT_EQ(std::make_tuple(notice.from_source, notice.seq), std::make_tuple(true, -1LL));
    EXPECT_EQ(r.call_by_id(notice.concurrent_id), &r.calls[0]);  // the call it came during
    EXPECT_EQ(std::make_tuple(r.thread_name(100), r.thread_name(300)), std::make_tuple("100 (scanapp)", "300"));
    EXPECT_EQ(std::make_tuple(r.first_ns, r.last_ns), std::make_tuple(5000 * kMs, 5100 * kMs));
    // Local time: the load's wall clock plus its UTC offset.
    EXPECT_EQ(r.clock_text(5000 * kMs), "00:33:20.000");
    EXPECT_EQ(r.clock_text(6001 * kMs + 999999), "00:33:21.001");
    // Without its end seal a call never returned: none of its end fields count.
    EXPECT_EQ(std::make_tuple(r.calls[4].end_ns, r.calls[4].rc, r.calls[4].state_after), std::make_tuple(-1L, -1, -1));
    EXPECT_FALSE(parse_flight_record(threaded_record().bytes()).closed);
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
        std::string bytes = threaded_record(true).bytes();
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
    for (const char* name :
         {".txt", ".calls", ".10.calls", ".2.calls", ".1.calls", ".x.calls", "0.calls", ".calls.bak"})
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
    const std::string log = (dir.path / kLogName).string();
    std::ofstream(log, std::ios::binary) << load << load;
    for (uint32_t n : {1u, 2u}) {
        RecordWriter::Header h = header(false);
        h.load_in_log = n;
        h.log_offset = n == 1 ? 0 : load.size();
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

// Summary's times, calls in flight and the load's end, check's findings,
// for a host that is gone and for one that still runs (in flight until the
// last record any thread wrote, or until now), and show's times.
TEST(Timing, ReportsTellSlowCallsCallsThatNeverReturnedAndLoadsNeverClosed) {
    const Timing slow{took("DAT_IMAGEINFO", 6000)}, slow_ui{took("MSG_ENABLEDS", 60000)};
    const Timing hung{took("", 1), "DAT_IMAGEINFO", false}, hung_running{took("", 1), "DAT_IMAGEINFO", false, true};
    const std::string in_flight = "DG_IMAGE/DAT_IMAGEINFO/MSG_GET on thread 100 (scanapp)";
    const std::string gone = "for at least 0 ns (the host is gone: until the last record any thread wrote)";
    const struct {
        const char* what;
        Timing timing;
        std::string args;
        int status;
        std::vector<std::string> shown, not_shown = {};
        bool show_ui = false;  // the log's ShowUI is true
    } rows[] = {
        {"summary", slow, "summary", 0,
         {"unloaded", "\nSlowest calls:\n  00015        6.000 s  DG_IMAGE/DAT_IMAGEINFO/MSG_GET  at ",
          "        1     6.000 s     6.000 s     6.000 s     6.000 s  DG_IMAGE/DAT_IMAGEINFO/MSG_GET\n",
          "     2.000 s  after 00022 DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER, before 00023 "
          "DG_CONTROL/DAT_USERINTERFACE/MSG_DISABLEDS", "  1 page in "},
         {"in flight"}},
        {"summary, a hung host that is gone", hung, "summary", 0,
         {"Calls in flight when the record ends:\n  #16       " + in_flight + ", started 00:33:20.029, in flight " +
              gone, "never unloaded (the host stopped without unloading)"}},
        {"summary, a hung host that still runs", hung_running, "summary", 0,
         {"until now (the host still runs)", "still loaded (the host still runs)"}},
        {"all in time", Timing{}, "check", 0, {"0 findings in 25 calls"}},
        {"a slow call", slow, "check", 1,
         {"00015  slow-call  DG_IMAGE/DAT_IMAGEINFO/MSG_GET took 6.000 s (on thread 100 (scanapp), from "}},
        {"under a higher threshold", slow, "check --slow-ms 6001", 0, {"0 findings"}},
        {"a slow MSG_ENABLEDS without the user interface", slow_ui, "check", 1,
         {"00014  slow-call  DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS took 60.000 s"}},
        {"a slow MSG_ENABLEDS with the user interface", slow_ui, "check", 0, {"0 findings"}, {}, true},
        {"a hung host that is gone", hung, "check", 1,
         {"#16  never-returned  " + in_flight + " started 00:33:20.029 in state 6 and never returned: in flight " +
              gone + "; the host stopped without unloading\n",
          "  no-unload  the load of " + kLogName + " by scanapp (pid 4242) was never closed: the host stopped "
          "without unloading"}},
        {"a hung host that still runs", hung_running, "check", 1,
         {"#16  never-returned  " + in_flight, "until now (the host still runs)\n", "1 finding in 15 calls"}},
        {"a call in flight at a clean unload", {took("", 1), "DAT_IDENTITY"}, "check", 1,
         {"#2  never-returned  DG_CONTROL/DAT_IDENTITY/MSG_GET", "1 finding in 0 calls"}},
        {"show", {[](const Call& c) { return c.seq * kMs; }}, "show", 0,
         {"00:33:20.120      15.0 ms  [00015] [APP] DG_IMAGE/DAT_IMAGEINFO/MSG_GET\n",
          "\n                            TWAIN Status = [6]\n"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::string text = memory_log();
        for (std::size_t at; row.show_ui && (at = text.find("ShowUI  = [false]")) != std::string::npos;)
            text.replace(at + 10, 7, "[true]");
        ProgramRun r = TimedLog(text, row.timing).run(row.args);
        EXPECT_EQ(r.status, row.status) << r.out;
        for (const std::string& s : row.shown) EXPECT_TRUE(has(r.out, s)) << s << "\n" << r.out;
        for (const std::string& s : row.not_shown) EXPECT_FALSE(has(r.out, s)) << s << "\n" << r.out;
        if (row.args.rfind("check", 0) == 0) {
            EXPECT_EQ(has(r.out, "no-unload"), !row.timing.closed && !row.timing.running);
        }
    }
    // Before its time sections, the summary is the one of the log without a record.
    const std::string o = TimedLog(memory_log(), slow).run("summary").out;
    const std::string plain = read_file(data_path("expected/summary/session-memory.txt"));
    const std::string before = o.substr(0, o.find("\nTimes ("));
    EXPECT_EQ(before.substr(before.find("\nCalls")), plain.substr(plain.find("\nCalls")));
    const std::string rules = run_program("check --rules").out;
    for (const char* id : {"never-returned  ", "slow-call  ", "no-unload  "}) EXPECT_TRUE(has(rules, id));
}

TEST(Timing, JsonGivesEachCallItsTimes) {
    std::istringstream lines(TimedLog(memory_log(), {[](const Call& c) { return c.seq * kMs; }}).run("json").out);
    std::size_t n = 0;
    for (std::string line; std::getline(lines, line);) {
        auto j = nlohmann::json::parse(line);
        if (j["seq"].is_null()) {
            EXPECT_FALSE(j.contains("start"));  // a claimed event has no call of its own
        } else {
            ++n;
            EXPECT_EQ(std::make_tuple(j["duration_ms"].get<double>(), j["thread"].get<int>(),
                                      j["start"].get<std::string>().substr(0, 11)),
                      std::make_tuple(j["seq"].get<double>(), 100, "2026-12-07T"))
                << line;
        }
    }
    EXPECT_EQ(n, 24u);
}

// Every event well formed, every span on its thread inside the span it
// starts in, a flow for the notice from the source's own thread.
TEST(Timing, ChromeTraceIsWellFormedAndNestsNoticesInTheirCalls) {
    TimedLog log("", Timing{});
    threaded_record().write(log.record());
    ProgramRun r = log.run("export --format chrome-trace");
    ASSERT_EQ(r.status, 0) << r.out;
    std::map<std::string, int> phases;
    std::map<long long, std::vector<std::pair<double, double>>> spans;  // per thread
    std::map<long long, std::string> names;
    const auto doc = nlohmann::json::parse(r.out);
    for (const auto& e : doc["traceEvents"]) {
        ASSERT_TRUE(e.contains("ph") && e.contains("pid") && e["pid"].is_number_integer()) << e;
        const std::string ph = e["ph"];
        ++phases[ph];
        ASSERT_TRUE(ph == "M" || (e["ts"].is_number() && e["ts"].get<double>() >= 0)) << e;
        if (ph == "M" && e["name"] == "thread_name") names[e["tid"]] = e["args"]["name"];
        if (ph != "X") continue;
        ASSERT_TRUE(e["dur"].is_number() && e["dur"].get<double>() >= 0 && e["tid"].is_number_integer()) << e;
        spans[e["tid"]].emplace_back(e["ts"].get<double>(), e["ts"].get<double>() + e["dur"].get<double>());
    }
    EXPECT_EQ(std::make_tuple(phases["X"], phases["s"], phases["f"], phases["i"]), std::make_tuple(5, 1, 1, 1));
    EXPECT_GE(phases["C"], 2);
    EXPECT_EQ(names, (std::map<long long, std::string>{
                         {100, "scanapp"}, {200, "thread 200"}, {300, "thread 300"}, {400, "scanner-io"}}));
    EXPECT_EQ(spans[100].size(), 2u);
    // On each track, a span that starts inside another ends inside it.
    for (const auto& [tid, list] : spans)
        for (const auto& a : list)
            for (const auto& b : list)
                if (&a != &b && b.first >= a.first && b.first < a.second) {
                    EXPECT_LE(b.second, a.second) << tid;
                }
}

// Every prefix of a record reads without a crash; it never shows a call the
// whole file does not, never an end it does not, and says what it lost;
// every report reads it too, and summary says what it could not read.
TEST(Timing, ATruncatedRecordReadsAsFarAsItIsSoundInEveryReport) {
    const std::string whole = threaded_record().bytes();
    const FlightRecord full = parse_flight_record(whole);
    const Session s = Session::from_text(memory_log());
    for (std::size_t n = 0; n < whole.size(); ++n) {
        SCOPED_TRACE(n);
        FlightRecord r = parse_flight_record(std::string_view(whole).substr(0, n));
        EXPECT_EQ(r.header_ok, n >= fr::kHeaderSize);
        ASSERT_FALSE(r.problems.empty());
        EXPECT_TRUE(!r.header_ok || has(r.problems.back(), "cut")) << r.problems.back();
        ASSERT_LE(r.calls.size(), full.calls.size());
        for (std::size_t i = 0; i < r.calls.size(); ++i)
            EXPECT_EQ(std::make_pair(r.calls[i].start_ns, r.calls[i].end_ns),
                      std::make_pair(full.calls[i].start_ns, full.calls[i].end_ns));
        if (n < fr::kHeaderSize && n % 97) continue;
        SessionTimes times;
        times.add(std::move(r), 0, 1);
        std::ostringstream out;
        print_times(times, {}, out, monotonic_now_ns());
        TimeChecker check(times, [](const Finding&) {}, 5000 * kMs, monotonic_now_ns());
        for (const Call& c : s.calls) check.feed(c);
        check.finish();
        write_chrome_trace(times, out, monotonic_now_ns());
        EXPECT_TRUE(has(out.str(), "Record problems:")) << out.str();
    }
}

// The exported trace in speedscope (the test fixture installs it from npm)
// in headless Chromium: one profile per thread, by name, no import error.
TEST(Viewer, ChromeTraceOpensInSpeedscope) {
    const std::string viewer = TRACELET_SPEEDSCOPE "/node_modules/speedscope/dist/release/index.html";
    if (!fs::exists(viewer)) GTEST_SKIP() << "speedscope is not installed (the speedscope fixture installs it)";
    if (!chromium_installed()) GTEST_SKIP() << "chromium is not installed";
    TimedLog log("", Timing{});
    threaded_record().write(log.record());
    const std::string dir = ::testing::TempDir() + "tracelet-speedscope" + "." + std::to_string(::getpid());
    ASSERT_EQ(run_command("rm -rf '" + dir + "' && mkdir -p '" + dir + "/profile'").status, 0);
    ASSERT_EQ(log.run("export -f chrome-trace -o '" + dir + "/trace.json'").status, 0);
    ASSERT_EQ(run_command("cd '" + dir + "' && printf 'speedscope.loadFileFromBase64(\"trace.json\", \"%s\")' " +
                          "\"$(base64 -w0 trace.json)\" > load.js").status, 0);
    ProgramRun dom = headless_dom("file://" + viewer + "#localProfilePath=" + dir + "/load.js", dir + "/profile",
                                  "--virtual-time-budget=10000");
    ASSERT_EQ(dom.status, 0) << dom.out;
    for (const char* shown : {"trace.json - speedscope", "scanapp (tid 100)", "thread 200 (tid 200)",
                              "thread 300 (tid 300)", "scanner-io (tid 400)", "(1/4)"})
        EXPECT_TRUE(has(dom.out, shown)) << shown << "\n" << dom.out;
    for (const char* error : {"Something went wrong", "Unrecognized format"})
        EXPECT_FALSE(has(dom.out, error)) << error << "\n" << dom.out;
}

// Each frame names what a person watching must see: the call in flight and
// how long it has run (marked past the threshold), the host's fate, the
// page's progress or the transfer's time, pages done, the last failure.
TEST(Watch, OneFrameShowsTheLoadAsItStands) {
    const std::string memxfer = "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET";
    const struct {
        const char* what;
        Load load;
        std::string args;
        std::vector<std::string> shown, not_shown;
    } rows[] = {
        {"a memory transfer hangs in a running host",
         {log_until(memxfer, 4), Host::running, DAT_IMAGEMEMXFER, 6000 * kMs}, "",
         {", scanapp pid ", ", running", "State     7 transferring",
          "In flight #3 DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET on thread 100 (scanapp), for 6.",
          "until now (the host still runs)  SLOW (over 5.000 s)",
          "Page 1    [###########...................] 37%, 192 of 512 rows", "Pages     0 done", "Failure   none"},
         {"gone"}},
        {"the same below a higher threshold", {log_until(memxfer, 4), Host::running, DAT_IMAGEMEMXFER, 6000 * kMs},
         " --slow-ms 10000", {"until now (the host still runs)\n"}, {"SLOW"}},
        {"a native transfer in a host that is gone, after a page and a failure",
         {log_until(memxfer, 4), Host::gone, DAT_IMAGENATIVEXFER, 300 * kMs, 1, true}, "",
         {", gone without unloading", "Page 2    native transfer, for at least 300.0 ms",
          "In flight #5 DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET on thread 100 (scanapp), for at least",
          "Pages     1 done", "Failure   00002 DG_CONTROL/DAT_CAPABILITY/MSG_SET (ICAP_XRESOLUTION) at "},
         {"SLOW", "until now"}},
        {"a load unloaded cleanly, the second in its log",
         {log_until("DG_CONTROL/DAT_IDENTITY/MSG_CLOSEDS", 1), Host::unloaded, 0, 0, 2, false, 2}, "",
         {"(load 2)", ", unloaded at ", "In flight none (last: 00003 DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET",
          "Pages     2 done", "Page      none in transfer"},
         {"SLOW"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        write_load(dir.path, row.load);
        if (row.load.load_in_log > 1) write_load(dir.path, {row.load.log, Host::gone, DAT_IMAGEINFO, kMs});
        ProgramRun r = dir.watch(row.args);
        EXPECT_EQ(r.status, 0) << r.out;
        for (const std::string& s : row.shown) EXPECT_NE(r.out.find(s), std::string::npos) << s << "\n" << r.out;
        for (const std::string& s : row.not_shown) EXPECT_EQ(r.out.find(s), std::string::npos) << s << "\n" << r.out;
    }
}

// A folder without logs, a log without its record, a record that is not one.
TEST(Watch, SaysWhatItCannotRead) {
    TempDir dir;
    ProgramRun r = dir.watch();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("No trace log in "), std::string::npos) << r.out;
    std::ofstream(dir.path / kLogName, std::ios::binary) << log_until("DG_IMAGE/DAT_IMAGEINFO/MSG_GET", 1);
    r = dir.watch();
    EXPECT_NE(r.out.find(kLogName + ": no flight record beside it"), std::string::npos) << r.out;
    std::ofstream(dir.path / (kStem + ".calls"), std::ios::binary) << "TRCLFREC";
    r = dir.watch();
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("its flight record cannot be read"), std::string::npos) << r.out;
}
